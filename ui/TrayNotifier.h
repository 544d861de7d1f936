#pragma once

#include "platform/Notifier.h"

#include <QObject>
#include <QPointer>

class QSystemTrayIcon;

// Notifications as the tray icon's own message, for desktops without a notification service. A
// click on the message runs the action of the last one shown.
class TrayNotifier : public QObject, public Notifier
{
    Q_OBJECT
public:
    explicit TrayNotifier(QSystemTrayIcon &icon, QObject *parent = nullptr);

    void notify(const Notification &notification, std::function<void()> onAction) override;

private:
    QPointer<QSystemTrayIcon> m_icon;
    std::function<void()> m_lastAction;
};
