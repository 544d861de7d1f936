#include "platform/linux/ChildProcessSecretStore.h"

#include "platform/linux/QtKeychainSecretStore.h"

#include <QCoreApplication>
#include <QCoro/QCoroProcess>
#include <QCoro/QCoroSignal>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>

#include <algorithm>
#include <cstdio>

namespace {

// The helper's exit codes. Anything else, a crash or a kill, is a failure too.
constexpr int Done = 0;
constexpr int NothingOrFailed = 1;

const QString Load = QStringLiteral("load");
const QString Save = QStringLiteral("save");
const QString Remove = QStringLiteral("remove");

// One operation's place in the line; it ends when the operation does, however that is.
class Turn : public QObject
{
    Q_OBJECT
public:
    bool over = false;
    void end()
    {
        over = true;
        Q_EMIT ended();
    }

Q_SIGNALS:
    void ended();
};

} // namespace

struct ChildProcessSecretStore::Queue {
    std::shared_ptr<Turn> last;
    int pending = 0;
};

ChildProcessSecretStore::ChildProcessSecretStore(QString helper, std::chrono::milliseconds timeout)
    : m_helper(std::move(helper))
    , m_timeout(timeout)
    , m_queue(std::make_shared<Queue>())
{
}

QCoro::Task<> ChildProcessSecretStore::save(QString service, QString account, QByteArray data)
{
    co_await run(Save, std::move(service), std::move(account), std::move(data));
}

QCoro::Task<std::optional<QByteArray>> ChildProcessSecretStore::load(QString service, QString account)
{
    co_return co_await run(Load, std::move(service), std::move(account), {});
}

QCoro::Task<> ChildProcessSecretStore::remove(QString service, QString account)
{
    co_await run(Remove, std::move(service), std::move(account), {});
}

QCoro::Task<std::optional<QByteArray>> ChildProcessSecretStore::run(
    QString operation, QString service, QString account, QByteArray input)
{
    // Copied before the first wait: the store may be gone by the time this operation's turn comes.
    const std::shared_ptr<Queue> queue = m_queue;
    const QString helper = m_helper;
    const std::chrono::milliseconds timeout = m_timeout;

    // A removal followed by a save must reach the store in that order, or the new session goes.
    std::shared_ptr<Turn> previous = std::exchange(queue->last, std::make_shared<Turn>());
    const std::shared_ptr<Turn> mine = queue->last;
    ++queue->pending;
    const auto leave = qScopeGuard([&queue, &mine] {
        --queue->pending;
        mine->end();
    });
    if (previous && !previous->over)
        co_await qCoro(previous.get(), &Turn::ended);
    previous.reset();

    // The secret goes through the pipes only: a command line can be read by every user in /proc.
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QDeadlineTimer deadline(timeout);
    child.start(helper, {QString::fromLatin1(helperArgument), operation, service, account});
    if (!co_await qCoro(child).waitForStarted(timeout) || child.state() != QProcess::Running)
        co_return std::nullopt;
    auto finished = qCoro(&child, &QProcess::finished,
        std::chrono::milliseconds(std::max<qint64>(1, deadline.remainingTime())));
    child.write(input);
    child.closeWriteChannel();
    if (!co_await finished) {
        // Reaped at once, so a hung store leaves neither a process nor a zombie behind.
        child.kill();
        child.waitForFinished(1000);
        co_return std::nullopt;
    }
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != Done)
        co_return std::nullopt;
    co_return child.readAllStandardOutput();
}

void ChildProcessSecretStore::finishPendingWork()
{
    // Each child ends or is killed within the time-out, one after the other, so this wait ends too.
    const QDeadlineTimer deadline((m_timeout + std::chrono::seconds(1)) * m_queue->pending);
    while (m_queue->pending > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

int ChildProcessSecretStore::runHelper(int argc, char *argv[])
{
    if (argc != 5)
        return NothingOrFailed;
    const QString operation = QString::fromLocal8Bit(argv[2]);
    const QString service = QString::fromLocal8Bit(argv[3]);
    const QString account = QString::fromLocal8Bit(argv[4]);
    // No display and no user interface: the child must stay as small and as quick as it can.
    const QCoreApplication application(argc, argv);

    QtKeychainSecretStore store;
    if (operation == Load) {
        const std::optional<QByteArray> data = QCoro::waitFor(store.load(service, account));
        if (!data)
            return NothingOrFailed;
        const bool written = std::fwrite(data->constData(), 1, data->size(), stdout) == size_t(data->size());
        return std::fflush(stdout) == 0 && written ? Done : NothingOrFailed;
    }
    if (operation == Save) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            return NothingOrFailed;
        return QCoro::waitFor(store.write(service, account, in.readAll())) ? Done : NothingOrFailed;
    }
    if (operation == Remove)
        return QCoro::waitFor(store.erase(service, account)) ? Done : NothingOrFailed;
    return NothingOrFailed;
}

#include "ChildProcessSecretStore.moc"
