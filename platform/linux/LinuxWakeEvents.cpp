#include "platform/linux/LinuxWakeEvents.h"

LinuxWakeEvents::LinuxWakeEvents(QDBusConnection bus, QObject *parent)
    : QObject(parent)
{
    // A missing bus is the normal case in containers and some sessions: nothing to report.
    if (bus.isConnected())
        bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
            SLOT(prepareForSleep(bool)));

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
