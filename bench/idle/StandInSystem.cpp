// The system services a desktop's login start has and the idle bench's container has not: logind and
// NetworkManager, on the private bus the bench hands it, saying the computer is awake and online.
// Prints "ready" once both names are taken, then serves until it is ended.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {

class NetworkManager : public QDBusVirtualObject
{
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override
    {
        const QVariantMap properties{{QStringLiteral("State"), QVariant::fromValue(70u)},
            {QStringLiteral("Connectivity"), QVariant::fromValue(4u)},
            {QStringLiteral("Metered"), QVariant::fromValue(0u)},
            {QStringLiteral("PrimaryConnection"), QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))}};
        if (message.member() == QLatin1String("GetAll"))
            return bus.send(message.createReply(QVariant(properties)));
        if (message.member() == QLatin1String("Get"))
            return bus.send(message.createReply(QVariant::fromValue(
                QDBusVariant(properties.value(message.arguments().value(1).toString())))));
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    NetworkManager networkManager;
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/NetworkManager"), &networkManager)
        || !bus.registerService(QStringLiteral("org.freedesktop.NetworkManager"))
        || !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "stand-in system services: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
