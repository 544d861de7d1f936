#pragma once

#include "cloud/Backend.h"
#include "platform/Clock.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>
#include <random>

class QWebSocket;

// The backend's push service: one WebSocket that follows the rows queued for this computer and
// says so at once. Push delivery is not guaranteed, so this only ever asks for a pass; the poll
// stays the safety net. Drops are retried with capped, jittered back-off that starts over only
// once the server has answered a heartbeat, so a server that takes the join and then drops us is
// not hammered. A backend that answers the upgrade with a client error is asked again after an
// hour, or at once when the session renews. Everything waits on the injected clock.
class RealtimeChannel : public QObject
{
    Q_OBJECT
public:
    // What to follow: the rows queued for `computerId` on `backend` (normalised).
    struct Subscription {
        Backend backend;
        QString computerId;
        bool operator==(const Subscription &) const = default;
    };
    enum class State { Idle, Connecting, Joining, Joined, Waiting, GaveUp };

    static constexpr std::chrono::milliseconds heartbeatInterval{25000};
    static constexpr std::chrono::milliseconds replyTimeout{10000};
    static constexpr std::chrono::milliseconds firstRetry{1000};
    static constexpr std::chrono::milliseconds longestRetry{60000};
    static constexpr std::chrono::milliseconds retryAfterRefusal = std::chrono::hours(1);
    // No message of ours comes near this; a larger one closes the socket and is retried as a drop.
    static constexpr qint64 largestMessage = qint64(1) << 20;

    explicit RealtimeChannel(Clock &clock, QObject *parent = nullptr);
    ~RealtimeChannel() override;

    // The trust settings for the socket (the authorities of the build).
    void setTlsConfiguration(const QSslConfiguration &tls) { m_tls = tls; }

    // Follows `subscription` with `accessToken`; none leaves. The same subscription with another
    // token only hands the new token to the joined channel (or tries a refused upgrade again at
    // once); another one leaves and joins anew.
    void follow(const std::optional<Subscription> &subscription, const QString &accessToken);

    // Opens the connection afresh at once, as after a resume or a network change: the socket may
    // be dead without knowing it, and a back-off would wait for nothing. A channel that follows
    // nothing or has given up stays as it is.
    void reconnect();

    State state() const { return m_state; }
    const std::optional<Subscription> &subscription() const { return m_subscription; }

    // The socket address for a backend: wss on the backend's own host, or ws only to a loopback
    // host named with "http"; nothing for any other address.
    static std::optional<QUrl> socketUrl(const Backend &backend);
    // The wait before retry number `attempt` (0 first): a ceiling doubling from 1 s, capped at
    // 60 s, and the wait drawn by `draw` in [0, 1) from its upper half (the first in [0.5, 1) s).
    static std::chrono::milliseconds retryDelay(int attempt, double draw);
    // The topic the channel joins for a computer.
    static QString topicFor(const QString &computerId);

Q_SIGNALS:
    // A row was queued for the computer, or the channel joined (and may have missed some).
    void changed();
    void stateChanged(RealtimeChannel::State state);

private:
    using Step = void (RealtimeChannel::*)();

    void open();
    void onConnected();
    void onMessage(const QString &text);
    void onReply(const QJsonObject &message);
    void onLost(bool permanent);
    void sendHeartbeat();
    void joinTimedOut();
    // Ends every wait started so far; later ones count afresh.
    void cancelWaits();
    // Closes the socket and cancels every wait of the connection.
    void closeSocket();
    QString send(const QString &topic, const QString &event, const QJsonObject &payload);
    // Calls `step` after `delay` on the clock, unless the connection closes first.
    void after(std::chrono::milliseconds delay, Step step);
    static QCoro::Task<> wait(QPointer<RealtimeChannel> self, Clock &clock, std::chrono::milliseconds delay,
        std::shared_ptr<Cancellation> cancellation, Step step);
    void setState(State state);

    Clock &m_clock;
    QSslConfiguration m_tls = QSslConfiguration::defaultConfiguration();
    std::optional<Subscription> m_subscription;
    QString m_accessToken;
    QWebSocket *m_socket = nullptr; // freed with deleteLater: it may be inside its own signal
    std::shared_ptr<Cancellation> m_waits = std::make_shared<Cancellation>();
    State m_state = State::Idle;
    int m_attempt = 0; // failed connections since a heartbeat was last answered
    quint64 m_lastRef = 0;
    QString m_joinRef;
    QString m_heartbeatRef; // the heartbeat not answered yet
    std::mt19937 m_random{std::random_device{}()};
};
