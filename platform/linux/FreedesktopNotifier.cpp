#include "platform/linux/FreedesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interfaceName = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");
const QString openAction = QStringLiteral("open-folder");

// Let the server choose how long the notification stays.
constexpr int serverDefaultTimeout = -1;

} // namespace

FreedesktopNotifier::FreedesktopNotifier(QString iconName, QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_iconName(std::move(iconName))
    , m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(service, path, interfaceName, QStringLiteral("ActionInvoked"), this,
        SLOT(actionInvoked(uint, QString)));
    m_bus.connect(service, path, interfaceName, QStringLiteral("NotificationClosed"), this,
        SLOT(notificationClosed(uint, uint)));
}

QStringList FreedesktopNotifier::actionKeys()
{
    return {defaultAction, openAction};
}

void FreedesktopNotifier::notify(const Notification &notification, std::function<void()> onAction)
{
    if (!m_bus.isConnected()) {
        showByFallback(notification, std::move(onAction));
        return;
    }
    QDBusMessage call
        = QDBusMessage::createMethodCall(service, path, interfaceName, QStringLiteral("Notify"));
    // Both keys carry the label: some servers show only the default one, as a click on the body.
    const QStringList actions{defaultAction, notification.actionText, openAction, notification.actionText};
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QGuiApplication::desktopFileName());
    hints.insert(QStringLiteral("category"), QStringLiteral("transfer.complete"));
    call << QGuiApplication::applicationDisplayName() << uint(0) << m_iconName << notification.title
         << notificationMarkup(notification.body) << actions << hints << serverDefaultTimeout;

    // Asynchronous: a service that is started on demand, or one that hangs, must not stall the pass.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, notification, onAction = std::move(onAction)](QDBusPendingCallWatcher *finished) mutable {
            finished->deleteLater();
            const QDBusPendingReply<uint> reply = *finished;
            if (reply.isError()) {
                showByFallback(notification, std::move(onAction));
                return;
            }
            m_actions.insert(reply.value(), onAction);
        });
}

void FreedesktopNotifier::actionInvoked(uint id, const QString &actionKey)
{
    if (!actionKeys().contains(actionKey))
        return;
    // Taken out first: the action may show another notification.
    const std::function<void()> action = m_actions.take(id);
    if (action)
        action();
}

void FreedesktopNotifier::notificationClosed(uint id, uint)
{
    m_actions.remove(id);
}

void FreedesktopNotifier::showByFallback(const Notification &notification, std::function<void()> onAction)
{
    if (m_fallback)
        m_fallback->notify(notification, std::move(onAction));
}
