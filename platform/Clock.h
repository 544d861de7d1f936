#pragma once

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QObject>

#include <chrono>

// A cancellation flag that sleeping coroutines can wait on. Cancelling is sticky: a waiter that
// arrives after the fact sees isCancelled() and does not wait at all.
class Cancellation : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    bool isCancelled() const { return m_cancelled; }
    void cancel()
    {
        if (m_cancelled)
            return;
        m_cancelled = true;
        Q_EMIT cancelled();
    }

Q_SIGNALS:
    void cancelled();

private:
    bool m_cancelled = false;
};

// Wall-clock time and waiting, injected so that time-dependent rules can be tested without waiting.
class Clock
{
public:
    virtual ~Clock() = default;

    // The current wall-clock time, in UTC.
    virtual QDateTime now() const = 0;
    // Waits for the duration, counting time the computer spent asleep (a wait due during a suspend
    // ends at the resume), or less when `cancellation` fires meanwhile.
    // Returns false when the wait ended because of the cancellation.
    virtual QCoro::Task<bool> sleep(std::chrono::milliseconds duration, Cancellation &cancellation) = 0;
};
