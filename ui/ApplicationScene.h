#pragma once

#include "platform/InstanceGuard.h"

#include <QObject>

#include <functional>
#include <memory>

class AppModel;
class MainWindow;
class TrayMenu;

// The program's outer shell: the main window and the tray menu around the one model, which outlives
// every window.
class ApplicationScene : public QObject
{
    Q_OBJECT
public:
    struct Options {
        std::function<void()> quit;            // default: leave the event loop, whatever the windows say
        std::function<bool()> trayAvailable;   // default: ask the desktop
    };

    ApplicationScene(AppModel &model, Options options = {}, QObject *parent = nullptr);
    ~ApplicationScene() override;

    MainWindow *mainWindow() const { return m_window.get(); }
    TrayMenu *trayMenu() const { return m_tray.get(); }

    // Opens the window at launch and puts the icon in the tray (when the desktop has one).
    void show();
    // Brings the window back, from the tray or the task bar.
    void openMainWindow();
    // A later launch of the program, handed over by it: brings the window forward, unless it asked
    // to start in the background ("--background"). Other arguments are ignored.
    void takeLaunch(const InstanceGuard::Launch &launch);

private:
    AppModel &m_model;
    Options m_options;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<TrayMenu> m_tray;
};
