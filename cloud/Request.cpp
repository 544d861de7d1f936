#include "app/AppModel.h"

#include "core/CompanionError.h"
#include "cloud/BackendError.h"
#include "cloud/HttpExchange.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>

namespace {

// How long a backend may stay silent (idle, not in total) before the request fails.
constexpr int requestIdleTimeoutMs = 20000;

const QString outdatedKeyText = QStringLiteral(
    "Tarvolin bağlantı ayarı güncel değil. İnternet bağlantınızı kontrol edip tekrar deneyin.");

// A line break inside a header value would end the header and start another one of the value's
// choosing.
bool isSafeHeaderValue(const QByteArray &value)
{
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

} // namespace

CompanionError backendError(int status, const QByteArray &body)
{
    std::optional<QString> message;
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isObject()) {
        const QJsonObject object = document.object();
        // Only the first key present counts, even when its value is not a text.
        for (const auto *key : {"message", "error_description", "error"}) {
            const auto it = object.constFind(QLatin1String(key));
            if (it == object.constEnd())
                continue;
            if (it->isString())
                message = it->toString();
            break;
        }
    }

    if (status == 401 && message && message->contains(QLatin1String("invalid api key"), Qt::CaseInsensitive))
        return CompanionError::server(outdatedKeyText);
    if (message)
        return CompanionError::server(*message);
    return CompanionError::server(QStringLiteral("Sunucu hatası (%1).").arg(status));
}

QCoro::Task<QByteArray> AppModel::request(QString path, QByteArray method, std::optional<QByteArray> body,
                                          std::optional<QString> token, std::optional<QString> prefer)
{
    if (!isConfigured())
        throw CompanionError::missingConfiguration();

    // Read now: a configuration change applies from the next request on.
    const QUrl url(m_supabaseURL + path, QUrl::StrictMode);
    if (!url.isValid())
        throw CompanionError::invalidURL();

    const QByteArray key = m_anonKey.toUtf8();
    if (!isSafeHeaderValue(key))
        throw CompanionError::missingConfiguration();
    const QByteArray authorization = token ? "Bearer " + token->toUtf8() : QByteArray();
    const QByteArray preference = prefer ? prefer->toUtf8() : QByteArray();
    if (!isSafeHeaderValue(authorization) || !isSafeHeaderValue(preference))
        throw CompanionError::invalidResponse();

    QNetworkRequest request(url);
    request.setTransferTimeout(requestIdleTimeoutMs);
    // The key and the token must never follow a redirect to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    request.setRawHeader("apikey", key);
    request.setRawHeader("Content-Type", "application/json");
    if (token)
        request.setRawHeader("Authorization", authorization);
    if (prefer)
        request.setRawHeader("Prefer", preference);

    const HttpAnswer answer =
        co_await exchange(m_services.http, std::move(request), std::move(method), body.value_or(QByteArray()));
    if (answer.status >= 200 && answer.status <= 299)
        co_return answer.body;
    throw backendError(answer.status, answer.body);
}
