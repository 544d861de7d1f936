#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The official configuration document of the product web site.
struct CloudConfiguration {
    QString supabaseUrl;
    QString supabaseAnonKey;
    qint64 revision = 0;

    // Strict: all three keys required, the two texts as JSON strings, `revision` as a JSON number
    // with a whole value. Nothing when the document does not decode.
    static std::optional<CloudConfiguration> fromJson(const QByteArray &json);
};

// Whether an address and key, from any source, may be used at all: the address, unchanged, an https
// URL as written, and the trimmed key at least 40 characters as a reader counts them.
bool isValidCloudConfiguration(const QString &url, const QString &key);
