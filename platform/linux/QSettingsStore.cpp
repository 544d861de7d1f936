#include "platform/linux/QSettingsStore.h"

QSettingsStore::QSettingsStore()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kavrendal"),
        QStringLiteral("Tarvolin"))
{
}

QSettingsStore::QSettingsStore(const QString &filePath)
    : m_settings(filePath, QSettings::NativeFormat)
{
}

QVariant QSettingsStore::value(const QString &key) const
{
    // A file that cannot be parsed reads as empty (QSettings reports FormatError and keeps going),
    // so every key then reads as absent.
    return m_settings.value(key);
}

void QSettingsStore::setValue(const QString &key, const QVariant &value)
{
    m_settings.setValue(key, value);
    m_settings.sync();
}
