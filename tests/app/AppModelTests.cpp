// The model's construction, start sequence, repeating task and login switch.

#include "app/AppModel.h"
#include "tests/support/Fakes.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString validKey = QStringLiteral("sb_publishable_0123456789abcdefghijklmnopqrstuv");

// An address that refuses connections at once, so every network step fails fast and quietly.
const QString unreachable = QStringLiteral("https://127.0.0.1:9");

class AppModelTest : public ::testing::Test
{
protected:
    std::unique_ptr<AppModel> makeModel(BuildValues build = testBuildValues())
    {
        return std::make_unique<AppModel>(services.services(), std::move(build));
    }

    TestServices services;
};

TEST_F(AppModelTest, FailedFirstRegistrationIsTriedAgainAndSuccessIsNeverRepeated)
{
    services.loginItem.refuseRegister = true;
    auto first = makeModel();
    EXPECT_FALSE(first->launchAtLogin());
    EXPECT_FALSE(services.settings.values.contains(QStringLiteral("startupChoiceInitialized")));
    EXPECT_FALSE(first->lastError().has_value()) << "the first-launch registration fails silently";

    services.loginItem.refuseRegister = false;
    auto second = makeModel();
    EXPECT_EQ(services.loginItem.registerCalls, 2);
    EXPECT_TRUE(second->launchAtLogin());
    EXPECT_EQ(services.settings.values.value(QStringLiteral("startupChoiceInitialized")), QVariant(true));

    // The user switches it off; later launches respect that.
    second->setLaunchAtLogin(false);
    auto third = makeModel();
    EXPECT_EQ(services.loginItem.registerCalls, 2);
    EXPECT_FALSE(third->launchAtLogin());
}

TEST_F(AppModelTest, StoredValuesAreRestored)
{
    QTemporaryDir folder;
    services.settings.values.insert(QStringLiteral("manualCloudConfigurationEnabled"), true);
    services.settings.values.insert(QStringLiteral("startupChoiceInitialized"), true);
    services.settings.values.insert(
        QString::fromLatin1(AppModel::targetFolderBookmarkKey), folder.path().toUtf8());
    services.loginItem.enabled = true;

    auto model = makeModel();
    EXPECT_EQ(model->targetFolder().toLocalFile(), folder.path() + QLatin1Char('/'));
    EXPECT_EQ(services.loginItem.registerCalls, 0);
    EXPECT_TRUE(model->launchAtLogin());
}

TEST_F(AppModelTest, UnusableBookmarkKeepsTheDefaultFolderSilently)
{
    QTemporaryDir refusedFolder;
    services.bookmarks.refused.append(refusedFolder.path());
    // Gone, refused by the platform, and of the wrong type: none is a folder to save into.
    for (const QVariant &stored : {QVariant(QByteArray("/no/such/folder/anywhere")),
             QVariant(refusedFolder.path().toUtf8()), QVariant(42)}) {
        services.settings.values.insert(QString::fromLatin1(AppModel::targetFolderBookmarkKey), stored);
        auto model = makeModel();
        EXPECT_EQ(model->targetFolder().toLocalFile(),
            QDir::homePath() + QStringLiteral("/Desktop/ROVEZADU/Gider/"));
        EXPECT_FALSE(model->lastError().has_value());
    }
}

TEST_F(AppModelTest, LaunchAtLoginFollowsTheRealStateWhenRefused)
{
    services.settings.values.insert(QStringLiteral("startupChoiceInitialized"), true);
    auto model = makeModel();

    services.loginItem.refuseRegister = true;
    model->setLaunchAtLogin(true);
    EXPECT_FALSE(model->launchAtLogin());
    EXPECT_EQ(
        model->lastError(), QStringLiteral("Otomatik başlatma değiştirilemedi: Oturum öğesi reddedildi."));

    // A successful change keeps an earlier error on screen.
    services.loginItem.refuseRegister = false;
    model->setLaunchAtLogin(true);
    EXPECT_TRUE(model->launchAtLogin());
    EXPECT_TRUE(model->lastError().has_value());

    // Removal refused while still registered: the switch stays on.
    services.loginItem.refuseUnregister = true;
    model->setLaunchAtLogin(false);
    EXPECT_TRUE(model->launchAtLogin());
    EXPECT_EQ(
        model->lastError(), QStringLiteral("Otomatik başlatma değiştirilemedi: Oturum öğesi kaldırılamadı."));
}

// --- Start sequence and repeating task ----------------------------------------------------------

TEST_F(AppModelTest, WithoutUsableSettingsTheSheetOpensAndNoLoopRuns)
{
    auto model = makeModel(testBuildValues(QString(), QString(), unreachable));
    model->start();
    ASSERT_TRUE(waitUntil([&] { return model->showingCloudSettings(); }, 20000));
    EXPECT_EQ(model->status(), QStringLiteral("Bulut ayarları bekleniyor"));
    EXPECT_TRUE(services.clock.sleeps.isEmpty());
}

TEST_F(AppModelTest, StartRunsOnceAndStopEndsTheLoopDuringItsSleep)
{
    auto model = makeModel(testBuildValues(unreachable, validKey, unreachable));
    QSignalSpy sleepStarted(&services.clock, &FakeClock::sleepStarted);

    model->start();
    model->start();
    ASSERT_TRUE(waitUntil([&] { return sleepStarted.count() >= 1; }, 20000));
    EXPECT_EQ(services.clock.sleeping, 1) << "a second start must not launch a second task";
    EXPECT_EQ(services.clock.sleeps.front(), std::chrono::milliseconds(20000));
    EXPECT_TRUE(model->isRunning());

    // One more cycle, then cancel during the sleep.
    services.clock.release();
    ASSERT_TRUE(waitUntil([&] { return sleepStarted.count() >= 2; }, 20000));
    EXPECT_EQ(services.clock.sleeping, 1);

    model->stop();
    EXPECT_FALSE(model->isRunning());
    ASSERT_TRUE(waitUntil([&] { return services.clock.sleeping == 0; }));
    // Give a stray pass every chance to show itself.
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(services.clock.sleeps.size(), 2);
    EXPECT_EQ(sleepStarted.count(), 2);

    model->start();
    waitUntil([] { return false; }, 300);
    EXPECT_FALSE(model->isRunning()) << "a stopped model cannot be started again";
    EXPECT_EQ(services.clock.sleeps.size(), 2);
}

TEST_F(AppModelTest, UpdateCheckRunsOnlyWhenTheLastIsOverSixHoursOld)
{
    auto model = makeModel(testBuildValues(unreachable, validKey, unreachable));
    QSignalSpy sleepStarted(&services.clock, &FakeClock::sleepStarted);
    const QString key = QStringLiteral("lastUpdateCheck");
    const auto checks = [&] { return services.settings.writes.count(key); };

    model->start();
    ASSERT_TRUE(waitUntil([&] { return sleepStarted.count() >= 1; }, 20000));
    const int afterStart = checks();
    EXPECT_GE(afterStart, 1) << "one check at start";

    // Exactly six hours before the next cycle's clock reading: no check.
    services.settings.values.insert(key, services.clock.current.addSecs(20 - 21600));
    services.clock.release();
    ASSERT_TRUE(waitUntil([&] { return sleepStarted.count() >= 2; }, 20000));
    EXPECT_EQ(checks(), afterStart);

    // One second older: the check runs.
    services.settings.values.insert(key, services.clock.current.addSecs(20 - 21601));
    services.clock.release();
    ASSERT_TRUE(waitUntil([&] { return sleepStarted.count() >= 3; }, 20000));
    EXPECT_EQ(checks(), afterStart + 1);

    // A value that is not a date counts as the distant past.
    services.settings.values.insert(key, QStringLiteral("dün"));
    services.clock.release();
    ASSERT_TRUE(waitUntil([&] { return sleepStarted.count() >= 4; }, 20000));
    EXPECT_EQ(checks(), afterStart + 2);

    model->stop();
}

TEST_F(AppModelTest, ModelDestroyedDuringTheSleepEndsTheTask)
{
    auto model = makeModel(testBuildValues(unreachable, validKey, unreachable));
    QSignalSpy sleepStarted(&services.clock, &FakeClock::sleepStarted);
    model->start();
    ASSERT_TRUE(waitUntil([&] { return sleepStarted.count() >= 1; }, 20000));
    model.reset();
    ASSERT_TRUE(waitUntil([&] { return services.clock.sleeping == 0; }));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(services.clock.sleeps.size(), 1);
}

} // namespace
