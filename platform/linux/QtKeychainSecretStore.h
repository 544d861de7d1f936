#pragma once

#include "platform/SecretStore.h"

#include <chrono>

// The desktop's Secret Service through QtKeychain. Never falls back to storing secrets in plain
// text; a store that does not answer within the time-out counts as a failure.
class QtKeychainSecretStore : public SecretStore
{
public:
    explicit QtKeychainSecretStore(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    QCoro::Task<> save(QString service, QString account, QByteArray data) override;
    QCoro::Task<std::optional<QByteArray>> load(QString service, QString account) override;
    QCoro::Task<> remove(QString service, QString account) override;

    // As save and remove, telling whether the store took the change.
    QCoro::Task<bool> write(QString service, QString account, QByteArray data);
    QCoro::Task<bool> erase(QString service, QString account);

private:
    std::chrono::milliseconds m_timeout;
};
