#pragma once

#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QPointer>

// Notifications through the desktop's notification service on the session bus. Where the bus or
// the service is missing, or the service refuses, the fallback shows the notification instead.
class FreedesktopNotifier : public QObject, public Notifier
{
    Q_OBJECT
public:
    // `iconName` is the program's icon in the icon theme; the bus is the session bus unless a test
    // hands over its own.
    explicit FreedesktopNotifier(
        QString iconName, QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Shows what the service cannot; may be set after construction, null shows nothing.
    void setFallback(Notifier *fallback) { m_fallback = fallback; }

    void notify(const Notification &notification, std::function<void()> onAction) override;

    // The action keys sent with every notification: the body's click and the labelled button.
    static QStringList actionKeys();

private Q_SLOTS:
    void actionInvoked(uint id, const QString &actionKey);
    void notificationClosed(uint id, uint reason);

private:
    void showByFallback(const Notification &notification, std::function<void()> onAction);

    QString m_iconName;
    QDBusConnection m_bus;
    Notifier *m_fallback = nullptr;
    QHash<uint, std::function<void()>> m_actions; // open notifications by the service's id
};
