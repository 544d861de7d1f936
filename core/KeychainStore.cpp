#include "core/KeychainStore.h"

QCoro::Task<> KeychainStore::save(QByteArray data, QString account)
{
    co_await m_store.save(QString::fromLatin1(service), std::move(account), std::move(data));
}

QCoro::Task<std::optional<QByteArray>> KeychainStore::load(QString account)
{
    co_return co_await m_store.load(QString::fromLatin1(service), std::move(account));
}

QCoro::Task<> KeychainStore::remove(QString account)
{
    co_await m_store.remove(QString::fromLatin1(service), std::move(account));
}
