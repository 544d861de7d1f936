#include "platform/linux/QtKeychainSecretStore.h"

#include <qt6keychain/keychain.h>

#include <QCoro/QCoroSignal>

namespace {

// Jobs live on the heap and delete themselves once finished, so a job that outlives its waiter (a
// hung store) cleans up after itself whenever it does end.
template <typename JobType> JobType *makeJob(const QString &service, const QString &account)
{
    auto *job = new JobType(service);
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(account);
    return job;
}

// Starts the job and waits for it; false when it failed or did not finish in time.
template <typename JobType> QCoro::Task<bool> run(JobType *job, std::chrono::milliseconds timeout)
{
    QPointer<JobType> guard(job);
    // The waiter is connected before start(): some back ends finish synchronously.
    auto finished = qCoro(static_cast<QKeychain::Job *>(job), &QKeychain::Job::finished, timeout);
    job->start();
    const auto result = co_await finished;
    co_return result.has_value() && guard && guard->error() == QKeychain::NoError;
}

} // namespace

QtKeychainSecretStore::QtKeychainSecretStore(std::chrono::milliseconds timeout)
    : m_timeout(timeout)
{
}

QCoro::Task<> QtKeychainSecretStore::save(QString service, QString account, QByteArray data)
{
    co_await write(std::move(service), std::move(account), std::move(data));
}

QCoro::Task<bool> QtKeychainSecretStore::write(QString service, QString account, QByteArray data)
{
    auto *job = makeJob<QKeychain::WritePasswordJob>(service, account);
    job->setBinaryData(data);
    co_return co_await run(job, m_timeout);
}

QCoro::Task<std::optional<QByteArray>> QtKeychainSecretStore::load(QString service, QString account)
{
    auto *job = makeJob<QKeychain::ReadPasswordJob>(service, account);
    QPointer<QKeychain::ReadPasswordJob> guard(job);
    if (!co_await run(job, m_timeout) || !guard)
        co_return std::nullopt;
    co_return guard->binaryData();
}

QCoro::Task<> QtKeychainSecretStore::remove(QString service, QString account)
{
    co_await erase(std::move(service), std::move(account));
}

QCoro::Task<bool> QtKeychainSecretStore::erase(QString service, QString account)
{
    co_return co_await run(makeJob<QKeychain::DeletePasswordJob>(service, account), m_timeout);
}
