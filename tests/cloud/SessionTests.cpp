// The anonymous session: its stored form, the strict reading of authentication answers, the 90-second
// margin, the refresh-then-sign-up fallback and the one renewal shared by concurrent callers.

#include "tests/cloud/CloudTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

const std::pair<QString, QString> sessionItem{
    QStringLiteral("com.kavrendal.giderler"), QStringLiteral("cloud-session")};

QByteArray authAnswer(const QString &access, const QString &refresh = QStringLiteral("refresh-1"),
    const QByteArray &expiresIn = "3600")
{
    return "{\"access_token\":\"" + access.toUtf8() + "\",\"refresh_token\":\"" + refresh.toUtf8()
        + "\",\"expires_in\":" + expiresIn + ",\"token_type\":\"bearer\",\"user\":{\"id\":\"user-1\"}}";
}

class SessionTest : public ::testing::Test
{
protected:
    SessionTest()
        : http(WireServer::authorities())
        , client(http)
        , keychain(secrets)
        , keeper(client, keychain, clock)
        , backend{server.baseUrl(), testKey}
    {
        server.responder = [this](const WireRequest &request) {
            if (request.target == "/auth/v1/signup") {
                ++signups;
                return WireServer::http(200, authAnswer(QStringLiteral("signup-%1").arg(signups)));
            }
            if (request.target == "/auth/v1/token?grant_type=refresh_token")
                return refreshAnswer;
            return WireServer::http(404, R"({"message":"no route"})");
        };
    }

    void storeSession(const QDateTime &expiresAt, const QString &access = QStringLiteral("stored"))
    {
        secrets.items[sessionItem]
            = CloudSession{access, QStringLiteral("stored-refresh"), expiresAt, QStringLiteral("user-0")}
                  .toJson();
    }

    std::optional<CloudSession> storedSession() const
    {
        const auto it = secrets.items.find(sessionItem);
        return it == secrets.items.end() ? std::nullopt : CloudSession::fromJson(it->second);
    }

    QDateTime now() const { return clock.current; }
    QCoro::Task<CloudSession> ensure() { return keeper.ensure(backend); }

    WireServer server;
    QtHttpClient http;
    BackendClient client;
    FakeSecretStore secrets;
    KeychainStore keychain;
    FakeClock clock;
    SessionKeeper keeper;
    Backend backend;
    int signups = 0;
    QByteArray refreshAnswer
        = WireServer::http(200, authAnswer(QStringLiteral("refreshed"), QStringLiteral("refresh-2")));
};

TEST(CloudSessionRecordTest, StoresExpiryAsSecondsSince2001AndReadsBackStrictly)
{
    const CloudSession session{QStringLiteral("a"), QStringLiteral("r"),
        QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 500), Qt::UTC), QStringLiteral("u")};
    const QJsonObject stored = QJsonDocument::fromJson(session.toJson()).object();
    EXPECT_EQ(stored.size(), 4);
    EXPECT_DOUBLE_EQ(stored.value(QLatin1String("expiresAt")).toDouble(), 1.5);
    EXPECT_FALSE(session.toJson().contains('\n'));
    EXPECT_EQ(CloudSession::fromJson(session.toJson()), session);
}

TEST_F(SessionTest, AMalformedSignUpAnswerStoresNothingAndAFractionalLifetimeCounts)
{
    server.answerWith(
        WireServer::http(200, authAnswer(QStringLiteral("a"), QStringLiteral("r"), "\"3600\"")));
    EXPECT_EQ(kindOf(settle(ensure()).error), CompanionError::Kind::InvalidResponse);
    EXPECT_TRUE(secrets.items.empty());

    server.answerWith(WireServer::http(200, authAnswer(QStringLiteral("a"), QStringLiteral("r"), "90.5")));
    const auto saved = settle(ensure());
    ASSERT_FALSE(saved.error) << saved.message().toStdString();
    EXPECT_EQ(saved.value->expiresAt, now().addMSecs(90500));
    EXPECT_EQ(saved.value->userId, QStringLiteral("user-1"));
    EXPECT_EQ(storedSession(), saved.value);
}

TEST_F(SessionTest, ASessionIsReusedOnlyWhileItLastsMoreThanNinetySeconds)
{
    storeSession(now().addSecs(91));
    auto outcome = settle(ensure());
    ASSERT_FALSE(outcome.error) << outcome.message().toStdString();
    EXPECT_EQ(outcome.value->accessToken, QStringLiteral("stored"));
    EXPECT_TRUE(server.requests.isEmpty());

    // Exactly at the margin it is due.
    clock.current = clock.current.addSecs(1);
    outcome = settle(ensure());
    ASSERT_FALSE(outcome.error) << outcome.message().toStdString();
    EXPECT_EQ(outcome.value->accessToken, QStringLiteral("refreshed"));
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_EQ(server.requests.first().body, R"({"refresh_token":"stored-refresh"})");
    EXPECT_FALSE(server.requests.first().has("authorization"));
    EXPECT_EQ(storedSession()->accessToken, QStringLiteral("refreshed"));
    EXPECT_EQ(signups, 0);
}

TEST_F(SessionTest, AFailedRefreshLeadsSilentlyToASignUpWhoseErrorTheCallerGets)
{
    for (const QByteArray &refusal :
        {WireServer::http(400, R"({"error_description":"Invalid Refresh Token"})"),
            WireServer::http(200, R"({"access_token":"a","refresh_token":"r","expires_in":3600,"user":{}})"),
            WireServer::http(200, "not json")}) {
        refreshAnswer = refusal;
        keeper.discard();
        storeSession(now().addSecs(10));
        const int signupsBefore = signups;
        const auto outcome = settle(ensure());
        ASSERT_FALSE(outcome.error) << outcome.message().toStdString();
        EXPECT_EQ(signups, signupsBefore + 1);
        EXPECT_EQ(outcome.value->accessToken, QStringLiteral("signup-%1").arg(signups));
        EXPECT_EQ(storedSession(), outcome.value);
    }

    keeper.discard();
    storeSession(now().addSecs(-5));
    server.responder = [this, inner = server.responder](const WireRequest &request) {
        if (request.target == "/auth/v1/signup")
            return WireServer::http(429, R"({"message":"Request rate limit reached"})");
        return inner(request);
    };
    EXPECT_EQ(settle(ensure()).message(), QStringLiteral("Request rate limit reached"));
}

TEST_F(SessionTest, ConcurrentCallersShareOneRenewalAndItsOutcome)
{
    const auto both = [this] {
        auto first = capture(ensure());
        auto second = capture(ensure());
        return std::pair(QCoro::waitFor(std::move(first)), QCoro::waitFor(std::move(second)));
    };
    const auto [a, b] = both();
    ASSERT_FALSE(a.error || b.error);
    EXPECT_EQ(signups, 1);
    EXPECT_EQ(a.value, b.value);

    // Once it is over, a due session starts a renewal of its own again.
    clock.current = clock.current.addSecs(3600);
    EXPECT_EQ(settle(ensure()).value->accessToken, QStringLiteral("refreshed"));

    // A failure is shared the same way.
    keeper.discard();
    server.answerWith(WireServer::http(500, {}));
    const qsizetype before = server.requests.size();
    const auto [c, d] = both();
    EXPECT_EQ(c.message(), QStringLiteral("Sunucu hatası (500)."));
    EXPECT_EQ(d.message(), QStringLiteral("Sunucu hatası (500)."));
    EXPECT_EQ(server.requests.size(), before + 1);
}

TEST_F(SessionTest, AChangeOfBackendDropsTheSessionAndAnAnswerStillOnItsWay)
{
    storeSession(now().addSecs(3600));
    ASSERT_EQ(settle(ensure()).value->accessToken, QStringLiteral("stored"));

    keeper.discard();
    backend.key = testKey + QStringLiteral("X");
    EXPECT_FALSE(storedSession());
    auto pending = capture(ensure()); // the sign-up is on its way
    EXPECT_EQ(QCoro::waitFor(std::move(pending)).value->accessToken, QStringLiteral("signup-1"));
    EXPECT_EQ(server.requests.last().header("apikey"), (testKey + QStringLiteral("X")).toUtf8());

    keeper.discard();
    pending = capture(ensure());
    keeper.discard();
    ASSERT_FALSE(QCoro::waitFor(std::move(pending)).error);
    EXPECT_FALSE(storedSession());
    EXPECT_EQ(
        settle(ensure()).value->accessToken, QStringLiteral("signup-3")); // the dropped one is not reused
}

} // namespace
