#include "cloud/RealtimeChannel.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QWebSocket>

#include <algorithm>

namespace {

const QString phoenixTopic = QStringLiteral("phoenix");

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// Whether a failed upgrade was answered with a client error: the backend has no push service
// (or will not let us in for now). Qt reports the answer's status only in the error text.
bool isRefusedUpgrade(const QString &errorText)
{
    static const QRegularExpression status(QStringLiteral("status code: (\\d{3})"));
    const QRegularExpressionMatch match = status.match(errorText);
    if (!match.hasMatch())
        return false;
    const int code = match.captured(1).toInt();
    return code >= 400 && code < 500 && code != 408 && code != 429;
}

} // namespace

RealtimeChannel::RealtimeChannel(Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
{
}

RealtimeChannel::~RealtimeChannel()
{
    closeSocket();
}

std::optional<QUrl> RealtimeChannel::socketUrl(const Backend &backend)
{
    const Backend normalised = backend.normalised();
    QUrl url(normalised.url);
    if (!url.isValid() || url.host().isEmpty() || normalised.key.isEmpty() || !url.userInfo().isEmpty()
        || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    if (url.scheme() == QStringLiteral("https"))
        url.setScheme(QStringLiteral("wss"));
    else if (url.scheme() == QStringLiteral("http") && isLoopbackHost(url.host()))
        url.setScheme(QStringLiteral("ws"));
    else
        return std::nullopt;
    url.setPath(url.path() + QStringLiteral("/realtime/v1/websocket"));
    QUrlQuery query;
    query.addQueryItem(
        QStringLiteral("apikey"), QString::fromLatin1(QUrl::toPercentEncoding(normalised.key)));
    query.addQueryItem(QStringLiteral("vsn"), QStringLiteral("1.0.0"));
    url.setQuery(query);
    return url;
}

std::chrono::milliseconds RealtimeChannel::retryDelay(int attempt, double draw)
{
    const int doublings = std::clamp(attempt, 0, 6);
    const std::chrono::milliseconds ceiling
        = std::min<std::chrono::milliseconds>(longestRetry, firstRetry * (1 << doublings));
    const std::chrono::milliseconds half = ceiling / 2;
    const std::chrono::milliseconds drawn = half
        + std::chrono::milliseconds(
            static_cast<qint64>(std::clamp(draw, 0.0, 1.0) * static_cast<double>(half.count())));
    return std::min(drawn, longestRetry);
}

QString RealtimeChannel::topicFor(const QString &computerId)
{
    return QStringLiteral("realtime:transfer_items:") + computerId;
}

void RealtimeChannel::follow(const std::optional<Subscription> &subscription, const QString &accessToken)
{
    if (subscription == m_subscription) {
        if (accessToken == m_accessToken)
            return;
        m_accessToken = accessToken;
        if (m_state == State::Joined && m_subscription)
            send(topicFor(m_subscription->computerId), QStringLiteral("access_token"),
                QJsonObject{{QStringLiteral("access_token"), accessToken}});
        if (m_state == State::GaveUp && m_subscription)
            open(); // a renewed session may be let in where the old one was refused
        return;
    }

    if (m_socket && m_subscription && (m_state == State::Joined || m_state == State::Joining))
        send(topicFor(m_subscription->computerId), QStringLiteral("phx_leave"), {});
    closeSocket();
    m_subscription = subscription;
    m_accessToken = accessToken;
    m_attempt = 0;
    if (m_subscription)
        open();
    else
        setState(State::Idle);
}

void RealtimeChannel::reconnect()
{
    if (!m_subscription || m_state == State::GaveUp)
        return;
    closeSocket();
    m_attempt = 0;
    open();
}

void RealtimeChannel::open()
{
    if (!m_subscription)
        return;
    const std::optional<QUrl> url = socketUrl(m_subscription->backend);
    if (!url || m_subscription->computerId.isEmpty()) {
        setState(State::GaveUp);
        return;
    }
    closeSocket();
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    if (url->scheme() == QStringLiteral("wss"))
        m_socket->setSslConfiguration(m_tls);
    m_socket->setMaxAllowedIncomingFrameSize(largestMessage);
    m_socket->setMaxAllowedIncomingMessageSize(largestMessage);
    QWebSocket *socket = m_socket;
    connect(socket, &QWebSocket::connected, this, [this, socket] {
        if (socket == m_socket)
            onConnected();
    });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString &text) {
        if (socket == m_socket)
            onMessage(text);
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        if (socket == m_socket)
            onLost(false);
    });
    connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this, [this, socket] {
        if (socket == m_socket)
            onLost(isRefusedUpgrade(socket->errorString()));
    });
    setState(State::Connecting);
    // The connection attempt itself is bounded too, so a server that never answers is retried.
    after(replyTimeout, &RealtimeChannel::joinTimedOut);
    m_socket->open(QNetworkRequest(*url));
}

void RealtimeChannel::onConnected()
{
    QJsonObject filter{{QStringLiteral("event"), QStringLiteral("INSERT")},
        {QStringLiteral("schema"), QStringLiteral("public")},
        {QStringLiteral("table"), QStringLiteral("transfer_items")},
        {QStringLiteral("filter"), QStringLiteral("computer_id=eq.") + m_subscription->computerId}};
    QJsonObject config{{QStringLiteral("broadcast"),
                           QJsonObject{{QStringLiteral("ack"), false}, {QStringLiteral("self"), false}}},
        {QStringLiteral("presence"), QJsonObject{{QStringLiteral("key"), QString()}}},
        {QStringLiteral("postgres_changes"), QJsonArray{filter}}, {QStringLiteral("private"), false}};
    // The connection's own deadline is met; the join gets a full one of its own.
    cancelWaits();
    setState(State::Joining);
    m_joinRef = send(topicFor(m_subscription->computerId), QStringLiteral("phx_join"),
        QJsonObject{{QStringLiteral("config"), config}, {QStringLiteral("access_token"), m_accessToken}});
    after(replyTimeout, &RealtimeChannel::joinTimedOut);
    after(heartbeatInterval, &RealtimeChannel::sendHeartbeat);
}

void RealtimeChannel::onMessage(const QString &text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString event = message.value(QStringLiteral("event")).toString();
    const QString topic = message.value(QStringLiteral("topic")).toString();
    if (event == QStringLiteral("phx_reply")) {
        onReply(message);
        return;
    }
    if (!m_subscription || topic != topicFor(m_subscription->computerId))
        return;
    if (event == QStringLiteral("phx_error") || event == QStringLiteral("phx_close")) {
        onLost(false);
        return;
    }
    if (event != QStringLiteral("postgres_changes") || m_state != State::Joined)
        return;
    const QJsonObject data
        = message.value(QStringLiteral("payload")).toObject().value(QStringLiteral("data")).toObject();
    if (data.value(QStringLiteral("type")).toString() != QStringLiteral("INSERT"))
        return;
    // The filter is the server's; a row for another computer still must not wake us.
    const QJsonValue computer
        = data.value(QStringLiteral("record")).toObject().value(QStringLiteral("computer_id"));
    if (computer.isString() && computer.toString() != m_subscription->computerId)
        return;
    Q_EMIT changed();
}

void RealtimeChannel::onReply(const QJsonObject &message)
{
    const QString ref = message.value(QStringLiteral("ref")).toString();
    const bool ok
        = message.value(QStringLiteral("payload")).toObject().value(QStringLiteral("status")).toString()
        == QStringLiteral("ok");
    if (!ref.isEmpty() && ref == m_heartbeatRef) {
        m_heartbeatRef.clear();
        // Only a connection that lives on after its join proves the server well again.
        if (ok && m_state == State::Joined)
            m_attempt = 0;
        return;
    }
    if (m_state != State::Joining || ref.isEmpty() || ref != m_joinRef)
        return;
    if (!ok) {
        // A refused join is retried like a drop: the token may be renewed meanwhile.
        onLost(false);
        return;
    }
    setState(State::Joined);
    Q_EMIT changed();
}

void RealtimeChannel::onLost(bool permanent)
{
    closeSocket();
    if (!m_subscription) {
        setState(State::Idle);
        return;
    }
    if (permanent) {
        setState(State::GaveUp);
        after(retryAfterRefusal, &RealtimeChannel::open);
        return;
    }
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    const std::chrono::milliseconds delay = retryDelay(m_attempt, draw(m_random));
    ++m_attempt;
    setState(State::Waiting);
    after(delay, &RealtimeChannel::open);
}

void RealtimeChannel::sendHeartbeat()
{
    // The previous heartbeat still unanswered: the connection is dead even if the socket is not.
    if (!m_heartbeatRef.isEmpty()) {
        onLost(false);
        return;
    }
    m_heartbeatRef = send(phoenixTopic, QStringLiteral("heartbeat"), {});
    after(heartbeatInterval, &RealtimeChannel::sendHeartbeat);
}

void RealtimeChannel::joinTimedOut()
{
    if (m_state == State::Connecting || m_state == State::Joining)
        onLost(false);
}

void RealtimeChannel::cancelWaits()
{
    m_waits->cancel();
    m_waits = std::make_shared<Cancellation>();
}

void RealtimeChannel::closeSocket()
{
    cancelWaits();
    m_joinRef.clear();
    m_heartbeatRef.clear();
    if (!m_socket)
        return;
    QWebSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->close();
    socket->deleteLater();
}

QString RealtimeChannel::send(const QString &topic, const QString &event, const QJsonObject &payload)
{
    QString ref = QString::number(++m_lastRef);
    QJsonObject message{{QStringLiteral("topic"), topic}, {QStringLiteral("event"), event},
        {QStringLiteral("payload"), payload}, {QStringLiteral("ref"), ref}};
    if (topic != phoenixTopic && !m_joinRef.isEmpty())
        message.insert(QStringLiteral("join_ref"), m_joinRef);
    if (m_socket)
        m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    return ref;
}

void RealtimeChannel::after(std::chrono::milliseconds delay, Step step)
{
    wait(QPointer<RealtimeChannel>(this), m_clock, delay, m_waits, step);
}

QCoro::Task<> RealtimeChannel::wait(QPointer<RealtimeChannel> self, Clock &clock,
    std::chrono::milliseconds delay, std::shared_ptr<Cancellation> cancellation, Step step)
{
    const bool elapsed = co_await clock.sleep(delay, *cancellation);
    if (elapsed && self && !cancellation->isCancelled())
        (self.data()->*step)();
}

void RealtimeChannel::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}
