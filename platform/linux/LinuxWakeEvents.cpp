#include "platform/linux/LinuxWakeEvents.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString networkManager = QStringLiteral("org.freedesktop.NetworkManager");
const QString networkManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");

// NetworkManager's states as Qt's reachability names them; only "online" and "known" matter here.
QNetworkInformation::Reachability reachabilityOf(uint state)
{
    switch (state) {
    case 70: // connected to the internet
        return QNetworkInformation::Reachability::Online;
    case 60: // connected to the site only
        return QNetworkInformation::Reachability::Site;
    case 50: // connected to the local network only
        return QNetworkInformation::Reachability::Local;
    case 10: // asleep
    case 20: // disconnected
    case 30: // disconnecting
    case 40: // connecting
        return QNetworkInformation::Reachability::Disconnected;
    default:
        return QNetworkInformation::Reachability::Unknown;
    }
}

} // namespace

LinuxWakeEvents::LinuxWakeEvents(QDBusConnection bus, QObject *parent)
    : QObject(parent)
{
    // A missing bus is the normal case in containers and some sessions: no resume to report.
    if (bus.isConnected())
        bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
            SLOT(prepareForSleep(bool)));

    // Qt's reachability would do, but loading it loads every backend it has, GIO's among them: over a
    // MiB that a tray program then carries for as long as it runs. NetworkManager says the same over
    // the bus the program already holds.
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(networkManager))
        followNetworkManager(bus);
    else
        followReachability();
}

void LinuxWakeEvents::followNetworkManager(QDBusConnection &bus)
{
    bus.connect(networkManager, networkManagerPath, networkManager, QStringLiteral("StateChanged"), this,
        SLOT(networkManagerStateChanged(uint)));
    QDBusMessage stateNow = QDBusMessage::createMethodCall(networkManager, networkManagerPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    stateNow << networkManager << QStringLiteral("State");
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(stateNow), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        // A change that came first is newer than this answer.
        if (reply.isValid() && m_reachability == QNetworkInformation::Reachability::Unknown)
            m_reachability = reachabilityOf(reply.value().variant().toUInt());
    });
}

void LinuxWakeEvents::followReachability()
{
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    QNetworkInformation *network = QNetworkInformation::instance();
    m_reachability = network->reachability();
    connect(network, &QNetworkInformation::reachabilityChanged, this, &LinuxWakeEvents::reachabilityChanged);
}

void LinuxWakeEvents::prepareForSleep(bool goingToSleep)
{
    if (!goingToSleep)
        fire(Reason::Resumed);
}

void LinuxWakeEvents::networkManagerStateChanged(uint state)
{
    reachabilityChanged(reachabilityOf(state));
}

void LinuxWakeEvents::reachabilityChanged(QNetworkInformation::Reachability reachability)
{
    // From Unknown is the backend settling at start, not the network coming back.
    const bool returned = reachability == QNetworkInformation::Reachability::Online
        && m_reachability != QNetworkInformation::Reachability::Online
        && m_reachability != QNetworkInformation::Reachability::Unknown;
    m_reachability = reachability;
    if (returned)
        fire(Reason::NetworkReturned);
}

void LinuxWakeEvents::fire(Reason reason)
{
    if (m_handler)
        m_handler(reason);
}
