#include "cloud/Exchange.h"

#include "core/CompanionError.h"
#include "platform/PlatformError.h"

#include <QCoro/QCoroNetworkReply>
#include <QNetworkReply>
#include <QPointer>

#include <exception>
#include <memory>

namespace {

// Error bodies only ever give us a message; the rest of a long one is dropped.
constexpr qsizetype maxErrorBodyBytes = qsizetype(64) * 1024;

// A successful answer that we stopped, or that came shorter or longer than it said.
const QString cutShortText = QStringLiteral("Yanıt yarıda kesildi.");

// Bounds the reply's own buffer, so that bytes reach the sink as they come instead of piling up.
constexpr qint64 readBufferBytes = 1 << 20;

// Qt numbers its errors by family: below 200 the network and proxy failures, from 200 on the
// errors it derives from an HTTP status or from a broken HTTP conversation.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

// Moves what has arrived to its place: the sink for a successful answer, the error body otherwise.
// Once the sink has refused, nothing more is read; the reply is stopped from the event loop.
struct Drain {
    QNetworkReply *reply;
    ReplySink &sink;
    ExchangeResult &result;
    std::exception_ptr refusal;

    qint64 delivered = 0; // bytes of a successful answer handed to the sink

    void operator()()
    {
        // An aborted reply is closed; nothing of it is read any more.
        if (refusal || !reply->isOpen())
            return;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QByteArray chunk = reply->readAll();
        if (chunk.isEmpty())
            return;
        if (status.isValid() && isSuccess(status.toInt())) {
            try {
                sink.write(chunk);
                delivered += chunk.size();
            } catch (...) {
                refusal = std::current_exception();
                // Not from inside the reply's own readyRead: abort() finishes the reply at once, and
                // the network stack still has work to do on it when this signal returns.
                QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
            }
            return;
        }
        const qsizetype room = maxErrorBodyBytes - result.errorBody.size();
        if (room > 0)
            result.errorBody.append(chunk.left(room));
    }
};

// The waiting coroutine resumes inside the reply's finished signal, often from within abort() or
// the network stack's own handler; deleting the reply there frees an object that is still running.
struct DeleteLater {
    void operator()(QNetworkReply *reply) const
    {
        QObject::disconnect(reply, &QIODevice::readyRead, nullptr, nullptr); // its handler lives in our frame
        reply->deleteLater();
    }
};

} // namespace

void BufferSink::write(QByteArrayView chunk)
{
    if (bytes.size() + chunk.size() > m_cap)
        throw CompanionError::invalidResponse();
    bytes.append(chunk);
}

QCoro::Task<ExchangeResult> exchange(HttpClient &http, QNetworkRequest request, QByteArray method,
    QByteArray body, ReplySink &sink, std::chrono::milliseconds idleTimeout, Cancellation *stop)
{
    request.setTransferTimeout(int(idleTimeout.count()));
    const std::unique_ptr<QNetworkReply, DeleteLater> reply(http.send(request, method, body));
    reply->setReadBufferSize(readBufferBytes);

    ExchangeResult result;
    Drain drain{reply.get(), sink, result, {}, 0};
    QObject::connect(reply.get(), &QIODevice::readyRead, reply.get(), [&drain] { drain(); });
    if (stop) {
        // Queued for the same reason as the sink's refusal; the reply's own context drops it with
        // the reply.
        QObject::connect(
            stop, &Cancellation::cancelled, reply.get(), &QNetworkReply::abort, Qt::QueuedConnection);
        if (stop->isCancelled())
            QMetaObject::invokeMethod(reply.get(), &QNetworkReply::abort, Qt::QueuedConnection);
    }
    // A successful answer whose body fails (one it cannot decode, say) is not always finished by the
    // network stack: left alone it would wait for the idle time-out. An error answer's body is still
    // read for its message.
    QObject::connect(reply.get(), &QNetworkReply::errorOccurred, reply.get(), [raw = reply.get()] {
        const QVariant status = raw->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && isSuccess(status.toInt()) && !raw->isFinished())
            QMetaObject::invokeMethod(raw, &QNetworkReply::abort, Qt::QueuedConnection);
    });
    if (!reply->isFinished())
        co_await reply.get();
    drain();
    if (drain.refusal)
        std::rethrow_exception(drain.refusal);

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        // A peer that took the connection and then hung up without a status line did not answer
        // in HTTP: Qt reports a peer that writes something else and closes exactly so.
        if (isTransportFailure(reply->error()) && reply->error() != QNetworkReply::RemoteHostClosedError)
            throw PlatformError(reply->errorString());
        throw CompanionError::invalidResponse();
    }
    result.status = status.toInt();
    // The body of an answer outside 200-299 is only ever read for its message, so a broken one
    // changes nothing. A successful one is whole only when the reply ended without any error (Qt
    // reports a body it could not decode, or one cut short, as an error of a higher family than the
    // network's), we did not stop it, and it is as long as it said it would be.
    if (!isSuccess(result.status))
        co_return result;
    if (reply->error() != QNetworkReply::NoError)
        throw PlatformError(reply->errorString());
    if (stop && stop->isCancelled())
        throw PlatformError(cutShortText);
    // Qt drops the header when it decodes a compressed body itself: then there is nothing to compare.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != drain.delivered)
        throw PlatformError(cutShortText);
    co_return result;
}

QCoro::Task<HttpAnswer> fetchAnswer(HttpClient &http, QNetworkRequest request, QByteArray method,
    QByteArray body, std::chrono::milliseconds idleTimeout)
{
    BufferSink sink;
    const ExchangeResult result
        = co_await exchange(http, request, std::move(method), std::move(body), sink, idleTimeout);
    co_return HttpAnswer{result.status, isSuccess(result.status) ? sink.bytes : result.errorBody};
}
