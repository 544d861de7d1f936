// The yardstick of the idle-memory bench: the least a Qt Widgets program that fetches one https
// address can be. It trusts the system's authorities (and one named on its command line, if any),
// prints the answer's status and then idles like a tray program until it is ended.
#include <QApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: minimal_https URL [CA.pem]\n");
        return 2;
    }
    QNetworkRequest request(QUrl(QString::fromLocal8Bit(argv[1])));
    if (argc > 2) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(QString::fromLocal8Bit(argv[2])));
        request.setSslConfiguration(tls);
    }
    QNetworkAccessManager network;
    QNetworkReply *reply = network.get(request);
    QObject::connect(reply, &QNetworkReply::finished, [reply] {
        std::printf("status %d\n", reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
        std::fflush(stdout);
        reply->deleteLater();
    });
    return app.exec();
}
