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
