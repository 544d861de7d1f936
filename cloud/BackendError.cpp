#include "cloud/BackendError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <optional>

namespace {

const QString outdatedKeyText = QStringLiteral(
    "Tarvolin bağlantı ayarı güncel değil. İnternet bağlantınızı kontrol edip tekrar deneyin.");

} // namespace

int answerStatus(int status, const QByteArray &body)
{
    if (status != 400)
        return status;
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonValue inner = document.object().value(QLatin1String("statusCode"));
    bool ok = inner.isDouble();
    int meant = inner.toInt();
    if (inner.isString())
        meant = inner.toString().toInt(&ok);
    return ok && meant >= 400 && meant <= 599 ? meant : status;
}

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
        return CompanionError::server(outdatedKeyText, status);
    const int meant = answerStatus(status, body);
    if (message)
        return CompanionError::server(*message, meant);
    return CompanionError::server(QStringLiteral("Sunucu hatası (%1).").arg(status), meant);
}
