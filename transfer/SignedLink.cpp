#include "transfer/SignedLink.h"

#include "core/CompanionError.h"
#include "core/Json.h"

#include <QJsonObject>

const QString downloadFailedText = QStringLiteral("Evrak indirilemedi.");

QString signedLink(const QByteArray &answer)
{
    const QJsonObject object = parseJsonObject(answer);
    const QJsonValue link = object.contains(QLatin1String("signedURL")) ? object.value(QLatin1String("signedURL"))
                                                                        : object.value(QLatin1String("signedUrl"));
    if (!link.isString())
        throw CompanionError::invalidResponse();
    return link.toString();
}

QUrl downloadAddress(const QString &link, const QString &backendURL)
{
    QUrl address(link, QUrl::StrictMode);
    if (!address.isValid() || address.scheme().isEmpty()) {
        address = QUrl(backendURL + QStringLiteral("/storage/v1") + link, QUrl::StrictMode);
        if (!address.isValid())
            throw CompanionError::invalidURL();
    }
    // Only the web is fetched: a file: or other link from the backend must not reach local data.
    if (address.scheme() != QLatin1String("https") && address.scheme() != QLatin1String("http"))
        throw CompanionError::server(downloadFailedText);
    return address;
}
