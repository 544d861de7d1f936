#include "update/DesktopUpdateManifest.h"

#include <QJsonDocument>
#include <QJsonObject>

std::optional<DesktopUpdateManifest> DesktopUpdateManifest::fromJson(const QByteArray &json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QLatin1String("version"));
    const QJsonValue url = object.value(QLatin1String("macUniversalUrl"));
    const QJsonValue digest = object.value(QLatin1String("macUniversalSha256"));
    if (!version.isString() || !url.isString() || !digest.isString())
        return std::nullopt;
    return DesktopUpdateManifest{version.toString(), url.toString(), digest.toString()};
}
