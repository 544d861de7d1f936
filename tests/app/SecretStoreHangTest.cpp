// A secret store that takes the call and never answers must not hold the program: the wait ends
// at the time-out, the event loop keeps running meanwhile, and the child that asked is gone.
// Runs in a process of its own, since the session bus address is read once per process.

#include "platform/linux/ChildProcessSecretStore.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// Zombies included: a child killed but never waited for still shows here.
int childProcesses()
{
    int count = 0;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (stat.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
            count += fields.size() > 2 && fields[2].toInt() == getpid();
        }
    }
    return count;
}

TEST(SecretStoreHang, SilentBusEndsAtTheTimeOutWithoutBlocking)
{
    // A listening socket that never speaks: the bus handshake waits forever.
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("bus"));
    QLocalServer silentBus;
    ASSERT_TRUE(silentBus.listen(socket));
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket.toUtf8());

    ChildProcessSecretStore store(QStringLiteral(TARVOLIN_PROGRAM), std::chrono::milliseconds(1500));
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
    EXPECT_EQ(childProcesses(), 0);
}

} // namespace
