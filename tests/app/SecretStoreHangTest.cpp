// A secret store that takes the call and never answers must not hold the program: the wait ends
// at the time-out, and the event loop keeps running meanwhile. Runs in a process of its own, since
// the session bus address is read once per process.

#include "platform/linux/QtKeychainSecretStore.h"

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TEST(SecretStoreHang, SilentBusEndsAtTheTimeOutWithoutBlocking)
{
    // A listening socket that never speaks: the bus handshake waits forever.
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("bus"));
    QLocalServer silentBus;
    ASSERT_TRUE(silentBus.listen(socket));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket.toUtf8());

    QtKeychainSecretStore store(std::chrono::milliseconds(1500));
    int ticks = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] { ++ticks; });
    heartbeat.start(100);

    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(
        QCoro::waitFor(store.load(QStringLiteral("com.kavrendal.giderler"), QStringLiteral("cloud-session"))),
        std::nullopt);
    QCoro::waitFor(
        store.save(QStringLiteral("com.kavrendal.giderler"), QStringLiteral("cloud-session"), "{}"));
    EXPECT_LT(elapsed.elapsed(), 10000);
    EXPECT_GE(ticks, 10) << "the event loop stood still while the store hung";
}

} // namespace
