#pragma once

#include "platform/SecretStore.h"

#include <chrono>
#include <memory>

// The desktop's Secret Service through QtKeychain. Never falls back to storing secrets in plain
// text; a store that does not answer within the time-out counts as a failure.
class QtKeychainSecretStore : public SecretStore
{
public:
    explicit QtKeychainSecretStore(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    QCoro::Task<> save(QString service, QString account, QByteArray data) override;
    QCoro::Task<std::optional<QByteArray>> load(QString service, QString account) override;
    QCoro::Task<> remove(QString service, QString account) override;

    // Lets the operations still under way finish, each within the time-out, for a program that is
    // about to end: a renewed session that never reached the store would be refused at the next start.
    void finishPendingWork();

private:
    std::chrono::milliseconds m_timeout;
    // Shared with the running operations, which may outlive the store.
    std::shared_ptr<int> m_pending = std::make_shared<int>(0);
};
