#include "platform/linux/SystemClock.h"

#include <QCoro/QCoroSignal>

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

QCoro::Task<bool> SystemClock::sleep(std::chrono::milliseconds duration, Cancellation &cancellation)
{
    // A cancellation that came before the wait would never be seen by the signal.
    if (cancellation.isCancelled())
        co_return false;
    // QTimer runs on the monotonic clock; the signal wait ends early on cancellation.
    const auto cancelled = co_await qCoro(&cancellation, &Cancellation::cancelled, duration);
    co_return !cancelled.has_value();
}
