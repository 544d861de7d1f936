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
        m_options.quit = [] { QCoreApplication::quit(); };
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
