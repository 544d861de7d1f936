#pragma once

#include "Server.h"

#include <QList>
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
    RealtimeFront(Server &server, int internalPort);
    ~RealtimeFront();

    // Listens on 127.0.0.1:`port` (0: any free port); returns the port or throws.
    int listen(int port);

private:
    struct Follower {
        QPointer<QWebSocket> socket;
        std::string topic;
        std::string computerId; // empty until joined
    };

    void accept(QSslSocket *socket);
    void route(QSslSocket *socket);
    void pipe(QSslSocket *outer);
    void upgrade(QSslSocket *socket, const std::string &target);
    void onMessage(QWebSocket *socket, const QString &text);
    void push(const nlohmann::json &row);
    void dropAll();
    void record(nlohmann::json event);
    nlohmann::json describe();

    Server &server_;
    int internalPort_;
    QSslServer tls_;
    QWebSocketServer sockets_;
    QList<Follower> followers_;
    std::mutex mutex_; // guards the event log, read from the request threads
    nlohmann::json events_ = nlohmann::json::array();
    int open_ = 0;
};

} // namespace localcloud
