#include "update/DesktopUpdateManifest.h"

#include "core/Json.h"

#include <QJsonObject>

std::optional<DesktopUpdateManifest> DesktopUpdateManifest::fromJson(const QByteArray &json)
{
    const std::optional<QJsonObject> parsed = jsonObject(json);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;
    const QJsonValue version = object.value(QLatin1String("version"));
    const QJsonValue url = object.value(QLatin1String("macUniversalUrl"));
    const QJsonValue digest = object.value(QLatin1String("macUniversalSha256"));
    if (!version.isString() || !url.isString() || !digest.isString())
        return std::nullopt;
    return DesktopUpdateManifest{version.toString(), url.toString(), digest.toString()};
}
