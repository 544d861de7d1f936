// The shell around the model: the tray menu, the application menu, and what closing the window does.

#include "platform/linux/LinuxApplicationHost.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ApplicationScene.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"
#include "ui/TrayMenu.h"

#include <QSystemTrayIcon>
#include <QTimer>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <gtest/gtest.h>

namespace {

class Scene : public ::testing::Test
{
protected:
    explicit Scene(bool configured = true)
        : f(configured)
    {
        scene = std::make_unique<ApplicationScene>(
            *f.model, ApplicationScene::Options{[] {}, [this] { return trayAvailable; }});
    }

    QAction *trayAction(const char *name)
    {
        return scene->trayMenu()->menu()->findChild<QAction *>(QString::fromLatin1(name));
    }

    UiFixture f;
    bool trayAvailable = true;
    std::unique_ptr<ApplicationScene> scene;
};

TEST_F(Scene, TrayFollowsTheProgressAndTheErrorOfThePass)
{
    TrayMenu *tray = scene->trayMenu();
    tray->show(); // as the scene does once a tray host is there
    Ui::reportDownloading(*f.model, 2, 5);
    EXPECT_EQ(trayAction("statusLine")->text(), QStringLiteral("2/5 evrak indiriliyor…"));
    EXPECT_EQ(tray->icon()->toolTip(), QStringLiteral("Tarvolin Masaüstü\n2/5 evrak indiriliyor…"));
    EXPECT_FALSE(tray->look().error);

    // The badge and the reason stay while the error stands, and go with it.
    Ui::setLastError(*f.model, QStringLiteral("Evrak indirilemedi."));
    EXPECT_TRUE(tray->look().error);
    EXPECT_TRUE(tray->icon()->toolTip().endsWith(QStringLiteral("\nEvrak indirilemedi.")));
    const QImage shown = tray->icon()->icon().pixmap(22).toImage();
    EXPECT_EQ(shown, TrayIcon::pixmap(tray->look(), 22).toImage());
    Ui::setLastError(*f.model, std::nullopt);
    EXPECT_FALSE(tray->look().error);
    EXPECT_EQ(tray->icon()->toolTip().count(QLatin1Char('\n')), 1);
}

TEST_F(Scene, TheUserSeesTheCountOnlyInTheActiveWindowWithTheCountInView)
{
    EXPECT_FALSE(Ui::countInView(*f.model));
    scene->openMainWindow();
    MainWindow *window = scene->mainWindow();
    ASSERT_TRUE(waitUntil([&] { return window->isActiveWindow(); }));
    EXPECT_TRUE(Ui::countInView(*f.model));

    window->showMinimized();
    QCoreApplication::processEvents();
    EXPECT_FALSE(Ui::countInView(*f.model));
    scene.reset();
    EXPECT_FALSE(Ui::countInView(*f.model)) << "a window that is gone sees nothing";
}

TEST_F(Scene, TrayMenuCommandsReachTheModelAndTheShell)
{
    EXPECT_FALSE(trayAction("statusLine")->isEnabled());

    trayAction("openWindow")->trigger();
    ASSERT_NE(scene->mainWindow(), nullptr);
    EXPECT_TRUE(scene->mainWindow()->isVisible());

    // The notification switch is the model's remembered setting, on until turned off.
    QAction *notifications = trayAction("showNotifications");
    EXPECT_TRUE(notifications->isCheckable() && notifications->isChecked());
    notifications->trigger();
    EXPECT_EQ(f.services.settings.values.value(QStringLiteral("notificationsEnabled")), QVariant(false));
    f.model->setNotificationsEnabled(true);
    EXPECT_TRUE(notifications->isChecked());

    // A pass against a refusing backend reports its failure; so does an update check the user asked for.
    trayAction("syncNow")->trigger();
    ASSERT_TRUE(waitUntil([&] { return f.model->lastError().has_value() && !f.model->isWorking(); }));
    auto *fromMenu = scene->mainWindow()->menuBar()->findChild<QAction *>(QStringLiteral("checkForUpdates"));
    for (QAction *command : {fromMenu, trayAction("checkForUpdates")}) {
        Ui::setLastError(*f.model, std::nullopt);
        command->trigger();
        ASSERT_TRUE(waitUntil([&] { return f.model->lastError().has_value(); }));
        EXPECT_TRUE(f.model->lastError()->startsWith(QStringLiteral("Güncelleme denetlenemedi: ")));
    }
}

TEST(SceneLifecycle, ClosingTheWindowLeavesTheRepeatingTaskRunning)
{
    UiFixture f(/*configured=*/true, /*startable=*/true);
    ApplicationScene scene(*f.model, ApplicationScene::Options{[] {}, [] { return true; }});
    scene.launch(false);
    // The start sequence fails against the refusing backend, runs its first pass and sleeps.
    ASSERT_TRUE(waitUntil([&] { return f.services.clock.sleeping == 1; }));
    EXPECT_TRUE(f.model->isRunning());

    scene.mainWindow()->close();
    EXPECT_FALSE(scene.mainWindow()->isVisible());
    EXPECT_TRUE(f.model->isRunning());
    f.services.clock.release();
    ASSERT_TRUE(
        waitUntil([&] { return f.services.clock.sleeps.size() == 2 && f.services.clock.sleeping == 1; }));

    // Back from the tray, the window shows the current state at once and the model is not restarted.
    Ui::setStatus(*f.model, QStringLiteral("Tüm evraklar indirildi"));
    scene.openMainWindow();
    EXPECT_TRUE(scene.mainWindow()->isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(f.services.clock.sleeps.size(), 2);
    EXPECT_EQ(f.model->status(), QStringLiteral("Tüm evraklar indirildi"));
}

TEST(SceneLifecycle, ALoginStartWorksWithoutAWindowAndTheTrayMayComeLate)
{
    UiFixture f(/*configured=*/true, /*startable=*/true);
    bool trayAvailable = false;
    ApplicationScene scene(*f.model,
        ApplicationScene::Options{[] {}, [&] { return trayAvailable; }, std::chrono::milliseconds(1)});
    scene.launch(/*background=*/true);
    // The model runs its passes with no window built, and nothing holds its notifications back.
    ASSERT_TRUE(waitUntil([&] { return f.services.clock.sleeping == 1; }));
    EXPECT_EQ(scene.mainWindow(), nullptr);
    EXPECT_FALSE(Ui::countInView(*f.model));
    EXPECT_FALSE(scene.trayMenu()->icon()->isVisible()) << "no tray host yet";
    EXPECT_TRUE(scene.trayMenu()->icon()->icon().isNull()) << "nothing drawn for a tray that is not there";

    trayAvailable = true;
    ASSERT_TRUE(waitUntil([&] { return scene.trayMenu()->icon()->isVisible(); }));
    EXPECT_EQ(scene.trayMenu()->icon()->icon().pixmap(22).toImage(),
        TrayIcon::pixmap(scene.trayMenu()->look(), 22).toImage());

    // The way back (tray, or a second launch) builds the window.
    scene.openMainWindow();
    ASSERT_NE(scene.mainWindow(), nullptr);
    EXPECT_TRUE(scene.mainWindow()->isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(f.services.clock.sleeps.size(), 1) << "showing the window does not start the model again";
}

TEST_F(Scene, AHiddenWindowComesBackForTheCloudSettingsAndWithoutATrayClosingOnlyMinimises)
{
    ASSERT_EQ(scene->mainWindow(), nullptr);
    f.model->setShowingCloudSettings(true);
    MainWindow *window = scene->mainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    f.model->setShowingCloudSettings(false);

    trayAvailable = false;
    window->close();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowState() & Qt::WindowMinimized);
    scene->openMainWindow();
    EXPECT_FALSE(window->windowState() & Qt::WindowMinimized);
}

// As users without a tray host have it: the window refuses its close, and still each way out (the
// window's menu, the tray menu, and the host's quit the update calls) ends the event loop.
TEST(SceneQuit, EveryWayOutEndsTheEventLoopWithoutATray)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    for (const QString &way :
        {QStringLiteral("applicationMenu"), QStringLiteral("trayMenu"), QStringLiteral("update")})
        for (const bool windowShown : {true, false}) {
            if (way == QStringLiteral("applicationMenu") && !windowShown)
                continue; // the window is built when first shown, and its menu with it
            SCOPED_TRACE(way.toStdString() + (windowShown ? " with the window shown" : " with no window"));
            UiFixture f(/*configured=*/true);
            LinuxApplicationHost host(QCoreApplication::applicationDirPath());
            ApplicationScene scene(*f.model, ApplicationScene::Options{[&host] { host.quit(); }, {}});
            if (windowShown) {
                scene.openMainWindow();
                scene.mainWindow()->close();
                ASSERT_TRUE(scene.mainWindow()->isVisible());
            }
            QAction *quit = nullptr;
            if (way == QStringLiteral("trayMenu"))
                quit = scene.trayMenu()->menu()->findChild<QAction *>(QStringLiteral("quit"));
            else if (way == QStringLiteral("applicationMenu"))
                quit = scene.mainWindow()->menuBar()->findChild<QMenu *>()->findChild<QAction *>(
                    QStringLiteral("quit"));
            QTimer::singleShot(0, [&] { quit ? quit->trigger() : host.quit(); });
            QTimer stuck; // only so that a failure does not hang the suite
            stuck.callOnTimeout([] { QCoreApplication::exit(1); });
            stuck.start(60000);
            EXPECT_EQ(QCoreApplication::exec(), 0);
        }
}

TEST_F(Scene, ALaterLaunchBringsTheWindowForwardUnlessItStartsInTheBackground)
{
    scene->takeLaunch({{QStringLiteral("--background")}, QStringLiteral("t1"), {}});
    EXPECT_EQ(scene->mainWindow(), nullptr);
    scene->takeLaunch({{QStringLiteral("--unknown")}, QStringLiteral("t2"), {}});
    ASSERT_NE(scene->mainWindow(), nullptr);
    EXPECT_TRUE(scene->mainWindow()->isVisible());
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "t2");
}

TEST_F(Scene, ADesktopTurningDarkRestylesTheOpenWindowAndKeepsItsSheet)
{
    scene->openMainWindow();
    MainWindow *window = scene->mainWindow();
    f.model->setShowingCloudSettings(true);
    ASSERT_TRUE(waitUntil([&] { return window->content()->cloudSettingsSheet() != nullptr; }));
    const QColor lightBackground = window->content()->palette().color(QPalette::Window);

    scene->setDarkLook(true);
    EXPECT_LT(window->content()->palette().color(QPalette::Window).lightness(), lightBackground.lightness());
    EXPECT_TRUE(waitUntil([&] { return window->content()->cloudSettingsSheet() != nullptr; }));
    EXPECT_TRUE(f.model->showingCloudSettings());
    scene->setDarkLook(false);
    EXPECT_EQ(window->content()->palette().color(QPalette::Window), lightBackground);
}

} // namespace
