#pragma once

#include "core/SettingKeys.h"
#include "platform/SettingsStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>

// Typed access to the settings store through the keys of SettingKeys.h. A value of another type
// reads as the absent value, so a damaged settings file never changes behaviour beyond forgetting
// that one value.
class Settings
{
public:
    explicit Settings(SettingsStore &store)
        : m_store(store)
    {
    }

    bool value(SettingKey<bool> key) const;
    qint64 value(SettingKey<qint64> key) const;
    QString value(SettingKey<QString> key) const;
    QByteArray value(SettingKey<QByteArray> key) const;
    QDateTime value(SettingKey<QDateTime> key) const;

    // Writes straight through to the store.
    template <typename T, typename V> void set(SettingKey<T> key, const V &value)
    {
        m_store.setValue(QString::fromLatin1(key.name), QVariant::fromValue(T(value)));
    }

    static QDateTime distantPast();

private:
    QVariant raw(const char *name) const { return m_store.value(QString::fromLatin1(name)); }

    SettingsStore &m_store;
};
