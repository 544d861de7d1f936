#include "transfer/SignedLink.h"

#include "core/CompanionError.h"
#include "core/Json.h"

#include <QHostAddress>
#include <QJsonObject>

const QString downloadFailedText = QStringLiteral("Evrak indirilemedi.");

QString signedLink(const QByteArray &answer)
{
    const QJsonObject object = parseJsonObject(answer);
    const QJsonValue link = object.contains(QLatin1String("signedURL"))
        ? object.value(QLatin1String("signedURL"))
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
    // Only the web is fetched: a file: or other link from the backend must not reach local data. Plain
    // http can be read and changed on the way, so it is taken only on this machine (a local backend).
    const bool loopback
        = address.host() == QLatin1String("localhost") || QHostAddress(address.host()).isLoopback();
    const bool secure = address.scheme() == QLatin1String("https");
    if (!secure && !(address.scheme() == QLatin1String("http") && loopback))
        throw CompanionError::server(downloadFailedText);
    return address;
}
