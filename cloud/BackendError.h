#pragma once

#include "core/CompanionError.h"

#include <QByteArray>

// The error a backend answer outside 200-299 stands for: the backend's own message when its body
// carries one, the out-of-date-key text for a 401 about the key, the generic server text otherwise.
// Its httpStatus() is what answerStatus() reads.
CompanionError backendError(int status, const QByteArray &body);

// The status an answer means. The storage service answers most refusals with 400 and puts the real
// status in the body's "statusCode" (a text or a number); any other answer means its own status.
int answerStatus(int status, const QByteArray &body);
