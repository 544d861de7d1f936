#pragma once

#include "platform/HttpClient.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QCoro/QCoroTask>

// The whole answer of one HTTP exchange.
struct HttpAnswer {
    int status = 0;
    QByteArray body;
};

// Every answer we read is a small JSON document; anything bigger is not what we asked for, and
// collecting it would only let a broken server fill the memory.
inline constexpr qint64 maxAnswerBytes = 16 * 1024 * 1024;

// Sends the request through the HTTP seam and waits for the whole answer, whatever its status.
// Throws PlatformError with the network stack's description on a transport failure (no network,
// refused, TLS, time-out, connection lost mid-body), and CompanionError::invalidResponse when the
// peer did not answer in HTTP or the body exceeds maxAnswerBytes.
QCoro::Task<HttpAnswer> exchange(HttpClient &http, QNetworkRequest request, QByteArray method, QByteArray body);
