#include "cloud/BackendError.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

namespace {

const QString outdatedKeyText = QStringLiteral(
    "Tarvolin bağlantı ayarı güncel değil. İnternet bağlantınızı kontrol edip tekrar deneyin.");

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
