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
const QString unreadable = QStringLiteral("Güncelleme paketi açılamadı.");
const QString incomplete = QStringLiteral("Güncelleme paketi eksik.");

// Nothing was handed over and the running program was left alone.
void expectNotHandedOver(const UpdateFixture &f)
{
    EXPECT_TRUE(f.services.application.started.isEmpty());
    EXPECT_EQ(f.services.application.quitCalls, 0);
    EXPECT_NE(f.model->updateStatus(), QStringLiteral("Güncelleme kuruluyor…"));
    EXPECT_EQ(readFile(f.installed + QStringLiteral("/Contents/version")), QByteArrayLiteral("1.1.2\n"));
}

TEST(UpdateInstall, VerifiedArchiveIsStagedAndHandedToTheSwapScript)
{
    for (const bool upperCaseDigest : {false, true}) {
        SCOPED_TRACE(upperCaseDigest ? "upper-case digest" : "lower-case digest");
        UpdateFixture f;
        QList<ZipEntry> entries = bundleEntries("#!/bin/sh\necho new\n");
        entries.append({QStringLiteral("Tarvolin.app/Contents/MacOS/current"), ZipEntry::Symlink, "Tarvolin"});
        const QByteArray archive = makeZip(entries);
        DesktopUpdateManifest manifest = f.publish(archive);
        if (upperCaseDigest)
            manifest.macUniversalSha256 = manifest.macUniversalSha256.toUpper();

        ASSERT_EQ(f.install(manifest), std::nullopt);

        ASSERT_EQ(f.services.application.started.size(), 1);
        const auto &[program, arguments] = f.services.application.started.first();
        EXPECT_EQ(program, QStringLiteral("/bin/sh"));
        ASSERT_EQ(arguments.size(), 5);

        const QString script = arguments[0];
        EXPECT_EQ(QFileInfo(script).path(), f.temporary);
        EXPECT_EQ(readFile(script), swapScriptText());
        struct stat info {};
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
        EXPECT_EQ(QDir(f.temporary).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(script).fileName()});
    }
}

TEST(UpdateInstall, UnsafeManifestIsRefusedBeforeAnyDownload)
{
    UpdateFixture f;
    const DesktopUpdateManifest good = f.publish(makeZip(bundleEntries("#!/bin/sh\n")));
    QString httpAddress = good.macUniversalUrl;
    httpAddress.replace(QStringLiteral("https:"), QStringLiteral("http:"));
    QString upperScheme = good.macUniversalUrl;
    upperScheme.replace(QStringLiteral("https:"), QStringLiteral("HTTPS:"));

    const QList<DesktopUpdateManifest> manifests = {
        {good.version, httpAddress, good.macUniversalSha256},
        {good.version, upperScheme, good.macUniversalSha256},
        {good.version, QStringLiteral("https://"), good.macUniversalSha256},
        {good.version, QStringLiteral("Tarvolin.zip"), good.macUniversalSha256},
        {good.version, good.macUniversalUrl, good.macUniversalSha256.left(63)},
        {good.version, good.macUniversalUrl, good.macUniversalSha256 + QLatin1Char('0')},
        {good.version, good.macUniversalUrl, QString()},
    };
    for (const DesktopUpdateManifest &manifest : manifests) {
        SCOPED_TRACE(manifest.macUniversalUrl.toStdString() + " " + manifest.macUniversalSha256.toStdString());
        EXPECT_EQ(f.install(manifest), notSecure);
    }
    EXPECT_TRUE(f.requests().filter(QStringLiteral("/downloads/")).isEmpty());
    EXPECT_TRUE(QDir(f.temporary).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    expectNotHandedOver(f);
}

TEST(UpdateInstall, ArchiveThatFailsDownloadOrVerificationLeavesNothingBehind)
{
    UpdateFixture f;
    const DesktopUpdateManifest good = f.publish(makeZip(bundleEntries("#!/bin/sh\n")));

    DesktopUpdateManifest nonHex = good;
    nonHex.macUniversalSha256 = QString(64, QLatin1Char('g'));
    EXPECT_EQ(f.install(nonHex), QStringLiteral("Güncelleme paketi doğrulanamadı."));

    DesktopUpdateManifest otherDigest = good;
    otherDigest.macUniversalSha256 = sha256Hex("something else");
    EXPECT_EQ(f.install(otherDigest), QStringLiteral("Güncelleme paketi doğrulanamadı."));

    DesktopUpdateManifest missing = good;
    missing.macUniversalUrl = f.site + QStringLiteral("/downloads/gone.zip");
    EXPECT_EQ(f.install(missing), QStringLiteral("Güncelleme indirilemedi."));

    EXPECT_TRUE(QDir(f.temporary).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    expectNotHandedOver(f);
}

TEST(UpdateInstall, UnsafeOrIncompleteArchivesAreRefusedAfterUnpacking)
{
    const QByteArray program = "#!/bin/sh\n";
    auto with = [&](QList<ZipEntry> extra) {
        QList<ZipEntry> entries = bundleEntries(program);
        entries.append(extra);
        return makeZip(entries);
    };
    QList<ZipEntry> noProgram = bundleEntries(program);
    noProgram.removeAt(3);
    QList<ZipEntry> programIsFolder = bundleEntries(program);
    programIsFolder[3] = {QStringLiteral("Tarvolin.app/Contents/MacOS/Tarvolin/"), ZipEntry::Folder, {}, 0755};

    struct Row {
        const char *name;
        QByteArray archive;
        QString expected;
    };
    const QList<Row> rows = {
        // Every hostile shape has its row in the unpacker's own table; one is enough for the install's side.
        {"corrupt", QByteArrayLiteral("PK\x03\x04 this is not really a zip archive"), unreadable},
        {"dot-dot entry", with({{QStringLiteral("../escaped"), ZipEntry::File, "x"}}), unreadable},
        {"misnamed top folder", makeZip(bundleEntries(program, QStringLiteral("Tarvolin 2.app"))), incomplete},
        {"no program", makeZip(noProgram), incomplete},
        {"program is a folder", makeZip(programIsFolder), incomplete},
        {"empty archive", makeZip({}), incomplete},
        {"another version inside", makeZip(bundleEntries(program, QStringLiteral("Tarvolin.app"), "1.3.0")),
         QStringLiteral("Güncelleme paketinin sürümü uyuşmuyor.")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        UpdateFixture f;
        const DesktopUpdateManifest manifest = f.publish(row.archive);

        EXPECT_EQ(f.install(manifest), row.expected);

        EXPECT_TRUE(QDir(f.temporary).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        expectNotHandedOver(f);
    }
}

TEST(UpdateInstall, ProgramRunningOutsideAnApplicationFolderIsNeverSwapped)
{
    UpdateFixture f;
    const DesktopUpdateManifest manifest = f.publish(makeZip(bundleEntries("#!/bin/sh\n")));
    // A development build runs from a build tree: replacing "its folder" would replace that tree. The
    // host names no folder at all outside Tarvolin.app; a wrong one must be refused all the same.
    const QString buildTree = f.temp.filePath(QStringLiteral("build"));
    QDir().mkpath(buildTree);
    for (const QString &bundle : {QString(), buildTree}) {
        f.services.application.bundle = bundle;
        EXPECT_EQ(f.install(manifest), QStringLiteral("Bu kurulum kendiliğinden güncellenemez."));
    }
    EXPECT_TRUE(f.requests().filter(QStringLiteral("/downloads/")).isEmpty());
    EXPECT_TRUE(f.services.application.started.isEmpty());
}

TEST(UpdateInstall, AFolderThatCannotBeReplacedIsToldBeforeAnythingIsFetched)
{
    for (const bool pinParent : {true, false}) {
        SCOPED_TRACE(pinParent ? "the folder above the installation" : "the installed folder itself");
        UpdateFixture f;
        f.publish(makeZip(bundleEntries("#!/bin/sh\n")));
        const PinnedFolder pin(pinParent ? QFileInfo(f.installed).path() : f.installed);
        if (!pin.pinned)
            GTEST_SKIP() << "the file system cannot pin a folder";

        QCoro::waitFor(f.model->checkForUpdates(true));

        EXPECT_EQ(f.model->updateStatus(), QStringLiteral("Güncelleme kurulamıyor: uygulama klasörü değiştirilemiyor."));
        EXPECT_EQ(f.requests(), QStringList{QStringLiteral("/updates/macos.json")});
        EXPECT_TRUE(QDir(f.temporary).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        EXPECT_TRUE(f.services.application.started.isEmpty());
    }
}

TEST(UpdateInstall, AVersionThatFailedIsNotTriedAgainForADay)
{
    const QString notAgain = QStringLiteral("Tarvolin 1.2.0 kurulamadı; bir gün sonra yeniden denenecek.");
    auto downloads = [](UpdateFixture &f) { return f.requests().filter(QStringLiteral("/downloads/")).size(); };

    // Refused after its download: the archive holds another version than the manifest names.
    UpdateFixture f;
    f.publish(makeZip(bundleEntries("#!/bin/sh\n", QStringLiteral("Tarvolin.app"), "1.1.9")));
    QCoro::waitFor(f.model->checkForUpdates(false));
    EXPECT_EQ(f.model->lastError(), QStringLiteral("Güncelleme denetlenemedi: Güncelleme paketinin sürümü uyuşmuyor."));
    QCoro::waitFor(f.model->checkForUpdates(true));
    EXPECT_EQ(f.model->updateStatus(), notAgain);
    EXPECT_EQ(downloads(f), 1);
    f.services.clock.current = f.services.clock.current.addSecs(24 * 3600);
    QCoro::waitFor(f.model->checkForUpdates(true));
    EXPECT_EQ(downloads(f), 2);

    // Handed over, and this same version runs again afterwards: the swap did not take.
    UpdateFixture g;
    g.publish(makeZip(bundleEntries("#!/bin/sh\n")));
    QCoro::waitFor(g.model->checkForUpdates(true));
    ASSERT_EQ(g.services.application.started.size(), 1);
    g.model = std::make_unique<AppModel>(g.services.services(), testBuildValues({}, {}, g.site));
    QCoro::waitFor(g.model->checkForUpdates(true));
    EXPECT_EQ(g.model->updateStatus(), notAgain);
    EXPECT_EQ(g.services.application.started.size(), 1);
}

TEST(UpdateInstall, AnArchiveBeyondTheCapIsStoppedWhileArriving)
{
    UpdateFixture f;
    // Sparse: served as zeros without taking the room.
    const QString path = QString::fromStdString(f.cloud.dataDir()) + QStringLiteral("/site-overlay/downloads/huge.zip");
    QDir().mkpath(QFileInfo(path).path());
    QFile huge(path);
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize((qint64(512) << 20) + 1));
    huge.close();
    const DesktopUpdateManifest manifest{QStringLiteral("1.2.0"), f.site + QStringLiteral("/downloads/huge.zip"),
                                         QString(64, QLatin1Char('0'))};

    EXPECT_EQ(f.install(manifest), QStringLiteral("Güncelleme paketi çok büyük."));
    EXPECT_TRUE(QDir(f.temporary).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    expectNotHandedOver(f);
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
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(swapScriptText()) > 0);
        file.close();
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
    if (QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("command -v zip >/dev/null")}) != 0)
        GTEST_SKIP() << "the zip command is not installed (tools/install-deps.sh installs it)";

    UpdateFixture f;
    const QString release = f.temp.filePath(QStringLiteral("release"));
    QDir().mkpath(release);
    const QString bundle = makeBundle(release, QStringLiteral("1.3.0\n"), "#!/bin/sh\necho new\n");
    QFile::link(QStringLiteral("Tarvolin"), bundle + QStringLiteral("/Contents/MacOS/current"));
    const QString out = f.temp.filePath(QStringLiteral("out"));

    QProcess packer;
    packer.start(QStringLiteral("bash"), {QStringLiteral(TARVOLIN_SOURCE_DIR "/tools/package/make-update.sh"), bundle,
                                          out, f.site + QStringLiteral("/downloads/")});
    ASSERT_TRUE(packer.waitForFinished(30000));
    ASSERT_EQ(packer.exitCode(), 0) << packer.readAllStandardError().toStdString();

    const QByteArray manifestJson = readFile(out + QStringLiteral("/macos.json"));
    const auto manifest = DesktopUpdateManifest::fromJson(manifestJson);
    ASSERT_TRUE(manifest.has_value()) << manifestJson.toStdString();
    EXPECT_EQ(manifest->version, QStringLiteral("1.3.0"));
    EXPECT_EQ(manifest->macUniversalUrl, f.site + QStringLiteral("/downloads/Tarvolin-1.3.0.zip"));
    f.put(QStringLiteral("/downloads/Tarvolin-1.3.0.zip"), readFile(out + QStringLiteral("/Tarvolin-1.3.0.zip")));
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
