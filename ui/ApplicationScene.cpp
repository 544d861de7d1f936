#include "ui/ApplicationScene.h"

#include "app/AppModel.h"
#include "ui/MainWindow.h"
#include "ui/Theme.h"
#include "ui/TrayMenu.h"

#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

ApplicationScene::ApplicationScene(AppModel &model, Options options, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_options(std::move(options))
{
    if (!m_options.quit)
        m_options.quit = [] { QCoreApplication::exit(0); }; // quit() gives up when a window refuses
    if (!m_options.trayAvailable)
        m_options.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    m_options.trayRetry = std::max(m_options.trayRetry, std::chrono::milliseconds(1));

    m_tray = std::make_unique<TrayMenu>(
        model, [this] { openMainWindow(); }, m_options.quit);

    // The model may ask for the cloud settings before anyone opened the window: the sheet needs one.
    // (Once the window exists it answers such requests itself.)
    connect(&model, &AppModel::showingCloudSettingsChanged, this, [this] {
        if (m_model.showingCloudSettings() && !m_window)
            openMainWindow();
    });

    connect(&m_trayWatch, &QTimer::timeout, this, [this] {
        if (--m_trayChecksLeft <= 0)
            m_trayWatch.stop();
        showTrayIconWhenAvailable();
    });
}

ApplicationScene::~ApplicationScene() = default;

void ApplicationScene::launch(bool background)
{
    m_trayChecksLeft = int(m_options.trayPatience / m_options.trayRetry);
    showTrayIconWhenAvailable();
    if (!m_tray->icon()->isVisible() && m_trayChecksLeft > 0)
        m_trayWatch.start(m_options.trayRetry);
    if (!background)
        openMainWindow();
    // Queued as the window's own start is, so that a folder chooser never runs inside the launch.
    QTimer::singleShot(0, &m_model, [model = &m_model] { model->start(); });
}

void ApplicationScene::showTrayIconWhenAvailable()
{
    if (m_tray->icon()->isVisible() || !m_options.trayAvailable())
        return;
    m_trayWatch.stop();
    m_tray->show();
}

void ApplicationScene::setDarkLook(bool dark)
{
    if (dark == Theme::isDark())
        return;
    Theme::setDark(dark);
    if (m_window)
        m_window->rebuildContent();
}

void ApplicationScene::openMainWindow()
{
    if (!m_window) {
        // Loaded with the window: the tray draws its own icon, and the picture costs memory.
        if (QApplication::windowIcon().isNull())
            QApplication::setWindowIcon(QIcon::fromTheme(
                QStringLiteral("tarvolin"), QIcon(QStringLiteral(":/tarvolin/tarvolin.svg"))));
        // The window may hide into the tray only while an icon there can bring it back.
        m_window = std::make_unique<MainWindow>(m_model,
            MainWindow::Hooks{
                m_options.quit, [this] { return m_tray->icon()->isVisible() && m_options.trayAvailable(); }});
    }
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
