#include "tests/update/UpdateTestSupport.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

const QString manifestPath = QStringLiteral("/updates/macos.json");
const QString lastCheckKey = QStringLiteral("lastUpdateCheck");

void check(UpdateFixture &f, bool silent)
{
    QCoro::waitFor(f.model->checkForUpdates(silent));
}

TEST(UpdateCheck, StoreAndPackageInstallationsLeaveUpdatesToWhoeverInstalledThem)
{
    for (const bool store : {true, false}) {
        for (const bool silent : {false, true}) {
            SCOPED_TRACE(
                testing::Message() << (store ? "store" : "package") << (silent ? ", silent" : ", loud"));
            UpdateFixture f;
            // Newer than what runs: only the owner's marker stands between it and an install.
            f.publish(rawZip(bundleEntries("#!/bin/sh\n")), QStringLiteral("9.0"));
            if (store) {
                writeFile(f.installed + QStringLiteral("/Contents/_MASReceipt/receipt"), {});
            } else {
                // As the package lays it out: no application folder, the marker beside the program.
                f.services.application.bundle.clear();
                f.services.application.program = f.temp.filePath(QStringLiteral("usr/lib/tarvolin"));
                writeFile(f.services.application.program + QStringLiteral("/package-managed"), {});
            }
            EXPECT_EQ(f.model->isAppStoreBuild(), store);

            check(f, silent);

            EXPECT_EQ(f.model->updateStatus(),
                store ? QStringLiteral("Güncellemeler Mac App Store tarafından otomatik yüklenir")
                      : QStringLiteral("Güncellemeler paket yöneticisi tarafından yüklenir"));
            EXPECT_FALSE(f.services.settings.writes.contains(lastCheckKey));
            EXPECT_TRUE(f.requests().isEmpty());
            EXPECT_TRUE(f.services.application.started.isEmpty());
            EXPECT_EQ(f.model->lastError(), std::nullopt);
            if (store && !silent)
                EXPECT_EQ(f.services.workspace.opened,
                    QList<QUrl>{QUrl(QStringLiteral("https://store.example/tarvolin"))});
            else
                EXPECT_TRUE(f.services.workspace.opened.isEmpty());
        }
    }
}

TEST(UpdateCheck, UpToDateShowsTheInstalledVersionAndRecordsTheCheck)
{
    UpdateFixture f;
    f.services.clock.current = QDateTime(QDate(2026, 5, 4), QTime(10, 30), Qt::UTC);
    f.publish(rawZip(bundleEntries("#!/bin/sh\n")), QStringLiteral("1.1.2"));

    check(f, false);

    EXPECT_EQ(f.model->updateStatus(), QStringLiteral("Tarvolin güncel · 1.1.2"));
    EXPECT_EQ(f.services.settings.values.value(lastCheckKey).toDateTime(), f.services.clock.current);
    EXPECT_EQ(f.model->lastError(), std::nullopt);
    EXPECT_EQ(f.requests(), QStringList{manifestPath}); // a lower or equal offer is never fetched

    // An older offer is no reason to go back; a folder without a version counts as the built one.
    QFile::remove(f.installed + QStringLiteral("/Contents/version"));
    f.publish(rawZip(bundleEntries("#!/bin/sh\n")), QStringLiteral("1.0.9"));
    check(f, false);
    EXPECT_EQ(
        f.model->updateStatus(), QStringLiteral("Tarvolin güncel · ") + BuildValues::compiledIn().version);
    EXPECT_TRUE(f.services.application.started.isEmpty());
}

TEST(UpdateCheck, LoudFailuresShowTheirReasonAndSilentOnesNothing)
{
    const QString invalid = QStringLiteral("Sunucudan geçersiz yanıt alındı.");
    // How each malformed manifest reads is the manifest fuzz corpus's business; one stands for them here.
    const QList<std::tuple<int, QByteArray, QString>> rows = {
        {404, "{}", invalid},
        {200, R"({"version":"9.0","macUniversalUrl":"https://127.0.0.1/x.zip"})",
            QStringLiteral("Güncelleme bilgisi doğru biçimde olmadığından okunamadı.")},
    };
    for (const auto &[status, body, reason] : rows) {
        for (const bool silent : {false, true}) {
            SCOPED_TRACE(testing::Message() << status << (silent ? " (silent)" : " (loud)"));
            UpdateFixture f;
            LocalCloud::Fault failing;
            failing.path = manifestPath.toStdString();
            failing.status = status;
            status == 200 ? f.put(manifestPath, body) : f.cloud.injectFault(failing);
            const QString statusBefore = f.model->updateStatus();
            QSignalSpy errorChanges(f.model.get(), &AppModel::lastErrorChanged);

            check(f, silent);

            EXPECT_EQ(f.services.settings.values.value(lastCheckKey).toDateTime(), f.services.clock.current);
            EXPECT_EQ(f.model->updateStatus(), statusBefore);
            EXPECT_EQ(f.requests(), QStringList{manifestPath}); // nothing downloaded
            EXPECT_EQ(f.model->lastError(),
                silent ? std::nullopt : std::optional(QStringLiteral("Güncelleme denetlenemedi: ") + reason));
            EXPECT_EQ(errorChanges.count(), silent ? 0 : 1);
        }
    }
}

TEST(UpdateCheck, NewerVersionIsInstalledAndAnOverlappingCheckDoesNotDownloadAgain)
{
    UpdateFixture f;
    const QByteArray archive = rawZip(bundleEntries("#!/bin/sh\n", "Tarvolin.app", "1.1.10"));
    const DesktopUpdateManifest manifest = f.publish(archive, QStringLiteral("1.1.10"));
    const QString archivePath = QUrl(manifest.macUniversalUrl).path();
    LocalCloud::Fault slow; // slow enough for a second check to arrive meanwhile
    slow.kind = LocalCloud::FaultKind::Delay;
    slow.path = archivePath.toStdString();
    slow.delayMs = 600;
    f.cloud.injectFault(slow);

    auto first = f.model->checkForUpdates(true);
    ASSERT_TRUE(waitUntil([&] { return f.requests().contains(archivePath); }));
    EXPECT_EQ(f.model->updateStatus(), QStringLiteral("Tarvolin 1.1.10 indiriliyor…"));

    check(f, false); // returns at once while the first one is downloading
    QCoro::waitFor(std::move(first));

    EXPECT_EQ(f.requests(), (QStringList{manifestPath, archivePath}));
    EXPECT_EQ(f.services.application.started.size(), 1);
    EXPECT_EQ(f.services.application.quitCalls, 1);
    EXPECT_EQ(f.model->updateStatus(), QStringLiteral("Güncelleme kuruluyor…"));
    EXPECT_EQ(f.model->lastError(), std::nullopt);
}

} // namespace
