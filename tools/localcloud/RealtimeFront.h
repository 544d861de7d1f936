#pragma once

#include "Server.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslServer>
#include <QWebSocketServer>

#include <mutex>

class QSslSocket;
class QWebSocket;

namespace localcloud {

// The public TLS port. Upgrades to the push path are answered here (the HTTP library cannot speak
// WebSocket); every other connection is piped unchanged to the server's own loopback port.
// Lives on the Qt thread; the server reaches it only through its thread-safe hooks.
class RealtimeFront
{
public:
    static constexpr const char *path = "/realtime/v1/websocket";

    RealtimeFront(Server &server, int internalPort);
    ~RealtimeFront();

    // Listens on 127.0.0.1:`port` (0: any free port); returns the port or throws.
    int listen(int port);
    // Closes every connection at once, so the HTTP server's workers see their pipes end and it can
    // stop without waiting for keep-alive time-outs.
    void shutDown();

private:
    struct Follower {
        QPointer<QWebSocket> socket;
        std::string topic;
        std::string computerId; // empty until joined
        std::string userId;
        std::string joinRef;
    };

    void accept(QSslSocket *socket);
    void route(QSslSocket *socket);
    void pipe(QSslSocket *outer);
    void upgrade(QSslSocket *socket, const std::string &target);
    void answerUpgrade(QSslSocket *socket, const std::string &target);
    void adopt(QWebSocket *socket);
    void onMessage(QWebSocket *socket, const QString &text);
    void handle(QWebSocket *socket, const nlohmann::json &message);
    void join(Follower &follower, const nlohmann::json &message);
    void send(QWebSocket *socket, const nlohmann::json &message);
    void reply(QWebSocket *socket, const nlohmann::json &message, const std::string &status,
        nlohmann::json response = nlohmann::json::object());
    void push(const nlohmann::json &row);
    void dropAll();
    Follower *follower(QWebSocket *socket);
    void forget(QWebSocket *socket);
    void record(nlohmann::json event);
    void publishFollowers();
    nlohmann::json describe();

    Server &server_;
    int internalPort_;
    QObject context_; // receiver of the hooks' queued calls, so they run on the Qt thread
    QSslServer tls_;
    QWebSocketServer sockets_;
    QList<Follower> followers_;
    int nextSubscription_ = 1;
    std::mutex mutex_; // guards what describe() reads from the request threads
    nlohmann::json events_ = nlohmann::json::array();
    nlohmann::json joined_ = nlohmann::json::array();
    int open_ = 0;
};

} // namespace localcloud
