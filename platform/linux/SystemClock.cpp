#include "platform/linux/SystemClock.h"

#include <QCoro/QCoroSignal>
#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

namespace {

// One wait on the boot-time clock. A QTimer runs on the monotonic clock, which stands still while
// the computer sleeps: a pass due during a suspend would come that much later after the resume.
// The boot-time clock counts the suspend, so a deadline that passed meanwhile fires at the resume.
class BootTimeWait : public QObject
{
    Q_OBJECT
public:
    BootTimeWait(std::chrono::milliseconds duration, Cancellation &cancellation)
        : m_fd(timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC))
    {
        connect(&cancellation, &Cancellation::cancelled, this, &BootTimeWait::ended);
        if (m_fd < 0)
            return;
        const qint64 ms = std::max<qint64>(1, duration.count()); // zero would disarm the timer
        itimerspec due{};
        due.it_value.tv_sec = ms / 1000;
        due.it_value.tv_nsec = (ms % 1000) * 1000000;
        if (timerfd_settime(m_fd, 0, &due, nullptr) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &BootTimeWait::ended);
    }
    ~BootTimeWait() override
    {
        delete m_notifier;
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool isArmed() const { return m_fd >= 0; }

Q_SIGNALS:
    void ended();

private:
    int m_fd;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

QCoro::Task<bool> SystemClock::sleep(std::chrono::milliseconds duration, Cancellation &cancellation)
{
    // A cancellation that came before the wait would never be seen by the signal.
    if (cancellation.isCancelled())
        co_return false;
    BootTimeWait wait(duration, cancellation);
    if (wait.isArmed())
        co_await qCoro(&wait, &BootTimeWait::ended);
    else // no timer descriptor to be had: the monotonic clock is the next best
        co_await qCoro(&cancellation, &Cancellation::cancelled, duration);
    co_return !cancellation.isCancelled();
}

#include "SystemClock.moc"
