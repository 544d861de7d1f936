#include "pairing/PairingResponse.h"

#include "core/Json.h"

#include <QJsonObject>

std::optional<PairingResponse> PairingResponse::fromJson(const QByteArray &json)
{
    const std::optional<QJsonObject> parsed = jsonObject(json);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;
    QString values[5];
    const char *keys[5] = {"computerId", "computerName", "code", "expiresAt", "qrText"};
    for (int i = 0; i < 5; ++i) {
        const QJsonValue value = object.value(QLatin1String(keys[i]));
        if (!value.isString())
            return std::nullopt;
        values[i] = value.toString();
    }
    return PairingResponse{values[0], values[1], values[2], values[3], values[4]};
}
