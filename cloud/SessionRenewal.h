#pragma once

#include "app/AppModel.h"

#include <QObject>

#include <exception>
#include <optional>

// Announces the end of a session renewal to the callers that joined it.
class RenewalSignal : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void finished();
};

// One refresh or sign-up in flight. Every caller that finds the session due while it runs waits for
// it instead of starting its own, so no second anonymous user is made. Each waiter holds a shared
// reference, so the object outlives every wait on its signal.
struct AppModel::SessionRenewal {
    RenewalSignal signal;
    bool done = false;
    std::optional<CloudSession> result;
    std::exception_ptr error;
};
