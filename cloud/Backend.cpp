#include "cloud/Backend.h"

#include <QUrl>

bool isHttpsAddress(const QString &text)
{
    // QUrl lower-cases the scheme it reports, so the text itself must begin with it as written.
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && text.startsWith(QLatin1String("https:"));
}

bool Backend::isConfigured() const
{
    return isHttpsAddress(url) && !key.trimmed().isEmpty();
}

Backend Backend::normalised() const
{
    const QString address = url.trimmed();
    qsizetype begin = 0;
    qsizetype end = address.size();
    while (begin < end && address.at(begin) == QLatin1Char('/'))
        ++begin;
    while (end > begin && address.at(end - 1) == QLatin1Char('/'))
        --end;
    return Backend{address.mid(begin, end - begin), key.trimmed()};
}
