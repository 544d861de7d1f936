#pragma once

#include <QString>
#include <QVariant>

// The per-user key-value store behind the program's settings. Values are read afresh at every use;
// a key that was never written reads as an invalid QVariant.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;

    // The stored value, or an invalid QVariant when the key is absent or the store is unreadable.
    virtual QVariant value(const QString &key) const = 0;
    // Writes straight through; a store that cannot be written keeps the value for this process only.
    virtual void setValue(const QString &key, const QVariant &value) = 0;
};
