#pragma once

#include <QObject>

#include <functional>

class AppModel;
class QAction;
class QMenu;
class QSystemTrayIcon;

// The permanent menu in the desktop's tray: the status line, opening the window, a pass now, an
// update check and quitting. It stays for the life of the process, window or not.
class TrayMenu : public QObject
{
    Q_OBJECT
public:
    TrayMenu(AppModel &model, std::function<void()> openWindow, std::function<void()> quit,
             QObject *parent = nullptr);
    ~TrayMenu() override;

    QMenu *menu() const { return m_menu; }
    QSystemTrayIcon *icon() const { return m_icon; }

private:
    AppModel &m_model;
    QMenu *m_menu;
    QAction *m_statusLine;
    QSystemTrayIcon *m_icon;
};
