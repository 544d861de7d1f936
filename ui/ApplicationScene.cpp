#include "ui/ApplicationScene.h"

#include "app/AppModel.h"
#include "ui/MainWindow.h"
#include "ui/TrayMenu.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>

ApplicationScene::ApplicationScene(AppModel &model, Options options, QObject *parent)
    : QObject(parent), m_model(model), m_options(std::move(options))
{
    if (!m_options.quit)
        m_options.quit = [] { QCoreApplication::exit(0); }; // quit() gives up when a window refuses
    if (!m_options.trayAvailable)
        m_options.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    m_window = std::make_unique<MainWindow>(
        model, MainWindow::Hooks{m_options.quit, [this] { return m_options.trayAvailable() && m_tray; }});
    m_tray = std::make_unique<TrayMenu>(
        model, [this] { openMainWindow(); }, m_options.quit);
}

ApplicationScene::~ApplicationScene() = default;

void ApplicationScene::show()
{
    m_tray->icon()->show();
    m_window->show();
}

void ApplicationScene::openMainWindow()
{
    m_window->bringForward();
}

void ApplicationScene::takeLaunch(const InstanceGuard::Launch &launch)
{
    // A quiet start (at login, say) finding the program running leaves everything as it is.
    if (launch.arguments.contains(QStringLiteral("--background")))
        return;
    // The compositor lets a window come forward only with the token of the launch that asked for it;
    // the platform takes it from the environment when the window asks to be activated.
    if (!launch.activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", launch.activationToken.toUtf8());
    if (!launch.startupId.isEmpty())
        qputenv("DESKTOP_STARTUP_ID", launch.startupId.toUtf8());
    openMainWindow();
}
