#pragma once

#include "platform/Clock.h"
#include "platform/HttpClient.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCoro/QCoroTask>
#include <QNetworkRequest>

#include <chrono>

// Where the body of a successful answer goes while it arrives. Throwing from write() stops the
// transfer: the exchange then ends with that exception once the reply has been stopped safely.
class ReplySink
{
public:
    virtual ~ReplySink() = default;
    virtual void write(QByteArrayView bytes) = 0;
};

// Every answer we read into memory is a small JSON document; anything bigger is not what we asked
// for, and collecting it would only let a broken server fill the memory.
inline constexpr qint64 maxAnswerBytes = qint64(16) << 20;

// Collects the body in memory; beyond the cap the transfer stops with CompanionError::invalidResponse.
class BufferSink : public ReplySink
{
public:
    explicit BufferSink(qint64 cap = maxAnswerBytes)
        : m_cap(cap)
    {
    }
    void write(QByteArrayView bytes) override;
    QByteArray bytes;

private:
    qint64 m_cap;
};

struct ExchangeResult {
    int status = 0;
    QByteArray errorBody; // the start of the body of an answer outside 200-299
};

// Sends one request and streams its answer: the body of a 2xx answer into `sink`, the first part of
// any other body into the result. `idleTimeout` ends a transfer that stays silent that long; `stop`,
// when given, ends it as a transport failure whenever it fires.
// Throws PlatformError with the network stack's description on a transport failure (no network,
// refused, TLS, time-out, a successful answer broken off mid-body, shorter or longer than its
// Content-Length, undecodable or stopped by `stop`), CompanionError::invalidResponse
// when the peer did not answer in HTTP, and whatever the sink threw.
QCoro::Task<ExchangeResult> exchange(HttpClient &http, QNetworkRequest request, QByteArray method,
    QByteArray body, ReplySink &sink, std::chrono::milliseconds idleTimeout, Cancellation *stop = nullptr);

// The same for small answers of any status, read whole into memory (at most maxAnswerBytes).
struct HttpAnswer {
    int status = 0;
    QByteArray body;
};
QCoro::Task<HttpAnswer> fetchAnswer(HttpClient &http, QNetworkRequest request, QByteArray method,
    QByteArray body, std::chrono::milliseconds idleTimeout);
