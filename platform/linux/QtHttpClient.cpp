#include "platform/linux/QtHttpClient.h"

#include <QSslConfiguration>

QtHttpClient::QtHttpClient(QList<QSslCertificate> extraAuthorities)
    : m_extraAuthorities(std::move(extraAuthorities))
{
    // No disk cache and no cookie jar: every answer comes from the server itself.
    m_manager.setCookieJar(nullptr);
}

QNetworkReply *QtHttpClient::send(QNetworkRequest request, const QByteArray &method, const QByteArray &body)
{
    if (!m_extraAuthorities.isEmpty()) {
        QSslConfiguration tls = request.sslConfiguration();
        tls.addCaCertificates(m_extraAuthorities);
        request.setSslConfiguration(tls);
    }
    if (body.isEmpty())
        return m_manager.sendCustomRequest(request, method);
    return m_manager.sendCustomRequest(request, method, body);
}

QList<QSslCertificate> QtHttpClient::loadAuthorities(const QString &pemPath)
{
    if (pemPath.isEmpty())
        return {};
    return QSslCertificate::fromPath(pemPath, QSsl::Pem);
}
