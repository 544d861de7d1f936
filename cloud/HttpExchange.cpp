#include "cloud/HttpExchange.h"

#include "core/CompanionError.h"
#include "platform/PlatformError.h"

#include <QNetworkReply>
#include <QCoro/QCoroNetworkReply>

#include <memory>

namespace {

// Qt numbers its errors by family: below 200 the network and proxy failures, from 200 on the
// errors it derives from an HTTP status or from a broken HTTP conversation.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

} // namespace

QCoro::Task<HttpAnswer> exchange(HttpClient &http, QNetworkRequest request, QByteArray method, QByteArray body)
{
    std::unique_ptr<QNetworkReply> reply(http.send(std::move(request), method, body));
    QNetworkReply *raw = reply.get();

    auto tooLarge = std::make_shared<bool>(false);
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw, tooLarge] {
        if (*tooLarge || raw->bytesAvailable() <= maxAnswerBytes)
            return;
        *tooLarge = true;
        raw->abort();
    });

    if (!raw->isFinished())
        co_await raw;

    if (*tooLarge)
        throw CompanionError::invalidResponse();

    const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        // A peer that took the connection and then hung up without a status line did not answer
        // in HTTP: Qt reports a peer that writes something else and closes exactly so.
        if (isTransportFailure(raw->error()) && raw->error() != QNetworkReply::RemoteHostClosedError)
            throw PlatformError(raw->errorString());
        throw CompanionError::invalidResponse();
    }
    // A status line followed by a broken-off body is still a failed transfer.
    if (isTransportFailure(raw->error()))
        throw PlatformError(raw->errorString());

    co_return HttpAnswer{status.toInt(), raw->readAll()};
}
