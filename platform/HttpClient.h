#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

// The process's one HTTP client. Requests go out exactly as built by the caller; the client only
// adds the trust settings of the build (system authorities, plus a demo authority in test builds).
class HttpClient
{
public:
    virtual ~HttpClient() = default;

    // Starts the request with the given method and body (empty: no body). The caller owns the reply
    // and must delete it; it is never null.
    virtual QNetworkReply *send(QNetworkRequest request, const QByteArray &method, const QByteArray &body)
        = 0;
    // The trust settings of the build, for every other connection the process makes (the push socket).
    virtual QSslConfiguration tlsConfiguration() const = 0;
};
