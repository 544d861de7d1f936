#include "ui/TrayNotifier.h"

#include <QSystemTrayIcon>

TrayNotifier::TrayNotifier(QSystemTrayIcon &icon, QObject *parent)
    : QObject(parent)
    , m_icon(&icon)
{
    connect(&icon, &QSystemTrayIcon::messageClicked, this, [this] {
        if (const std::function<void()> action = std::exchange(m_lastAction, {}))
            action();
    });
}

void TrayNotifier::notify(const Notification &notification, std::function<void()> onAction)
{
    // A hidden icon has nowhere to show its message.
    if (!m_icon || !m_icon->isVisible())
        return;
    m_lastAction = std::move(onAction);
    // Qt hands the message on to the desktop's notification server where there is one.
    m_icon->showMessage(notification.title, notificationMarkup(notification.body), m_icon->icon());
}
