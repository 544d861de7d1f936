#pragma once

#include "ui/TrayIcon.h"

#include <QObject>

#include <functional>
#include <optional>

class AppModel;
class QAction;
class QMenu;
class QSystemTrayIcon;

// The permanent menu in the desktop's tray: the status line, opening the window, a pass now, an
// update check, the notification switch and quitting. It stays for the life of the process, window
// or not. The icon's tooltip follows the status line, and the icon shows a badge while an error
// stands.
class TrayMenu : public QObject
{
    Q_OBJECT
public:
    struct Options {
        std::function<QPalette()> palette; // default: the application's
        std::function<QString()> currentDesktop; // default: XDG_CURRENT_DESKTOP
    };

    TrayMenu(AppModel &model, std::function<void()> openWindow, std::function<void()> quit,
        Options options = {}, QObject *parent = nullptr);
    ~TrayMenu() override;

    // The icon's menu, built the first time it is asked for (at the latest when the icon is shown).
    QMenu *menu();
    QSystemTrayIcon *icon() const { return m_icon; }
    // The look the icon has, or will have once it is shown.
    TrayIcon::Look look() const { return m_look.value_or(TrayIcon::Look{}); }
    // Puts the icon in the tray, drawn in its current look.
    void show();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    void drawIcon();

    AppModel &m_model;
    std::function<void()> m_openWindow;
    std::function<void()> m_quit;
    Options m_options;
    QMenu *m_menu = nullptr;
    QAction *m_statusLine = nullptr;
    QAction *m_notifications = nullptr;
    QSystemTrayIcon *m_icon;
    std::optional<TrayIcon::Look> m_look; // set by the first refresh, in the constructor
    // Nothing until the icon is shown: drawing it pulls in the painting code and its buffers, which
    // with no tray host to show it (the usual case on some desktops) would be carried for nothing.
    std::optional<TrayIcon::Look> m_drawnLook;
};
