#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The published update manifest.
struct DesktopUpdateManifest {
    QString version;
    QString macUniversalUrl;
    QString macUniversalSha256;

    // Strict: all three keys required as JSON strings. Nothing when the manifest does not decode.
    static std::optional<DesktopUpdateManifest> fromJson(const QByteArray &json);
};
