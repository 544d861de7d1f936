#include "cloud/CloudConfiguration.h"

#include "cloud/Backend.h"
#include "core/Json.h"

#include <QJsonObject>
#include <QTextBoundaryFinder>

#include <cmath>

namespace {

constexpr int minimumKeyLength = 40;

// Counts what a reader sees as one character each: a flag or an accented letter built of several
// code points is one.
int userPerceivedLength(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

} // namespace

std::optional<CloudConfiguration> CloudConfiguration::fromJson(const QByteArray &json)
{
    const std::optional<QJsonObject> parsed = jsonObject(json);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;
    const QJsonValue url = object.value(QLatin1String("supabaseUrl"));
    const QJsonValue key = object.value(QLatin1String("supabaseAnonKey"));
    const QJsonValue revision = object.value(QLatin1String("revision"));
    if (!url.isString() || !key.isString() || !revision.isDouble())
        return std::nullopt;

    // A whole number that fits a 64-bit integer; 7.0 counts, 7.5 and 1e30 do not.
    const double number = revision.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) >= 9.2e18)
        return std::nullopt;
    const qint64 whole = revision.toInteger(static_cast<qint64>(number));
    return CloudConfiguration{url.toString(), key.toString(), whole};
}

bool isValidCloudConfiguration(const QString &url, const QString &key)
{
    return isHttpsAddress(url) && userPerceivedLength(key.trimmed()) >= minimumKeyLength;
}
