#pragma once

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

    // The stored form: one compact JSON object with the four keys, `expiresAt` as seconds (with
    // fraction) since 2001-01-01 00:00:00 UTC.
    QByteArray toJson() const;
    // Reads the stored form back; nothing when a key is missing or of another type.
    static std::optional<CloudSession> fromJson(const QByteArray &json);
    // Reads a sign-up or refresh answer, its lifetime counted from `now`. Throws the parser's error
    // for text that is not JSON, and CompanionError::invalidResponse for a missing or mistyped field.
    static CloudSession fromAuthResponse(const QByteArray &answer, const QDateTime &now);

    bool operator==(const CloudSession &) const = default;
};
