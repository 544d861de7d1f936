#pragma once

#include "platform/HttpClient.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <optional>

// The one QNetworkAccessManager of the process. Trusts the system's authorities, plus one extra
// authority when a test or demo build names it.
class QtHttpClient : public HttpClient
{
public:
    explicit QtHttpClient(QList<QSslCertificate> extraAuthorities = {});

    QNetworkReply *send(QNetworkRequest request, const QByteArray &method, const QByteArray &body) override;
    QSslConfiguration tlsConfiguration() const override;

    // Reads a PEM file of authorities; empty when the path is empty or unreadable.
    static QList<QSslCertificate> loadAuthorities(const QString &pemPath);

private:
    QNetworkAccessManager m_manager;
    QList<QSslCertificate> m_extraAuthorities;
    mutable std::optional<QSslConfiguration> m_tls; // read from the system at the first connection
};
