#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// This computer's one-time pairing code, as the backend answered it.
struct PairingResponse {
    QString computerId;
    QString computerName;
    QString code;
    QString expiresAt; // as the backend words it; never parsed
    QString qrText;

    // Strict: all five keys required as JSON strings. Nothing when the answer does not decode.
    static std::optional<PairingResponse> fromJson(const QByteArray &json);

    bool operator==(const PairingResponse &) const = default;
};
