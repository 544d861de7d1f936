#pragma once

// A loopback HTTPS server for wire-level tests: it records every request exactly as it arrived and
// answers with whatever raw bytes the test chooses, including bytes that are not HTTP at all.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>

#include <functional>

struct WireRequest {
    QByteArray method;
    QByteArray target; // path and query as sent
    QList<QPair<QByteArray, QByteArray>> headers; // in the order they were sent, names lower-cased
    QByteArray body;

    bool has(const QByteArray &name) const;
    QByteArray header(const QByteArray &name) const;
    QList<QByteArray> headerNames() const;
};

class WireServer : public QTcpServer
{
    Q_OBJECT
public:
    // Raw bytes to send back; the connection closes after they are written.
    using Responder = std::function<QByteArray(const WireRequest &)>;

    WireServer();

    QString baseUrl() const;
    // The authority that signed the server's certificate, to trust in the HTTP client.
    static QList<QSslCertificate> authorities();

    // A complete HTTP/1.1 answer.
    static QByteArray http(int status, const QByteArray &body,
        const QByteArray &contentType = "application/json",
        const QList<QPair<QByteArray, QByteArray>> &extraHeaders = {});

    void answerWith(const QByteArray &bytes)
    {
        responder = [bytes](const WireRequest &) { return bytes; };
    }

    Responder responder = [](const WireRequest &) { return http(200, "{}"); };
    bool stall = false; // read requests, never answer
    QList<WireRequest> requests;

protected:
    void incomingConnection(qintptr descriptor) override;
};
