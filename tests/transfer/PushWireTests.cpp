// The push channel against the local cloud: what it sends, how a change turns into passes, and how
// it recovers or gives up.

#include "tests/transfer/WireSupport.h"

#include <QProcess>

namespace {

using namespace std::chrono_literals;
using State = RealtimeChannel::State;
const QString testKey = QStringLiteral("sb_publishable_0123456789abcdefghijklmnopqrstu");

class PushTest : public WireTest
{
protected:
    using WireTest::WireTest;

    State state() { return WireAccess::push(*model).state(); }

    std::vector<LocalCloud::RealtimeEvent> events(const std::string &direction, const std::string &event = {})
    {
        std::vector<LocalCloud::RealtimeEvent> found;
        for (auto &e : cloud.realtime().events)
            if (e.direction == direction && (event.empty() || e.event == event))
                found.push_back(e);
        return found;
    }

    bool joinedAs(const std::string &computer)
    {
        return state() == State::Joined
            && cloud.realtime().joinedComputers == std::vector<std::string>{computer};
    }

    // No pass running and none asked for.
    bool settled() { return !model->isWorking() && !WireAccess::passRequested(*model); }

    size_t listings() { return requestsTo("GET", "/rest/v1/transfer_items").size(); }

    // The waits between connection attempts, leaving out the heartbeat and reply deadlines.
    std::vector<std::chrono::milliseconds> retryWaits()
    {
        std::vector<std::chrono::milliseconds> waits;
        for (const auto wait : services.clock.sleeps)
            if (wait != RealtimeChannel::heartbeatInterval && wait != RealtimeChannel::replyTimeout)
                waits.push_back(wait);
        return waits;
    }

    // Ends the current back-off and waits until the attempt it started is under way. (That attempt
    // may fail and wait again before the test looks, so attempts are counted, not states.)
    void retryNow()
    {
        ASSERT_TRUE(waitUntil([&] { return state() == State::Waiting; }));
        const int before = attempts;
        services.clock.release();
        ASSERT_TRUE(waitUntil([&] { return attempts > before; }));
    }

    std::string pairAndJoin()
    {
        QObject::connect(&WireAccess::push(*model), &RealtimeChannel::stateChanged, model.get(),
            [this](State now) { attempts += now == State::Connecting ? 1 : 0; });
        model->enablePush();
        const std::string computer = pairPhone();
        EXPECT_TRUE(waitUntil([&] { return joinedAs(computer); }));
        EXPECT_TRUE(waitUntil([&] { return settled(); }));
        return computer;
    }

    // The local cloud's certificates, for another one that the program trusts as it trusts this one.
    void copyCertificates(const QString &into)
    {
        ASSERT_TRUE(QDir().mkpath(into));
        for (const QString &name : QDir(qs(cloud.dataDir() + "/tls")).entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(qs(cloud.dataDir() + "/tls/") + name, into + u'/' + name));
    }

    int attempts = 0; // connections the channel began
};

TEST_F(PushTest, JoinsBeatsHandsOverTheRenewedTokenAndRejoinsForAnotherComputer)
{
    const std::string computer = pairAndJoin();
    const CloudSession session = QCoro::waitFor(WireAccess::session(*model));

    const auto upgrades = events("upgrade");
    ASSERT_EQ(upgrades.size(), 1u);
    EXPECT_EQ(upgrades[0].target,
        std::string(LocalCloud::realtimePath) + "?apikey=" + cloud.anonKey() + "&vsn=1.0.0");
    EXPECT_EQ(upgrades[0].status, 101);
    const auto joins = events("in", "phx_join");
    ASSERT_EQ(joins.size(), 1u);
    EXPECT_EQ(joins[0].topic, "realtime:transfer_items:" + computer);
    const QJsonObject join = jsonOf(joins[0].payload);
    EXPECT_EQ(join.value(QStringLiteral("access_token")).toString(), session.accessToken);
    const QJsonArray changes
        = join.value(QStringLiteral("config")).toObject().value(QStringLiteral("postgres_changes")).toArray();
    EXPECT_EQ(changes,
        QJsonArray({QJsonObject{{QStringLiteral("event"), QStringLiteral("INSERT")},
            {QStringLiteral("schema"), QStringLiteral("public")},
            {QStringLiteral("table"), QStringLiteral("transfer_items")},
            {QStringLiteral("filter"), qs("computer_id=eq." + computer)}}}));
    // The join may have missed rows queued before it: it asks for a pass.
    EXPECT_GE(listings(), 1u);

    // The heartbeat waits its interval on the clock, goes to "phoenix" and is answered.
    services.clock.release();
    ASSERT_TRUE(waitUntil([&] { return !events("in", "heartbeat").empty(); }));
    EXPECT_EQ(events("in", "heartbeat")[0].topic, "phoenix");
    EXPECT_NE(std::find(services.clock.sleeps.begin(), services.clock.sleeps.end(), 25000ms),
        services.clock.sleeps.end());
    EXPECT_EQ(state(), State::Joined);

    // A renewed session hands its token to the joined channel; nothing reconnects.
    services.clock.current = services.clock.current.addSecs(3600);
    cloud.setClockOffset(std::chrono::seconds(3600));
    sync();
    const CloudSession renewed = QCoro::waitFor(WireAccess::session(*model));
    ASSERT_NE(renewed.accessToken, session.accessToken);
    ASSERT_TRUE(waitUntil([&] { return !events("in", "access_token").empty(); }));
    const auto handedOver = events("in", "access_token");
    EXPECT_EQ(handedOver[0].topic, "realtime:transfer_items:" + computer);
    EXPECT_EQ(
        jsonOf(handedOver[0].payload).value(QStringLiteral("access_token")).toString(), renewed.accessToken);
    EXPECT_EQ(events("upgrade").size(), 1u);

    // Another backend (trusting the same authority): leave the old topic, then join there.
    QTemporaryDir otherData;
    copyCertificates(otherData.filePath(QStringLiteral("tls")));
    LocalCloud::Options options;
    options.dataDir = otherData.path().toStdString();
    LocalCloud other(options);
    model->setSupabaseURL(qs(other.baseUrl()));
    model->setAnonKey(qs(other.anonKey()));
    model->saveCloudSettings();
    ASSERT_TRUE(
        waitUntil([&] { return cloud.realtime().open == 0 && !other.realtime().joinedComputers.empty(); }));
    const auto leaves = events("in", "phx_leave");
    ASSERT_EQ(leaves.size(), 1u);
    EXPECT_EQ(leaves[0].topic, "realtime:transfer_items:" + computer);
    ASSERT_TRUE(model->pairing());
    EXPECT_EQ(other.realtime().joinedComputers,
        std::vector<std::string>{model->pairing()->computerId.toStdString()});
    EXPECT_NE(model->pairing()->computerId.toStdString(), computer);
}

TEST_F(PushTest, ChangesDuringAPassGiveExactlyOneMorePassASecondAfterIt)
{
    const std::string computer = pairAndJoin();
    const size_t before = listings();
    const auto pushed = [&](size_t count) {
        return waitUntil([&] { return events("out", "postgres_changes").size() == count; });
    };
    // The join's own pass began less than a second ago on the clock: the push waits for it.
    cloud.injectFault(
        {LocalCloud::FaultKind::Delay, "/rest/v1/transfer_items?", "GET", 0, {}, "application/json", 1500});
    cloud.sendDocument(computer, "bir.pdf", testPdf.toStdString());
    ASSERT_TRUE(pushed(1));
    ASSERT_TRUE(waitUntil([&] { return WireAccess::passRequested(*model); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(listings(), before);

    // Its pass holds the listing long enough for two more documents to arrive.
    services.clock.release();
    ASSERT_TRUE(waitUntil([&] { return listings() == before + 1; }));
    ASSERT_TRUE(model->isWorking());
    cloud.sendDocument(computer, "iki.pdf", testPdf.toStdString() + "2");
    cloud.sendDocument(computer, "uc.pdf", testPdf.toStdString() + "3");
    ASSERT_TRUE(pushed(3));
    ASSERT_TRUE(waitUntil([&] { return entries().size() == 3 && !model->isWorking(); }, 10000));
    QCoreApplication::processEvents();
    // The delayed listing saw all three; the one pass asked for meanwhile waits out the second.
    EXPECT_EQ(listings(), before + 1);
    EXPECT_TRUE(WireAccess::passRequested(*model));
    services.clock.release();
    ASSERT_TRUE(waitUntil([&] { return settled(); }));
    EXPECT_EQ(listings(), before + 2);
    EXPECT_EQ(model->downloadedToday(), 3);

    // A model that goes while such a wait is under way leaves nothing behind to run.
    cloud.sendDocument(computer, "dort.pdf", testPdf.toStdString() + "4");
    ASSERT_TRUE(pushed(4));
    model.reset();
    services.clock.release();
    QCoreApplication::processEvents();
    EXPECT_EQ(listings(), before + 2);
}

TEST_F(PushTest, DropsAndSilenceReconnectWithGrowingBackOff)
{
    const std::string computer = pairAndJoin();
    services.clock.sleeps.clear();
    // A dropped socket, two upgrades the server cannot take (a 5xx is worth retrying), then a join
    // answered with more than the channel takes in one message.
    cloud.injectFault(
        {LocalCloud::FaultKind::Status, LocalCloud::realtimePath, "GET", 503, {}, "application/json", 0, 2});
    cloud.injectFault({LocalCloud::FaultKind::Malformed, LocalCloud::realtimePath, "phx_join", 200,
        std::string(2 * RealtimeChannel::largestMessage, 'x')});
    cloud.dropRealtime();
    for (int attempt = 0; attempt < 4; ++attempt)
        retryNow();
    ASSERT_TRUE(waitUntil([&] { return joinedAs(computer); }));
    // The n-th wait of a growing back-off lies in [500 ms, 1 s) doubled n times.
    const auto growing = [](const std::vector<std::chrono::milliseconds> &waits, int first) {
        for (size_t i = 0; i < waits.size(); ++i) {
            const auto low = 500ms * (1 << (first + int(i)));
            EXPECT_TRUE(waits[i] >= low && waits[i] < 2 * low) << i << ": " << waits[i].count();
        }
    };
    ASSERT_EQ(retryWaits().size(), 4u);
    growing(retryWaits(), 0);

    // An unanswered heartbeat is a drop at the next one; a refused join is retried like one. The
    // join above proved nothing yet: the back-off goes on growing.
    services.clock.sleeps.clear();
    cloud.injectFault({LocalCloud::FaultKind::Silent, LocalCloud::realtimePath, "heartbeat"});
    cloud.injectFault({LocalCloud::FaultKind::Status, LocalCloud::realtimePath, "phx_join"});
    services.clock.release();
    ASSERT_TRUE(waitUntil([&] { return events("in", "heartbeat").size() == 1; }));
    services.clock.release();
    retryNow();
    retryNow();
    ASSERT_TRUE(waitUntil([&] { return joinedAs(computer); }));
    ASSERT_EQ(retryWaits().size(), 2u);
    growing(retryWaits(), 4);

    // Still delivering: a queued document lands without waiting for the poll. Pushed after the
    // heartbeat's answer, it also shows that answer has arrived, which starts the back-off over.
    services.clock.release();
    ASSERT_TRUE(waitUntil([&] { return events("in", "heartbeat").size() == 2; }));
    cloud.sendDocument(computer, "sonra.pdf", testPdf.toStdString());
    ASSERT_TRUE(
        waitUntil([&] { return entries() == QStringList{QStringLiteral("sonra.pdf")} && settled(); }));
    services.clock.sleeps.clear();
    cloud.dropRealtime();
    retryNow();
    ASSERT_TRUE(waitUntil([&] { return joinedAs(computer); }));
    ASSERT_FALSE(retryWaits().empty());
    growing({retryWaits()[0]}, 0);
}

TEST_F(PushTest, ABackendWithoutPushLeavesThePollAloneAndIsAskedAgainLater)
{
    // The upgrade is refused as by a backend that has no such service, every time.
    LocalCloud::Fault refused{LocalCloud::FaultKind::Status, LocalCloud::realtimePath, "GET", 404};
    refused.fraction = 1;
    cloud.injectFault(refused);
    model->enablePush();
    const std::string computer = pairPhone();
    ASSERT_TRUE(waitUntil([&] { return state() == State::GaveUp; }));
    EXPECT_EQ(retryWaits(), std::vector<std::chrono::milliseconds>{RealtimeChannel::retryAfterRefusal});
    EXPECT_EQ(events("upgrade").size(), 1u);
    EXPECT_FALSE(model->lastError());

    cloud.sendDocument(computer, "fis.pdf", testPdf.toStdString());
    sync();
    EXPECT_EQ(entries(), QStringList{QStringLiteral("fis.pdf")});
    EXPECT_EQ(cloud.rows().back().status, "downloaded");

    // An hour later it asks once more, and is refused once more.
    services.clock.release();
    ASSERT_TRUE(waitUntil([&] { return events("upgrade").size() == 2 && state() == State::GaveUp; }));

    // The session renewed (the clock has moved that hour): asked at once, and now let in.
    cloud.clearFaults();
    cloud.setClockOffset(std::chrono::seconds(3600));
    sync();
    ASSERT_TRUE(waitUntil([&] { return joinedAs(computer); }));
    EXPECT_EQ(events("upgrade").size(), 3u);
    EXPECT_EQ(retryWaits().size(), 2u);
}

// Set in the child that sees only the local cloud's authority among the system's: its data folder.
const char *const systemTrustVariable = "TARVOLIN_TEST_SYSTEM_TRUST";

LocalCloud::Options systemTrustOptions()
{
    LocalCloud::Options options;
    options.dataDir = qEnvironmentVariable(systemTrustVariable).toStdString();
    return options;
}

// A build without an extra authority, as users run it: the program trusts the system's and nothing else.
class SystemTrustTest : public PushTest
{
protected:
    SystemTrustTest()
        : PushTest(systemTrustOptions(), false)
    {
    }
};

TEST_F(SystemTrustTest, RequestsAndTheChannelBothTrustTheSystemsAuthorities)
{
    if (qEnvironmentVariableIsSet(systemTrustVariable)) {
        // Requests pair, the channel joins: both through the system's trust alone.
        const std::string computer = pairAndJoin();
        EXPECT_FALSE(computer.empty());
        EXPECT_TRUE(joinedAs(computer)) << static_cast<int>(state());
        return;
    }

    // The system's trust is what lies in /etc/ssl/certs: in a mount namespace of its own the child
    // finds the local cloud's authority there, hashed as OpenSSL looks it up, and nothing else.
    const QStringList privateMount = QStringLiteral("--user --map-root-user --mount").split(u' ');
    if (QProcess::execute(QStringLiteral("unshare"), privateMount + QStringList{QStringLiteral("true")}) != 0)
        GTEST_SKIP() << "no private mount namespace here (unshare)";
    QTemporaryDir work;
    const QDir dir(work.path());
    ASSERT_TRUE(dir.mkpath(QStringLiteral("roots")));
    copyCertificates(dir.filePath(QStringLiteral("cloud/tls")));
    QProcess hash;
    hash.start(QStringLiteral("openssl"),
        QStringLiteral("x509 -hash -noout -in").split(u' ') << qs(cloud.caCertPath()));
    ASSERT_TRUE(hash.waitForFinished() && hash.exitCode() == 0);
    const QString hashed = QString::fromLatin1(hash.readAllStandardOutput().trimmed()) + QStringLiteral(".0");
    // Qt reads the roots by name, OpenSSL looks them up by hash: both names.
    ASSERT_TRUE(QFile::copy(qs(cloud.caCertPath()), dir.filePath(QStringLiteral("roots/") + hashed)));
    ASSERT_TRUE(QFile::copy(qs(cloud.caCertPath()), dir.filePath(QStringLiteral("roots/local.pem"))));

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(systemTrustVariable), dir.filePath(QStringLiteral("cloud")));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const ::testing::TestInfo *self = ::testing::UnitTest::GetInstance()->current_test_info();
    QStringList command = privateMount;
    command << QStringLiteral("sh") << QStringLiteral("-c")
            << QStringLiteral("mount --bind \"$1\" /etc/ssl/certs && exec \"$2\" --gtest_filter=\"$3\"")
            << QStringLiteral("sh") << dir.filePath(QStringLiteral("roots"))
            << QCoreApplication::applicationFilePath()
            << QString::fromUtf8(self->test_suite_name()) + u'.' + QString::fromUtf8(self->name());
    child.start(QStringLiteral("unshare"), command);
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString output = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
}

TEST(PushAddress, OnlyTheBackendsOwnHostOverTlsOrALoopbackServerInTheClear)
{
    const auto url = [](const char *address) {
        const auto found = RealtimeChannel::socketUrl(Backend{QString::fromUtf8(address), testKey});
        return found ? found->toString(QUrl::FullyEncoded).toStdString() : std::string("none");
    };
    const std::string query = "/realtime/v1/websocket?apikey=" + testKey.toStdString() + "&vsn=1.0.0";
    EXPECT_EQ(url("https://abc.example.co/"), "wss://abc.example.co" + query);
    EXPECT_EQ(url("http://127.0.0.1:5400"), "ws://127.0.0.1:5400" + query);
    EXPECT_EQ(url("http://localhost:5400"), "ws://localhost:5400" + query);
    EXPECT_EQ(url("http://abc.example.co"), "none");
    EXPECT_EQ(url("http://10.0.0.1"), "none");
    EXPECT_EQ(url("https://user@abc.example.co"), "none");
    EXPECT_EQ(url("ftp://abc.example.co"), "none");
    EXPECT_FALSE(RealtimeChannel::socketUrl(Backend{QStringLiteral("https://abc.example.co"), QString()}));
}

TEST(PushBackOff, DoublesFromOneSecondToAMinuteWithTheUpperHalfDrawn)
{
    // The doubling itself is seen on the wire; here the draw, the cap and a count gone wrong.
    EXPECT_EQ(RealtimeChannel::retryDelay(0, 0.99), 995ms);
    EXPECT_EQ(RealtimeChannel::retryDelay(3, 0.5), 6000ms);
    EXPECT_EQ(RealtimeChannel::retryDelay(6, 0.0), 30000ms);
    EXPECT_EQ(RealtimeChannel::retryDelay(60, 1.0), 60000ms);
    EXPECT_EQ(RealtimeChannel::retryDelay(-5, 0.5), 750ms);
}

} // namespace
