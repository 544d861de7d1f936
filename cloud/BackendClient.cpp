#include "cloud/BackendClient.h"

#include "cloud/BackendError.h"
#include "cloud/Exchange.h"
#include "core/CompanionError.h"

#include <QNetworkRequest>

namespace {

// How long a backend may stay silent (idle, not in total) before the request fails.
constexpr std::chrono::milliseconds requestIdleTimeout{20000};

// A line break inside a header value would end the header and start another one of the value's
// choosing.
bool isSafeHeaderValue(const QByteArray &value)
{
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

} // namespace

QCoro::Task<QByteArray> BackendClient::request(Backend backend, QString path, QByteArray method,
    std::optional<QByteArray> body, std::optional<QString> token, std::optional<QString> prefer)
{
    if (!backend.isConfigured())
        throw CompanionError::missingConfiguration();
    const QUrl url(backend.url + path, QUrl::StrictMode);
    if (!url.isValid())
        throw CompanionError::invalidURL();

    const QByteArray key = backend.key.toUtf8();
    if (!isSafeHeaderValue(key))
        throw CompanionError::missingConfiguration();
    const QByteArray authorization = token ? "Bearer " + token->toUtf8() : QByteArray();
    const QByteArray preference = prefer ? prefer->toUtf8() : QByteArray();
    if (!isSafeHeaderValue(authorization) || !isSafeHeaderValue(preference))
        throw CompanionError::invalidResponse();

    QNetworkRequest request(url);
    // The key and the token must never follow a redirect to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setRawHeader("apikey", key);
    request.setRawHeader("Content-Type", "application/json");
    if (token)
        request.setRawHeader("Authorization", authorization);
    if (prefer)
        request.setRawHeader("Prefer", preference);

    const HttpAnswer answer = co_await fetchAnswer(
        m_http, request, std::move(method), body.value_or(QByteArray()), requestIdleTimeout);
    if (answer.status >= 200 && answer.status <= 299)
        co_return answer.body;
    throw backendError(answer.status, answer.body);
}
