#pragma once

#include "platform/WakeEvents.h"

#include <QDBusConnection>
#include <QNetworkInformation>
#include <QObject>

// Resumes as logind announces them on the system bus (PrepareForSleep with false), and the network
// as NetworkManager reports it connected to the internet again. Where NetworkManager is not on the bus,
// Qt's reachability backend stands in for it. Without a system bus, logind or either source the
// corresponding moment just never comes.
class LinuxWakeEvents : public QObject, public WakeEvents
{
    Q_OBJECT
public:
    // The bus is the system bus unless a test hands over its own.
    explicit LinuxWakeEvents(QDBusConnection bus = QDBusConnection::systemBus(), QObject *parent = nullptr);

    void setHandler(std::function<void(Reason)> handler) override { m_handler = std::move(handler); }

private Q_SLOTS:
    void prepareForSleep(bool goingToSleep);
    void networkManagerStateChanged(uint state);

private:
    void followNetworkManager(QDBusConnection &bus);
    void followReachability();
    void reachabilityChanged(QNetworkInformation::Reachability reachability);
    void fire(Reason reason);

    std::function<void(Reason)> m_handler;
    QNetworkInformation::Reachability m_reachability = QNetworkInformation::Reachability::Unknown;
};
