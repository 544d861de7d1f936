#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>

#include <optional>

// The per-user secret store. Every failure (no store, locked store, refused access, time-out) is
// silent: a save or removal that fails leaves things as they were, a load that fails finds nothing.
class SecretStore
{
public:
    virtual ~SecretStore() = default;

    // Stores the bytes under (service, account), replacing an item that is already there.
    virtual QCoro::Task<> save(QString service, QString account, QByteArray data) = 0;
    // The bytes of the item, or nothing when there is none or it cannot be read.
    virtual QCoro::Task<std::optional<QByteArray>> load(QString service, QString account) = 0;
    // Removes the item if there is one.
    virtual QCoro::Task<> remove(QString service, QString account) = 0;
};
