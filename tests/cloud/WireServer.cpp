#include "tests/cloud/WireServer.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>

#include <stdexcept>

namespace {

struct TestCertificate {
    QSslCertificate certificate;
    QSslKey key;
};

// One self-signed certificate for 127.0.0.1 per test process, made by openssl.
const TestCertificate &testCertificate()
{
    static const TestCertificate made = [] {
        QTemporaryDir dir;
        const QString certPath = dir.filePath(QStringLiteral("cert.pem"));
        const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
            QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                           "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 "
                           "-addext basicConstraints=critical,CA:TRUE")
                    .split(u' ')
                + QStringList{QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certPath});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            throw std::runtime_error("openssl could not make the test certificate");
        QFile certFile(certPath);
        QFile keyFile(keyPath);
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
            throw std::runtime_error("test certificate unreadable");
        return TestCertificate{
            QSslCertificate(certFile.readAll(), QSsl::Pem), QSslKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem)};
    }();
    return made;
}

// Parses one request once all of it has arrived.
std::optional<WireRequest> parseRequest(const QByteArray &buffer)
{
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return std::nullopt;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    WireRequest request;
    const QList<QByteArray> startLine = lines.value(0).trimmed().split(' ');
    request.method = startLine.value(0);
    request.target = startLine.value(1);
    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name == "content-length")
            contentLength = value.toLongLong();
    }
    if (buffer.size() < headerEnd + 4 + contentLength)
        return std::nullopt;
    request.body = buffer.mid(headerEnd + 4, contentLength);
    return request;
}

} // namespace

bool WireRequest::has(const QByteArray &name) const
{
    return headerNames().contains(name.toLower());
}

QByteArray WireRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key == name.toLower())
            return value;
    return {};
}

QList<QByteArray> WireRequest::headerNames() const
{
    QList<QByteArray> names;
    for (const auto &header : headers)
        names.append(header.first);
    return names;
}

WireServer::WireServer()
{
    testCertificate();
    if (!listen(QHostAddress::LocalHost))
        throw std::runtime_error("test server cannot listen");
}

QString WireServer::baseUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(serverPort());
}

QList<QSslCertificate> WireServer::authorities()
{
    return {testCertificate().certificate};
}

QByteArray WireServer::http(int status, const QByteArray &body, const QByteArray &contentType,
    const QList<QPair<QByteArray, QByteArray>> &extraHeaders)
{
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n";
    answer += "Content-Type: " + contentType + "\r\n";
    answer += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const auto &[name, value] : extraHeaders)
        answer += name + ": " + value + "\r\n";
    answer += "Connection: close\r\n\r\n";
    return answer + body;
}

void WireServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(testCertificate().certificate);
    socket->setPrivateKey(testCertificate().key);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QSslSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const auto request = parseRequest(*buffer);
        if (!request)
            return;
        buffer->clear();
        requests.append(*request);
        if (stall)
            return;
        socket->write(responder(*request));
        socket->disconnectFromHost(); // after the written bytes have gone out
    });
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    socket->startServerEncryption();
}
