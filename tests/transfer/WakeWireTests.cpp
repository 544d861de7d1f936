// Catching up at a resume: logind (a stand-in on a private system bus) says the computer woke, and a
// document queued while it slept is fetched at once, not at the next poll or push.

#include "platform/linux/LinuxWakeEvents.h"
#include "tests/transfer/WireSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>

#include <iostream>

namespace {

using State = RealtimeChannel::State;
const QString logindName = QStringLiteral("org.freedesktop.login1");

// logind, as far as the program listens to it: the signal before and after each sleep.
class StandInLogind
{
public:
    StandInLogind()
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("logind")))
    {
    }
    ~StandInLogind() { QDBusConnection::disconnectFromBus(QStringLiteral("logind")); }

    bool claimName() { return m_bus.registerService(logindName); }
    void prepareForSleep(bool goingToSleep)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
        signal << goingToSleep;
        m_bus.send(signal);
    }

private:
    QDBusConnection m_bus;
};

class WakeTest : public WireTest
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

    StandInLogind logind;
    LinuxWakeEvents wake;
};

TEST_F(WakeTest, ADocumentQueuedDuringASleepIsInTheFolderRightAfterTheResume)
{
    ASSERT_TRUE(qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS"))
        << "run under tests/app/with-system-bus.sh";
    ASSERT_TRUE(logind.claimName());
    model->enablePush();

    // The program as it runs: started, paired, one pass done, the loop asleep until its next turn.
    model->start();
    ASSERT_TRUE(waitUntil(
        [&] { return loopSleeps() == 1 && push() == State::Joined && !model->isWorking(); }, 30000));
    ASSERT_TRUE(model->pairing());
    cloud.claimPairing(model->pairing()->code.toStdString());

    // The socket dies with the sleep and its retry waits; the phone sends meanwhile.
    logind.prepareForSleep(true);
    cloud.dropRealtime();
    ASSERT_TRUE(waitUntil([&] { return push() == State::Waiting; }));
    cloud.sendDocument(model->pairing()->computerId.toStdString(), "Gece Fişi.pdf", testPdf.toStdString());
    const int opened = socketsOpened();
    services.clock.current = services.clock.current.addSecs(3600); // the night the computer slept

    QElapsedTimer sinceResume;
    sinceResume.start();
    logind.prepareForSleep(false);
    ASSERT_TRUE(waitUntil([&] { return !QDir(folder.path()).entryList(QDir::Files).isEmpty(); }, 20000));
    std::cout << "resume to folder: " << double(sinceResume.elapsed()) / 1000 << " s" << std::endl;

    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList(QStringLiteral("Gece Fişi.pdf")));
    EXPECT_EQ(loopSleeps(), 1) << "the loop's own turn never came: the resume brought the document";
    EXPECT_TRUE(waitUntil([&] { return push() == State::Joined; }));
    EXPECT_GT(socketsOpened(), opened) << "the push socket is opened anew at once, not after its back-off";
}

} // namespace
