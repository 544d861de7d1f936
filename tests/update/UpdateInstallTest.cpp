#include "tests/update/UpdateTestSupport.h"

#include "update/SwapScript.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

const QString notSecure = QStringLiteral("Güncelleme paketi güvenli değil.");
const QString unverified = QStringLiteral("Güncelleme paketi doğrulanamadı.");
const QString incomplete = QStringLiteral("Güncelleme paketi eksik.");

int downloads(UpdateFixture &f)
{
    return int(f.requests().filter(QStringLiteral("/downloads/")).size());
}

// Nothing was handed over, the running program was left alone and no download or staging remains.
void expectNothingLeft(const UpdateFixture &f)
{
    EXPECT_TRUE(f.services.application.started.isEmpty());
    EXPECT_EQ(f.services.application.quitCalls, 0);
    EXPECT_NE(f.model->updateStatus(), QStringLiteral("Güncelleme kuruluyor…"));
    EXPECT_EQ(readFile(f.installed + QStringLiteral("/Contents/version")), QByteArrayLiteral("1.1.2\n"));
    EXPECT_TRUE(QDir(f.temporary).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST(UpdateInstall, VerifiedArchiveIsStagedAndHandedToTheSwapScript)
{
    UpdateFixture f;
    QList<RawEntry> entries = bundleEntries("#!/bin/sh\necho new\n");
    entries.append({"Tarvolin.app/Contents/MacOS/current", 0120777, "Tarvolin"});
    const QByteArray archive = rawZip(entries);
    DesktopUpdateManifest manifest = f.publish(archive);
    // The other installs here offer the lower-case digest.
    manifest.macUniversalSha256 = manifest.macUniversalSha256.toUpper();

    ASSERT_EQ(f.install(manifest), std::nullopt);

    ASSERT_EQ(f.services.application.started.size(), 1);
    const auto &[program, arguments] = f.services.application.started.first();
    EXPECT_EQ(program, QStringLiteral("/bin/sh"));
    ASSERT_EQ(arguments.size(), 5);
    const QString script = arguments[0];
    EXPECT_EQ(QFileInfo(script).path(), f.temporary);
    EXPECT_EQ(readFile(script), swapScriptText());
    struct stat info {
    };
    ASSERT_EQ(::stat(QFile::encodeName(script).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(arguments[1], QStringLiteral("4242"));
    EXPECT_EQ(arguments[3], f.installed);

    const QStringList work = workFolders(f.temporary);
    ASSERT_EQ(work.size(), 1);
    const QString workFolder = QFileInfo(f.temporary + QLatin1Char('/') + work[0]).canonicalFilePath();
    EXPECT_EQ(arguments[2], workFolder + QStringLiteral("/stage/Tarvolin.app"));
    EXPECT_EQ(readFile(workFolder + QStringLiteral("/update.zip")), archive);
    EXPECT_TRUE(QFileInfo(arguments[2] + QStringLiteral("/Contents/MacOS/Tarvolin")).isExecutable());
    EXPECT_EQ(QFileInfo(arguments[2] + QStringLiteral("/Contents/MacOS/current")).symLinkTarget(),
        arguments[2] + QStringLiteral("/Contents/MacOS/Tarvolin"));
    // The download went into the working folder whole; no partial file remains beside it.
    EXPECT_EQ(
        QDir(f.temporary).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(script).fileName()});
}

TEST(UpdateInstall, RefusedOffersFetchNothingUnsafeAndLeaveNothingBehind)
{
    UpdateFixture f;
    const DesktopUpdateManifest good = f.publish(rawZip(bundleEntries("#!/bin/sh\n")));
    const QString digest = good.macUniversalSha256;
    auto at = [&](QString url) { return DesktopUpdateManifest{good.version, std::move(url), digest}; };
    auto digested = [&](QString sha) {
        return DesktopUpdateManifest{good.version, good.macUniversalUrl, std::move(sha)};
    };
    // Sparse: served as zeros without taking the room.
    const QString huge
        = QString::fromStdString(f.cloud.dataDir()) + QStringLiteral("/site-overlay/downloads/huge.zip");
    QDir().mkpath(QFileInfo(huge).path());
    QFile hugeFile(huge);
    ASSERT_TRUE(hugeFile.open(QIODevice::WriteOnly) && hugeFile.resize((qint64(512) << 20) + 1));
    hugeFile.close();
    // A development build runs from a build tree: replacing "its folder" would replace that tree. The
    // host names no folder at all outside Tarvolin.app; a wrong one must be refused all the same.
    const QString buildTree = f.temp.filePath(QStringLiteral("build"));
    QDir().mkpath(buildTree);
    const QString notSelf = QStringLiteral("Bu kurulum kendiliğinden güncellenemez.");

    struct Row {
        DesktopUpdateManifest manifest;
        QString expected;
        bool fetched;
        QString bundle;
    };
    const QList<Row> rows = {
        {at(QString(good.macUniversalUrl).replace(QStringLiteral("https:"), QStringLiteral("http:"))),
            notSecure, false, f.installed},
        {at(QString(good.macUniversalUrl).replace(QStringLiteral("https:"), QStringLiteral("HTTPS:"))),
            notSecure, false, f.installed},
        {at(QStringLiteral("https://")), notSecure, false, f.installed},
        {at(QStringLiteral("Tarvolin.zip")), notSecure, false, f.installed},
        {digested(digest.left(63)), notSecure, false, f.installed},
        {good, notSelf, false, QString()},
        {good, notSelf, false, buildTree},
        {digested(sha256Hex("something else")), unverified, true, f.installed},
        {at(f.site + QStringLiteral("/downloads/gone.zip")), QStringLiteral("Güncelleme indirilemedi."), true,
            f.installed},
        {{good.version, f.site + QStringLiteral("/downloads/huge.zip"), QString(64, QLatin1Char('0'))},
            QStringLiteral("Güncelleme paketi çok büyük."), true, f.installed},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE((row.manifest.macUniversalUrl + u' ' + row.manifest.macUniversalSha256).toStdString());
        f.services.application.bundle = row.bundle;
        const int before = downloads(f);
        EXPECT_EQ(f.install(row.manifest), row.expected);
        EXPECT_EQ(downloads(f) > before, row.fetched);
        expectNothingLeft(f);
    }
}

TEST(UpdateInstall, UnsafeOrIncompleteArchivesAreRefusedAfterUnpacking)
{
    const QByteArray program = "#!/bin/sh\n";
    QList<RawEntry> noProgram = bundleEntries(program);
    noProgram.removeAt(3);
    QList<RawEntry> programIsFolder = bundleEntries(program);
    programIsFolder[3] = {"Tarvolin.app/Contents/MacOS/Tarvolin/", 040755};
    const QString unreadable = QStringLiteral("Güncelleme paketi açılamadı.");

    struct Row {
        const char *name;
        QByteArray archive;
        QString expected;
    };
    const QList<Row> rows = {
        // Every hostile shape has its row in the unpacker's own table; a corrupt one stands for them here.
        {"corrupt", QByteArrayLiteral("PK\x03\x04 this is not really a zip archive"), unreadable},
        {"misnamed top folder", rawZip(bundleEntries(program, "Tarvolin 2.app")), incomplete},
        {"no program", rawZip(noProgram), incomplete},
        {"program is a folder", rawZip(programIsFolder), incomplete},
        {"another version inside", rawZip(bundleEntries(program, "Tarvolin.app", "1.3.0")),
            QStringLiteral("Güncelleme paketinin sürümü uyuşmuyor.")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        UpdateFixture f;
        EXPECT_EQ(f.install(f.publish(row.archive)), row.expected);
        expectNothingLeft(f);
    }
}

TEST(UpdateInstall, AFolderThatCannotBeReplacedIsToldBeforeAnythingIsFetched)
{
    for (const bool pinParent : {true, false}) {
        SCOPED_TRACE(pinParent ? "the folder above the installation" : "the installed folder itself");
        UpdateFixture f;
        f.publish(rawZip(bundleEntries("#!/bin/sh\n")));
        const PinnedFolder pin(pinParent ? QFileInfo(f.installed).path() : f.installed);
        if (!pin.pinned)
            GTEST_SKIP() << "the file system cannot pin a folder";

        QCoro::waitFor(f.model->checkForUpdates(true));

        EXPECT_EQ(f.model->updateStatus(),
            QStringLiteral("Güncelleme kurulamıyor: uygulama klasörü değiştirilemiyor."));
        EXPECT_EQ(f.requests(), QStringList{QStringLiteral("/updates/macos.json")});
        expectNothingLeft(f);
    }
}

TEST(UpdateInstall, AVersionThatFailedIsNotTriedAgainForADay)
{
    const QString notAgain = QStringLiteral("Tarvolin 1.2.0 kurulamadı; bir gün sonra yeniden denenecek.");

    // Refused after its download: the archive holds another version than the manifest names.
    UpdateFixture f;
    f.publish(rawZip(bundleEntries("#!/bin/sh\n", "Tarvolin.app", "1.1.9")));
    QCoro::waitFor(f.model->checkForUpdates(false));
    EXPECT_EQ(f.model->lastError(),
        QStringLiteral("Güncelleme denetlenemedi: Güncelleme paketinin sürümü uyuşmuyor."));
    QCoro::waitFor(f.model->checkForUpdates(true));
    EXPECT_EQ(f.model->updateStatus(), notAgain);
    EXPECT_EQ(downloads(f), 1);
    f.services.clock.current = f.services.clock.current.addSecs(24 * 3600);
    QCoro::waitFor(f.model->checkForUpdates(true));
    EXPECT_EQ(downloads(f), 2);

    // Handed over, and this same version runs again afterwards: the swap did not take.
    UpdateFixture g;
    g.publish(rawZip(bundleEntries("#!/bin/sh\n")));
    QCoro::waitFor(g.model->checkForUpdates(true));
    ASSERT_EQ(g.services.application.started.size(), 1);
    g.model = std::make_unique<AppModel>(g.services.services(), testBuildValues({}, {}, g.site));
    QCoro::waitFor(g.model->checkForUpdates(true));
    EXPECT_EQ(g.model->updateStatus(), notAgain);
    EXPECT_EQ(g.services.application.started.size(), 1);
}

TEST(UpdateInstall, AStartAfterASwapConfirmsItOrFinishesWhatItLeft)
{
    // The swap script waits for this start: the real script, the program's own confirmation.
    {
        UpdateFixture f;
        const QString work = f.temporary + QStringLiteral("/Tarvolin-Update-LIVE");
        QDir().mkpath(work + QStringLiteral("/stage"));
        const QString log = f.temp.filePath(QStringLiteral("started"));
        const QString staged = makeBundle(work + QStringLiteral("/stage"), QStringLiteral("1.2.0\n"),
            "#!/bin/sh\necho $$ >> '" + QFile::encodeName(log) + "'\nexec /bin/sleep 60\n");
        const QString script = f.temp.filePath(QStringLiteral("swap.sh"));
        writeFile(script, swapScriptText());
        QProcess swap;
        swap.start(QStringLiteral("/bin/sh"), {script, QStringLiteral("999999999"), staged, f.installed});
        ASSERT_TRUE(waitUntil([&] { return !readFile(log).isEmpty(); }, 20000)); // the new program runs

        f.model->finishEarlierUpdate();

        ASSERT_TRUE(swap.waitForFinished(20000));
        EXPECT_EQ(swap.exitCode(), 0);
        EXPECT_EQ(readFile(f.installed + QStringLiteral("/Contents/version")), QByteArrayLiteral("1.2.0\n"));
        EXPECT_FALSE(QFileInfo::exists(f.installed + QStringLiteral(".old")));
        EXPECT_FALSE(QFileInfo::exists(work));
        ::kill(pid_t(readFile(log).trimmed().toLongLong()), SIGKILL);
    }
    // The script was killed after the swap: the next start removes what it left.
    {
        UpdateFixture f;
        makeBundle(f.installed + QStringLiteral(".old"), QStringLiteral("1.1.1\n"));
        QDir().mkpath(f.installed + QStringLiteral(".new/Contents"));
        QDir().mkpath(f.temporary + QStringLiteral("/Tarvolin-Update-STALE/stage"));
        f.model->finishEarlierUpdate();
        EXPECT_FALSE(QFileInfo::exists(f.installed + QStringLiteral(".old")));
        EXPECT_FALSE(QFileInfo::exists(f.installed + QStringLiteral(".new")));
        EXPECT_TRUE(workFolders(f.temporary).isEmpty());
        EXPECT_EQ(readFile(f.installed + QStringLiteral("/Contents/version")), QByteArrayLiteral("1.1.2\n"));
    }
    // Killed between its two moves, and the kept folder started by hand: it goes back in place.
    {
        UpdateFixture f;
        ASSERT_TRUE(QDir().rename(f.installed, f.installed + QStringLiteral(".old")));
        f.services.application.bundle.clear();
        f.services.application.program = f.installed + QStringLiteral(".old/Contents/MacOS");
        f.model->finishEarlierUpdate();
        EXPECT_EQ(readFile(f.installed + QStringLiteral("/Contents/version")), QByteArrayLiteral("1.1.2\n"));
        EXPECT_FALSE(QFileInfo::exists(f.installed + QStringLiteral(".old")));
    }
}

TEST(UpdateInstall, PackagingScriptProducesAnArchiveAndManifestTheUpdaterAccepts)
{
    if (QProcess::execute(
            QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("command -v zip >/dev/null")})
        != 0)
        GTEST_SKIP() << "the zip command is not installed (tools/install-deps.sh installs it)";

    UpdateFixture f;
    const QString release = f.temp.filePath(QStringLiteral("release"));
    QDir().mkpath(release);
    const QString bundle = makeBundle(release, QStringLiteral("1.3.0\n"), "#!/bin/sh\necho new\n");
    QFile::link(QStringLiteral("Tarvolin"), bundle + QStringLiteral("/Contents/MacOS/current"));
    const QString out = f.temp.filePath(QStringLiteral("out"));

    QProcess packer;
    packer.start(QStringLiteral("bash"),
        {QStringLiteral(TARVOLIN_SOURCE_DIR "/tools/package/make-update.sh"), bundle, out,
            f.site + QStringLiteral("/downloads/")});
    ASSERT_TRUE(packer.waitForFinished(30000));
    ASSERT_EQ(packer.exitCode(), 0) << packer.readAllStandardError().toStdString();

    const QByteArray manifestJson = readFile(out + QStringLiteral("/macos.json"));
    const auto manifest = DesktopUpdateManifest::fromJson(manifestJson);
    ASSERT_TRUE(manifest.has_value()) << manifestJson.toStdString();
    EXPECT_EQ(manifest->version, QStringLiteral("1.3.0"));
    EXPECT_EQ(manifest->macUniversalUrl, f.site + QStringLiteral("/downloads/Tarvolin-1.3.0.zip"));
    f.put(QStringLiteral("/downloads/Tarvolin-1.3.0.zip"),
        readFile(out + QStringLiteral("/Tarvolin-1.3.0.zip")));
    f.put(QStringLiteral("/updates/macos.json"), manifestJson);

    QCoro::waitFor(f.model->checkForUpdates(false));

    EXPECT_EQ(f.model->lastError(), std::nullopt);
    ASSERT_EQ(f.services.application.started.size(), 1);
    const QString staged = f.services.application.started.first().second[2];
    EXPECT_EQ(readFile(staged + QStringLiteral("/Contents/version")), QByteArrayLiteral("1.3.0\n"));
    EXPECT_TRUE(QFileInfo(staged + QStringLiteral("/Contents/MacOS/current")).isSymLink());
    EXPECT_TRUE(QFileInfo(staged + QStringLiteral("/Contents/MacOS/Tarvolin")).isExecutable());
}

} // namespace
