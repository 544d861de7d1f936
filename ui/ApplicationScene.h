#pragma once

#include "platform/InstanceGuard.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

class AppModel;
class MainWindow;
class TrayMenu;

// Outside the class so that its defaults can serve as a default argument there.
struct ApplicationSceneOptions {
    std::function<void()> quit; // default: leave the event loop, whatever the windows say
    std::function<bool()> trayAvailable; // default: ask the desktop
    // A panel that starts after the program still gets the icon: asked again this often, for this
    // long after the launch.
    std::chrono::milliseconds trayRetry{2000};
    std::chrono::milliseconds trayPatience{60000};
};

// The program's outer shell: the main window and the tray menu around the one model, which outlives
// every window. The window is built the first time it is wanted, so a start at login that never
// opens it costs neither its memory nor its drawing.
class ApplicationScene : public QObject
{
    Q_OBJECT
public:
    using Options = ApplicationSceneOptions;

    ApplicationScene(AppModel &model, Options options = {}, QObject *parent = nullptr);
    ~ApplicationScene() override;

    // The window; null until it is first shown.
    MainWindow *mainWindow() const { return m_window.get(); }
    TrayMenu *trayMenu() const { return m_tray.get(); }

    // Starts the model and puts the icon in the tray as soon as the desktop has one. Opens the
    // window too, unless `background`: a start at login works without showing anything.
    void launch(bool background);
    // Brings the window forward, building it first if need be: from the tray, the task bar or a
    // second launch of the program.
    void openMainWindow();
    // A later launch of the program, handed over by it: brings the window forward, unless it asked
    // to start in the background ("--background"). Other arguments are ignored.
    void takeLaunch(const InstanceGuard::Launch &launch);
    // The desktop changed between light and dark: the window, if built, takes the new look.
    void setDarkLook(bool dark);

private:
    void showTrayIconWhenAvailable();

    AppModel &m_model;
    Options m_options;
    std::unique_ptr<TrayMenu> m_tray;
    std::unique_ptr<MainWindow> m_window;
    QTimer m_trayWatch;
    int m_trayChecksLeft = 0;
};
