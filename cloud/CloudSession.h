#pragma once

#include "cloud/Backend.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// The anonymous backend user's session.
struct CloudSession {
    QString accessToken;
    QString refreshToken;
    QDateTime expiresAt; // UTC
    QString userId;
    // The backend (normalised) that issued it; its tokens go nowhere else. Sessions stored by
    // earlier builds do not say.
    std::optional<Backend> issuer = std::nullopt;

    // The stored form: one compact JSON object with the four keys, `expiresAt` as seconds (with
    // fraction) since 2001-01-01 00:00:00 UTC, and `issuerURL` and `issuerKey` when the issuer is known.
    QByteArray toJson() const;
    // Reads the stored form back; nothing when one of the four keys is missing or of another type.
    static std::optional<CloudSession> fromJson(const QByteArray &json);
    // Reads a sign-up or refresh answer, its lifetime counted from `now`; the issuer is left unset.
    // Throws the parser's error for text that is not JSON, and CompanionError::invalidResponse for a
    // missing or mistyped field.
    static CloudSession fromAuthResponse(const QByteArray &answer, const QDateTime &now);

    bool operator==(const CloudSession &) const = default;
};
