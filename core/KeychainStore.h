#pragma once

#include "platform/SecretStore.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>

#include <optional>

// The program's items in the secret store, all under one service name. Failures are silent in all
// three operations: the caller learns nothing of them.
class KeychainStore
{
public:
    static constexpr auto service = "com.kavrendal.giderler";
    // The one account the program uses: the backend session.
    static constexpr auto sessionAccount = "cloud-session";

    explicit KeychainStore(SecretStore &store)
        : m_store(store)
    {
    }

    // Stores the bytes as the account's item, replacing an existing one.
    QCoro::Task<> save(QByteArray data, QString account);
    // The account's bytes, or nothing.
    QCoro::Task<std::optional<QByteArray>> load(QString account);
    // Removes the account's item if there is one. ("delete" is taken by the language.)
    QCoro::Task<> remove(QString account);

private:
    SecretStore &m_store;
};
