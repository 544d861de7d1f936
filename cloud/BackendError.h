#pragma once

#include "core/CompanionError.h"

#include <QByteArray>

// The error a backend answer outside 200-299 stands for: the backend's own message when its body
// carries one, the out-of-date-key text for a 401 about the key, the generic server text otherwise.
CompanionError backendError(int status, const QByteArray &body);
