#include "cloud/CloudSession.h"

#include "core/CompanionError.h"
#include "core/Json.h"

#include <QJsonObject>

#include <cmath>

namespace {

// Stored instants count from 2001-01-01 00:00:00 UTC, as the program always stored them.
constexpr qint64 referenceDateMs = 978307200000LL;

// Far beyond any real token lifetime or stored date (about 3000 years); larger numbers would overflow
// the date arithmetic.
constexpr double maxSeconds = 1e11;

bool isUsableSeconds(double seconds)
{
    return std::isfinite(seconds) && std::fabs(seconds) <= maxSeconds;
}

} // namespace

QByteArray CloudSession::toJson() const
{
    const double seconds = static_cast<double>(expiresAt.toMSecsSinceEpoch() - referenceDateMs) / 1000.0;
    QJsonObject object{
        {QStringLiteral("accessToken"), accessToken},
        {QStringLiteral("refreshToken"), refreshToken},
        {QStringLiteral("expiresAt"), seconds},
        {QStringLiteral("userId"), userId},
    };
    if (issuer) {
        object.insert(QStringLiteral("issuerURL"), issuer->url);
        object.insert(QStringLiteral("issuerKey"), issuer->key);
    }
    return compactJson(object);
}

std::optional<CloudSession> CloudSession::fromJson(const QByteArray &json)
{
    const std::optional<QJsonObject> parsed = jsonObject(json);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;
    const QJsonValue access = object.value(QLatin1String("accessToken"));
    const QJsonValue refresh = object.value(QLatin1String("refreshToken"));
    const QJsonValue expires = object.value(QLatin1String("expiresAt"));
    const QJsonValue user = object.value(QLatin1String("userId"));
    if (!access.isString() || !refresh.isString() || !expires.isDouble() || !user.isString()
        || !isUsableSeconds(expires.toDouble()))
        return std::nullopt;

    const auto ms = static_cast<qint64>(std::llround(expires.toDouble() * 1000.0));
    CloudSession session{access.toString(), refresh.toString(),
        QDateTime::fromMSecsSinceEpoch(referenceDateMs + ms, Qt::UTC), user.toString(), std::nullopt};
    // A half-written or mistyped issuer counts as unknown, like a session of an earlier build.
    const QJsonValue issuerURL = object.value(QLatin1String("issuerURL"));
    const QJsonValue issuerKey = object.value(QLatin1String("issuerKey"));
    if (issuerURL.isString() && issuerKey.isString())
        session.issuer = Backend{issuerURL.toString(), issuerKey.toString()};
    return session;
}

CloudSession CloudSession::fromAuthResponse(const QByteArray &answer, const QDateTime &now)
{
    const QJsonObject object = parseJsonObject(answer);
    const QJsonValue access = object.value(QLatin1String("access_token"));
    const QJsonValue refresh = object.value(QLatin1String("refresh_token"));
    const QJsonValue expiresIn = object.value(QLatin1String("expires_in"));
    const QJsonValue user = object.value(QLatin1String("user"));
    const QJsonValue userId = user.toObject().value(QLatin1String("id"));
    if (!access.isString() || !refresh.isString() || !expiresIn.isDouble() || !user.isObject()
        || !userId.isString() || !isUsableSeconds(expiresIn.toDouble()))
        throw CompanionError::invalidResponse();

    const auto lifetimeMs = static_cast<qint64>(std::llround(expiresIn.toDouble() * 1000.0));
    return CloudSession{
        access.toString(), refresh.toString(), now.addMSecs(lifetimeMs), userId.toString(), std::nullopt};
}
