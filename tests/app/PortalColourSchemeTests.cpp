// The desktop's dark preference read from a stand-in settings portal on the test's own session bus.

#include "platform/linux/PortalColourScheme.h"
#include "tests/support/Fakes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
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

TEST(PortalColourScheme, ReadsDarkFollowsChangesAndIsSilentWithoutAPortal)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    PortalColourScheme scheme;
    EXPECT_EQ(scheme.prefersDark(), std::nullopt);

    QDBusConnection portalBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"));
    QThread thread;
    FakePortal portal;
    portal.moveToThread(&thread);
    thread.start();
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    ASSERT_TRUE(portalBus.registerObject(path, &portal, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    EXPECT_EQ(scheme.prefersDark(), std::optional<bool>(true));

    // Another key of the group, then the user's switch to light.
    QSignalSpy changed(&scheme, &PortalColourScheme::changed);
    for (const char *key : {"accent-color", "color-scheme"}) {
        QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.Settings"),
                                                         QStringLiteral("SettingChanged"));
        signal << QStringLiteral("org.freedesktop.appearance") << QString::fromLatin1(key)
               << QVariant::fromValue(QDBusVariant(QVariant::fromValue(2u)));
        portalBus.send(signal);
    }
    EXPECT_TRUE(waitUntil([&] { return !changed.isEmpty(); }));
    ASSERT_EQ(changed.size(), 1);
    EXPECT_FALSE(changed.first().first().toBool());

    portalBus.unregisterObject(path);
    portalBus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    EXPECT_EQ(scheme.prefersDark(), std::nullopt);
    thread.quit();
    thread.wait();
}

} // namespace

#include "PortalColourSchemeTests.moc"
