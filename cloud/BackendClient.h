#pragma once

#include "cloud/Backend.h"
#include "platform/HttpClient.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>

#include <optional>

// The one way to the backend's authentication, table, storage and function calls. It holds no state,
// never retries and never renews a session: keeping the session fresh is the caller's work.
class BackendClient
{
public:
    explicit BackendClient(HttpClient &http)
        : m_http(http)
    {
    }

    // Sends `method` to the backend's address followed by `path`, with the publishable key, the
    // access token when given and the "Prefer" value when given, and returns the body of a 2xx answer.
    // Throws CompanionError::missingConfiguration before sending anything when the backend is not
    // configured, invalidURL when address and path form no URL, the backend's own message (or the
    // generic server text) for any other status, and what the exchange throws for the rest.
    QCoro::Task<QByteArray> request(Backend backend, QString path, QByteArray method,
        std::optional<QByteArray> body, std::optional<QString> token, std::optional<QString> prefer);

    HttpClient &http() const { return m_http; }

private:
    HttpClient &m_http;
};
