#include "core/Json.h"

#include "core/CompanionError.h"
#include "platform/PlatformError.h"

#include <QJsonDocument>

QJsonObject parseJsonObject(const QByteArray &json)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        // The parser's words alone ("invalid termination by number") tell the user nothing.
        throw PlatformError(QStringLiteral("Sunucunun yanıtı okunamadı: ") + parseError.errorString());
    if (!document.isObject())
        throw CompanionError::invalidResponse();
    return document.object();
}

std::optional<QJsonObject> jsonObject(const QByteArray &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

QByteArray compactJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
