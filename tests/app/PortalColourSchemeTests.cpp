// The desktop's dark preference read from a stand-in settings portal on the test's own session bus.

#include "platform/linux/PortalColourScheme.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// Lives in a thread of its own: the reader waits for the answer without running an event loop.
class FakePortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public Q_SLOTS:
    QDBusVariant ReadOne(const QString &group, const QString &key)
    {
        if (group != QStringLiteral("org.freedesktop.appearance") || key != QStringLiteral("color-scheme"))
            return QDBusVariant(QString());
        return QDBusVariant(QVariant::fromValue(1u));
    }
};

TEST(PortalColourScheme, ReadsDarkAndIsSilentWithoutAPortal)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    EXPECT_EQ(PortalColourScheme().prefersDark(), std::nullopt);

    QDBusConnection portalBus
        = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"));
    QThread thread;
    FakePortal portal;
    portal.moveToThread(&thread);
    thread.start();
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    ASSERT_TRUE(portalBus.registerObject(path, &portal, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    PortalColourScheme scheme;
    EXPECT_EQ(scheme.prefersDark(), std::optional<bool>(true));

    // A switch while the program runs reaches the window.
    std::optional<bool> followed;
    QObject::connect(&scheme, &PortalColourScheme::changed, [&](bool dark) { followed = dark; });
    QDBusMessage changed = QDBusMessage::createSignal(
        path, QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"));
    changed << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
            << QVariant::fromValue(QDBusVariant(QVariant::fromValue(2u)));
    ASSERT_TRUE(portalBus.send(changed));
    QDeadlineTimer deadline(10000);
    while (!followed && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(followed, std::optional<bool>(false));

    portalBus.unregisterObject(path);
    portalBus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    EXPECT_EQ(scheme.prefersDark(), std::nullopt);
    thread.quit();
    thread.wait();
}

} // namespace

#include "PortalColourSchemeTests.moc"
