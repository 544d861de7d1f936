// Notifications over a private session bus (dbus-run-session starts one for this program, so the
// user's desktop never sees them), with a small stand-in for the desktop's notification service, and
// the fallback where no service answers.

#include "platform/linux/DesktopWorkspace.h"
#include "platform/linux/FreedesktopNotifier.h"
#include "tests/support/Fakes.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <gtest/gtest.h>

namespace {

// Records every Notify call and answers with increasing ids, as a notification server does.
class FakeNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString icon, summary, body;
        QStringList actions;
        QVariantMap hints;
    };

    explicit FakeNotificationServer(QDBusConnection bus)
        : m_bus(std::move(bus))
    {
    }

    // Emits a signal of the service, as the server does when the user acts.
    void emitSignal(const QString &name, const QVariantList &arguments)
    {
        QDBusMessage message = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), name);
        message.setArguments(arguments);
        m_bus.send(message);
    }

    QList<Call> calls;

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &icon, const QString &summary, const QString &body,
        const QStringList &actions, const QVariantMap &hints, int)
    {
        calls.append({icon, summary, body, actions, hints});
        return uint(100 + calls.size());
    }

private:
    QDBusConnection m_bus;
};

// Counts the service's NotificationClosed signals as any program on the bus sees them.
class ClosedProbe : public QObject
{
    Q_OBJECT
public:
    explicit ClosedProbe(QDBusConnection bus)
    {
        bus.connect(QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("NotificationClosed"), this, SLOT(closed(uint, uint)));
    }
    int count = 0;
public Q_SLOTS:
    void closed(uint, uint) { ++count; }
};

class FreedesktopNotifierTest : public ::testing::Test
{
protected:
    // One bus serves the whole program: each test starts where no earlier one's names are left.
    void SetUp() override
    {
        ASSERT_TRUE(clientConnection.isConnected()) << "run under dbus-run-session";
        ASSERT_TRUE(waitUntil([&] {
            return !clientConnection.interface()->isServiceRegistered(
                       QStringLiteral("org.freedesktop.Notifications"))
                && !clientConnection.interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.FileManager1"));
        }));
    }
    ~FreedesktopNotifierTest() override
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    // Puts the stand-in service on the bus under its well-known name.
    void startServer()
    {
        server = std::make_unique<FakeNotificationServer>(serviceConnection);
        ASSERT_TRUE(serviceConnection.registerObject(
            QStringLiteral("/org/freedesktop/Notifications"), server.get(), QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(serviceConnection.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }

    const Notification arrival{QStringLiteral("2 evrak indirildi"), QStringLiteral("fiş.pdf ve 1 evrak daha"),
        QStringLiteral("Klasörü Aç")};
    QDBusConnection serviceConnection
        = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("service"));
    QDBusConnection clientConnection
        = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
    std::unique_ptr<FakeNotificationServer> server;
    FakeNotifier fallback;
};

TEST_F(FreedesktopNotifierTest, TheServiceGetsTheTextAndTheActionAndReportsItsUse)
{
    startServer();
    FreedesktopNotifier notifier(QStringLiteral("tarvolin"), clientConnection);
    ClosedProbe probe(clientConnection);
    notifier.setFallback(&fallback);
    int opened = 0;
    notifier.notify(arrival, [&] { ++opened; });
    // Servers read bodies as markup; a saved name is text.
    Notification named = arrival;
    named.body = QStringLiteral("<b>fiş</b> & <img src=x>.pdf");
    notifier.notify(named, [&] { opened += 10; });
    ASSERT_TRUE(waitUntil([&] { return server->calls.size() == 2; }));
    const FakeNotificationServer::Call &call = server->calls[0];
    EXPECT_EQ(call.summary, arrival.title);
    EXPECT_EQ(call.body, arrival.body);
    EXPECT_EQ(server->calls[1].body, QStringLiteral("&lt;b&gt;fiş&lt;/b&gt; &amp; &lt;img src=x&gt;.pdf"));
    EXPECT_EQ(call.icon, QStringLiteral("tarvolin"));
    EXPECT_EQ(call.actions,
        QStringList({QStringLiteral("default"), QStringLiteral("Klasörü Aç"), QStringLiteral("open-folder"),
            QStringLiteral("Klasörü Aç")}));
    EXPECT_TRUE(call.hints.contains(QStringLiteral("desktop-entry")));
    EXPECT_TRUE(fallback.shown.isEmpty());

    // Signals for another id or another program's action key change nothing; the own key acts once.
    server->emitSignal(QStringLiteral("ActionInvoked"), {uint(999), QStringLiteral("open-folder")});
    server->emitSignal(QStringLiteral("ActionInvoked"), {uint(101), QStringLiteral("reply")});
    server->emitSignal(QStringLiteral("ActionInvoked"), {uint(101), QStringLiteral("open-folder")});
    server->emitSignal(QStringLiteral("ActionInvoked"), {uint(101), QStringLiteral("default")});
    ASSERT_TRUE(waitUntil([&] { return opened == 1; }));

    // A notification the user dismissed has no action left.
    server->emitSignal(QStringLiteral("NotificationClosed"), {uint(102), uint(2)});
    server->emitSignal(QStringLiteral("ActionInvoked"), {uint(102), QStringLiteral("default")});
    // Signals arrive in order: once the probe saw a later one, the notifier has seen them all.
    server->emitSignal(QStringLiteral("NotificationClosed"), {uint(101), uint(2)});
    ASSERT_TRUE(waitUntil([&] { return probe.count == 2; }));
    EXPECT_EQ(opened, 1);
}

TEST_F(FreedesktopNotifierTest, WithoutAServiceTheFallbackShowsIt)
{
    FreedesktopNotifier notifier(QStringLiteral("tarvolin"), clientConnection);
    notifier.setFallback(&fallback);
    int opened = 0;
    notifier.notify(arrival, [&] { ++opened; });
    ASSERT_TRUE(waitUntil([&] { return fallback.shown.size() == 1; }));
    EXPECT_EQ(fallback.shown[0].title, arrival.title);
    fallback.actions[0]();
    EXPECT_EQ(opened, 1);
}

// Records ShowItems as a file manager on the bus would receive it.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &) { shown.append(uris); }
};

// Stands in for the desktop's handler of file links, so the fallback opens nothing for real.
class OpenedUrls : public QObject
{
    Q_OBJECT
public:
    OpenedUrls() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

TEST_F(FreedesktopNotifierTest, AFileIsShownByTheFileManagerOrElseItsFolderIsOpened)
{
    // A name that a careless link would cut at "#" or decode at "%".
    const QString file = QStringLiteral("/home/ayşe/Gider/fiş #2 %41.pdf");
    OpenedUrls opened;
    DesktopWorkspace absent(clientConnection);
    absent.showFile(file);
    ASSERT_TRUE(waitUntil([&] { return opened.urls.size() == 1; }));
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile(QStringLiteral("/home/ayşe/Gider")));

    FakeFileManager manager;
    ASSERT_TRUE(serviceConnection.registerObject(
        QStringLiteral("/org/freedesktop/FileManager1"), &manager, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serviceConnection.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    DesktopWorkspace present(clientConnection);
    present.showFile(file);
    ASSERT_TRUE(waitUntil([&] { return manager.shown.size() == 1; }));
    ASSERT_EQ(manager.shown[0].size(), 1);
    const QUrl uri(manager.shown[0][0], QUrl::StrictMode);
    EXPECT_EQ(uri.scheme(), QStringLiteral("file"));
    EXPECT_EQ(uri.toLocalFile(), file);
    QCoreApplication::processEvents();
    EXPECT_EQ(opened.urls.size(), 1) << "no folder besides the file manager's window";
}

} // namespace

#include "NotifierTests.moc"
