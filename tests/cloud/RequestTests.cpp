// The backend request layer at the wire: what goes out, and what every kind of answer turns into.

#include "cloud/BackendClient.h"
#include "cloud/BackendError.h"
#include "cloud/Exchange.h"
#include "tests/cloud/CloudTestSupport.h"

#include <QNetworkRequest>
#include <QUrl>
#include <gtest/gtest.h>

#include <limits>

namespace {

// Passes requests on to the real client, remembering each one; can shorten the idle time-out so a
// stalled server is noticed within the test's patience.
class RecordingHttpClient : public HttpClient
{
public:
    explicit RecordingHttpClient(HttpClient &inner)
        : m_inner(inner)
    {
    }

    QNetworkReply *send(QNetworkRequest request, const QByteArray &method, const QByteArray &body) override
    {
        sent.append(request);
        if (shortTimeoutMs)
            request.setTransferTimeout(shortTimeoutMs);
        return m_inner.send(request, method, body);
    }
    QSslConfiguration tlsConfiguration() const override { return m_inner.tlsConfiguration(); }

    QList<QNetworkRequest> sent;
    int shortTimeoutMs = 0;

private:
    HttpClient &m_inner;
};

class RequestTest : public ::testing::Test
{
protected:
    RequestTest()
        : inner(WireServer::authorities())
        , http(inner)
        , client(http)
        , backend{server.baseUrl(), testKey}
    {
    }

    Outcome<QByteArray> send(QString path, QByteArray method, std::optional<QByteArray> body = std::nullopt,
        std::optional<QString> token = std::nullopt, std::optional<QString> prefer = std::nullopt)
    {
        return settle(client.request(backend, path, method, body, token, prefer));
    }

    WireServer server;
    QtHttpClient inner;
    RecordingHttpClient http;
    BackendClient client;
    Backend backend;
};

TEST_F(RequestTest, SendsKeyTypeTokenAndPreferenceInThatOrderAndOnlyWhenGiven)
{
    const auto outcome = send(QStringLiteral("/rest/v1/transfer_items?id=eq.7"), "PATCH",
        QByteArray(R"({"status":"downloaded"})"), QStringLiteral("tok-123"),
        QStringLiteral("return=minimal"));
    ASSERT_FALSE(outcome.error) << outcome.message().toStdString();
    ASSERT_EQ(server.requests.size(), 1);
    const WireRequest &sent = server.requests.first();
    EXPECT_EQ(sent.method, "PATCH");
    EXPECT_EQ(sent.target, "/rest/v1/transfer_items?id=eq.7");
    EXPECT_EQ(sent.body, R"({"status":"downloaded"})");
    EXPECT_EQ(sent.header("apikey"), testKey.toUtf8());
    EXPECT_EQ(sent.header("content-type"), "application/json");
    EXPECT_EQ(sent.header("authorization"), "Bearer tok-123");
    EXPECT_EQ(sent.header("prefer"), "return=minimal");
    EXPECT_FALSE(sent.has("accept"));

    const QList<QByteArray> names = sent.headerNames();
    EXPECT_LT(names.indexOf("apikey"), names.indexOf("content-type"));
    EXPECT_LT(names.indexOf("content-type"), names.indexOf("authorization"));
    EXPECT_LT(names.indexOf("authorization"), names.indexOf("prefer"));

    ASSERT_EQ(http.sent.size(), 1);
    EXPECT_EQ(http.sent.first().transferTimeout(), 20000);
    EXPECT_EQ(http.sent.first().attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
        QNetworkRequest::SameOriginRedirectPolicy);

    // Without body and token: still the content type, and no authorisation or preference.
    ASSERT_FALSE(send(QStringLiteral("/rest/v1/transfer_items?select=id"), "GET").error);
    const WireRequest &bare = server.requests.last();
    EXPECT_EQ(bare.method, "GET");
    EXPECT_EQ(bare.header("content-type"), "application/json");
    EXPECT_EQ(bare.header("apikey"), testKey.toUtf8());
    EXPECT_FALSE(bare.has("authorization") || bare.has("prefer"));
    EXPECT_TRUE(bare.body.isEmpty());
}

TEST_F(RequestTest, AnswersBecomeTheirBodyOrTheBackendsMessageOrTheGenericText)
{
    // Success ignores the content type; how every other error body reads is the error-body fuzz
    // corpus's business.
    const struct {
        QByteArray answer;
        std::optional<QByteArray> body;
        QString message;
    } rows[] = {
        {WireServer::http(204, {}), QByteArray(), {}},
        {WireServer::http(299, "<html>ok</html>", "text/html"), QByteArray("<html>ok</html>"), {}},
        {WireServer::http(401, R"({"message":"INVALID API KEY"})"), std::nullopt,
            QStringLiteral(
                "Tarvolin bağlantı ayarı güncel değil. İnternet bağlantınızı kontrol edip tekrar deneyin.")},
        {WireServer::http(403, R"({"message":"Invalid API key"})"), std::nullopt,
            QStringLiteral("Invalid API key")},
        {WireServer::http(400, R"({"error_description":"Refresh Token Not Found","error":"invalid_grant"})"),
            std::nullopt, QStringLiteral("Refresh Token Not Found")},
        {WireServer::http(500, R"({"message":42,"error":"boom"})"), std::nullopt,
            QStringLiteral("Sunucu hatası (500).")},
        {WireServer::http(502, "<html><body>Bad Gateway</body></html>", "text/html"), std::nullopt,
            QStringLiteral("Sunucu hatası (502).")},
    };
    for (const auto &row : rows) {
        server.answerWith(row.answer);
        const auto outcome = send(QStringLiteral("/x"), "GET");
        EXPECT_EQ(outcome.value, row.body) << outcome.message().toStdString();
        EXPECT_EQ(
            kindOf(outcome.error), row.body ? std::nullopt : std::optional(CompanionError::Kind::Server));
        EXPECT_EQ(outcome.message(), row.message);
    }
    EXPECT_EQ(server.requests.size(), std::size(rows)); // never retried
}

TEST_F(RequestTest, RefusesBeforeSendingWhenNotConfiguredOrTheAddressIsNoURL)
{
    using Kind = CompanionError::Kind;
    const QString base = server.baseUrl();
    const struct {
        QString url, key, path;
        Kind kind;
    } rows[] = {
        {QStringLiteral("http://127.0.0.1:1"), testKey, QStringLiteral("/auth/v1/signup"),
            Kind::MissingConfiguration},
        {base, QStringLiteral("   \n"), QStringLiteral("/x"), Kind::MissingConfiguration},
        {base, testKey, QStringLiteral("/a path with spaces"), Kind::InvalidURL},
        // A key with a line break inside would smuggle a header of its own.
        {base, testKey + QStringLiteral("\r\nX-Injected: 1"), QStringLiteral("/x"),
            Kind::MissingConfiguration},
    };
    for (const auto &row : rows) {
        backend = Backend{row.url, row.key};
        const auto outcome = send(row.path, "POST", QByteArray("{}"));
        EXPECT_EQ(kindOf(outcome.error), row.kind) << row.path.toStdString();
        if (row.kind == Kind::MissingConfiguration) {
            EXPECT_EQ(outcome.message(), QStringLiteral("Bulut bağlantı bilgileri eksik."));
        }
    }
    EXPECT_TRUE(server.requests.isEmpty());
    EXPECT_TRUE(http.sent.isEmpty());
}

// A sink that refuses part-way, as a full disk does: the exchange must stop the reply from outside its
// own signal, end with the sink's error, and leave nothing behind that fires later (AddressSanitizer
// catches a reply deleted while it still emits).
class RefusingSink : public ReplySink
{
public:
    explicit RefusingSink(qint64 limit)
        : limit(limit)
    {
    }
    void write(QByteArrayView bytes) override
    {
        received += bytes.size();
        if (received > limit)
            throw PlatformError(QStringLiteral("No space left on device"));
    }
    qint64 limit;
    qint64 received = 0;
};

TEST_F(RequestTest, BrokenPeersAndTransportsFailWithThePlatformsDescriptionOrAsInvalid)
{
    server.stall = true;
    http.shortTimeoutMs = 300;
    auto outcome = send(QStringLiteral("/x"), "GET");
    EXPECT_TRUE(isPlatformError(outcome.error));
    EXPECT_FALSE(outcome.message().isEmpty());
    ASSERT_EQ(http.sent.size(), 1);
    EXPECT_EQ(http.sent.first().transferTimeout(), 20000);
    server.stall = false;

    // Nothing listens on the port of a closed server.
    const QString refusedBase = [] {
        WireServer closed;
        const QString url = closed.baseUrl();
        closed.close();
        return url;
    }();
    backend.url = refusedBase;
    outcome = send(QStringLiteral("/x"), "GET");
    EXPECT_TRUE(isPlatformError(outcome.error));
    EXPECT_FALSE(outcome.message().isEmpty());
    backend.url = server.baseUrl();

    // A body cut off before its announced length is a failed transfer, not a short success.
    server.answerWith("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 500\r\n"
                      "Connection: close\r\n\r\n{\"access_token\":\"abc");
    outcome = send(QStringLiteral("/x"), "GET");
    EXPECT_TRUE(isPlatformError(outcome.error)) << outcome.message().toStdString();

    for (const QByteArray &answer : {QByteArray("SSH-2.0-OpenSSH_9.2\r\n"),
             WireServer::http(200, QByteArray(maxAnswerBytes + 1024 * 1024, 'x'))}) {
        server.answerWith(answer);
        outcome = send(QStringLiteral("/x"), "GET");
        EXPECT_EQ(kindOf(outcome.error), CompanionError::Kind::InvalidResponse)
            << outcome.message().toStdString();
    }
}

TEST_F(RequestTest, ASinkThatRefusesStopsTheTransferWithItsError)
{
    const auto fetch = [&](RefusingSink &sink) {
        return settle(exchange(http, QNetworkRequest(QUrl(server.baseUrl() + QStringLiteral("/doc"))), "GET",
            {}, sink, std::chrono::seconds(20)));
    };
    server.answerWith(WireServer::http(200, QByteArray(8 << 20, 'x')));
    for (const qint64 limit : {qint64(0), qint64(1 << 20), qint64((8 << 20) - 1)}) {
        RefusingSink sink(limit);
        EXPECT_EQ(fetch(sink).message(), QStringLiteral("No space left on device")) << limit;
        EXPECT_LT(sink.received, qint64(8 << 20) + 1);
        // Whatever was queued for the stopped reply runs now, against nothing that is gone.
        waitUntil([] { return false; }, 100);
    }

    // A compressed body the network stack gives up unpacking part-way is no success either, however
    // much of it the sink already took.
    const QByteArray packed = qCompress(QByteArray("%PDF-") + QByteArray(32 << 20, ' '), 9).mid(4);
    server.answerWith(WireServer::http(200, packed, "application/pdf", {{"Content-Encoding", "deflate"}}));
    RefusingSink sink(std::numeric_limits<qint64>::max());
    EXPECT_TRUE(isPlatformError(fetch(sink).error)) << sink.received;
}

TEST_F(RequestTest, RedirectsToAnotherOriginAreNotFollowed)
{
    WireServer elsewhere; // another port is another origin
    server.answerWith(
        WireServer::http(302, {}, "text/plain", {{"Location", (elsewhere.baseUrl() + "/steal").toUtf8()}}));
    EXPECT_TRUE(send(QStringLiteral("/x"), "GET", std::nullopt, QStringLiteral("secret-token")).error);
    EXPECT_TRUE(elsewhere.requests.isEmpty());
}

} // namespace
