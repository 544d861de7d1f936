// Catching up at a resume and at the network's return: logind and NetworkManager (stand-ins on a
// private system bus) say the computer woke or is online again, and a document queued meanwhile is
// fetched at once, not at the next poll or push.

#include "platform/linux/LinuxWakeEvents.h"
#include "tests/transfer/WireSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>

#include <iostream>

namespace {

using State = RealtimeChannel::State;

// logind and NetworkManager, as far as the program listens to them: the signal before and after each
// sleep, and the network's state as it changes. Their names are taken before the program looks.
class StandInSystem
{
public:
    StandInSystem()
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("stand-in")))
    {
        claimed = m_bus.registerService(QStringLiteral("org.freedesktop.login1"))
            && m_bus.registerService(QStringLiteral("org.freedesktop.NetworkManager"));
    }
    ~StandInSystem() { QDBusConnection::disconnectFromBus(QStringLiteral("stand-in")); }

    void prepareForSleep(bool goingToSleep)
    {
        send(QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
            QStringLiteral("PrepareForSleep"), goingToSleep);
    }
    void networkState(uint state)
    {
        send(QStringLiteral("/org/freedesktop/NetworkManager"),
            QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("StateChanged"), state);
    }

    bool claimed = false;

private:
    void send(const QString &path, const QString &interface, const QString &name, const QVariant &argument)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
        signal << argument;
        m_bus.send(signal);
    }

    QDBusConnection m_bus;
};

struct Moment {
    const char *name;
    void (*before)(StandInSystem &); // the computer sleeps, or the network goes
    void (*after)(StandInSystem &); // it wakes, or the network is back
};
const Moment moments[] = {
    {"resume", [](StandInSystem &system) { system.prepareForSleep(true); },
        [](StandInSystem &system) { system.prepareForSleep(false); }},
    {"network_return", [](StandInSystem &system) { system.networkState(20); },
        [](StandInSystem &system) { system.networkState(70); }},
};

class WakeTest : public WireTest, public ::testing::WithParamInterface<Moment>
{
protected:
    WakeTest() { services.realWake = &wake; }
    void TearDown() override { model.reset(); } // the model lets go of the watcher it was given

    State push() { return WireAccess::push(*model).state(); }
    qsizetype loopSleeps() { return services.clock.sleeps.count(AppModel::syncInterval); }
    int socketsOpened()
    {
        int opened = 0;
        for (const auto &event : cloud.realtime().events)
            opened += event.direction == "upgrade";
        return opened;
    }

    StandInSystem system;
    LinuxWakeEvents wake;
};

TEST_P(WakeTest, ADocumentQueuedMeanwhileIsInTheFolderRightAfterTheWake)
{
    ASSERT_TRUE(qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS"))
        << "run under tests/app/with-system-bus.sh";
    ASSERT_TRUE(system.claimed);
    model->enablePush();

    // The program as it runs: started, paired, one pass done, the loop asleep until its next turn.
    model->start();
    ASSERT_TRUE(waitUntil(
        [&] { return loopSleeps() == 1 && push() == State::Joined && !model->isWorking(); }, 30000));
    ASSERT_TRUE(model->pairing());
    cloud.claimPairing(model->pairing()->code.toStdString());

    // The socket dies with the sleep or the network, and its retry waits; the phone sends meanwhile.
    const Moment &moment = GetParam();
    moment.before(system);
    cloud.dropRealtime();
    ASSERT_TRUE(waitUntil([&] { return push() == State::Waiting; }));
    cloud.sendDocument(model->pairing()->computerId.toStdString(), "Gece Fişi.pdf", testPdf.toStdString());
    const int opened = socketsOpened();
    services.clock.current = services.clock.current.addSecs(3600); // the night the computer slept

    QElapsedTimer sinceWake;
    sinceWake.start();
    moment.after(system);
    ASSERT_TRUE(waitUntil([&] { return !QDir(folder.path()).entryList(QDir::Files).isEmpty(); }, 20000));
    std::cout << moment.name << " to folder: " << double(sinceWake.elapsed()) / 1000 << " s" << std::endl;

    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList(QStringLiteral("Gece Fişi.pdf")));
    EXPECT_EQ(loopSleeps(), 1) << "the loop's own turn never came: the wake brought the document";
    EXPECT_TRUE(waitUntil([&] { return push() == State::Joined; }));
    EXPECT_GT(socketsOpened(), opened) << "the push socket is opened anew at once, not after its back-off";
}

INSTANTIATE_TEST_SUITE_P(Moments, WakeTest, ::testing::ValuesIn(moments),
    [](const ::testing::TestParamInfo<Moment> &info) { return std::string(info.param.name); });

} // namespace
