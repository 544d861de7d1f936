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
        tls.setCaCertificates(tlsConfiguration().caCertificates());
        request.setSslConfiguration(tls);
    }
    if (body.isEmpty())
        return m_manager.sendCustomRequest(request, method);
    return m_manager.sendCustomRequest(request, method, body);
}

QSslConfiguration QtHttpClient::tlsConfiguration() const
{
    if (!m_tls) {
        // Qt trusts the system on demand only while a configuration names no authority at all: adding
        // one trusts that list alone. Without an extra authority the default is left as it is, and
        // OpenSSL looks up just the roots a server needs (reading them all costs a few megabytes for
        // the life of the program). With one, the list is the system's roots in full plus it, the
        // same for the requests and the push socket.
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        if (!m_extraAuthorities.isEmpty())
            tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + m_extraAuthorities);
        m_tls = tls;
    }
    return *m_tls;
}

QList<QSslCertificate> QtHttpClient::loadAuthorities(const QString &pemPath)
{
    if (pemPath.isEmpty())
        return {};
    return QSslCertificate::fromPath(pemPath, QSsl::Pem);
}
