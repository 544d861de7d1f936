#pragma once

#include "platform/SettingsStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Typed access to the settings store. Every key has one stored type and one absent value (the table
// in Settings.cpp); a value of another type reads as the absent value, so a damaged settings file
// never changes behaviour beyond forgetting that one value.
class Settings
{
public:
    explicit Settings(SettingsStore &store) : m_store(store) {}

    bool boolValue(const QString &key) const;
    QString text(const QString &key) const;
    QByteArray bytes(const QString &key) const;          // empty: absent
    QDateTime date(const QString &key) const;            // distantPast() when absent or not a date

    void setBool(const QString &key, bool value);
    void setText(const QString &key, const QString &value);
    void setBytes(const QString &key, const QByteArray &value);
    void setInteger(const QString &key, qint64 value);
    void setDate(const QString &key, const QDateTime &value);

    static QDateTime distantPast();

private:
    SettingsStore &m_store;
};
