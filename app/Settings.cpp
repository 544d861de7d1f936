#include "app/Settings.h"

#include <QMetaType>

// Every key the program stores, with its type. Absent values: false, empty text, no bytes, distant
// past. "officialCloudConfigurationRevision", "targetFolder" and "targetFolderConfirmed" are written
// for the record and never read back.
//
//   manualCloudConfigurationEnabled      bool
//   supabaseURL, supabaseAnonKey         text
//   cachedOfficialSupabaseURL            text
//   cachedOfficialSupabaseAnonKey        text
//   officialCloudConfigurationRevision   integer
//   targetFolderBookmark                 bytes
//   targetFolder                         text
//   targetFolderConfirmed                bool
//   startupChoiceInitialized             bool
//   lastUpdateCheck                      date

bool Settings::boolValue(const QString &key) const
{
    const QVariant value = m_store.value(key);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::QString: {
        // The native file format keeps Booleans as words.
        const QString word = value.toString();
        return word == QLatin1String("true");
    }
    default:
        return false;
    }
}

QString Settings::text(const QString &key) const
{
    const QVariant value = m_store.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QByteArray Settings::bytes(const QString &key) const
{
    const QVariant value = m_store.value(key);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

QDateTime Settings::date(const QString &key) const
{
    const QVariant value = m_store.value(key);
    if (value.typeId() != QMetaType::QDateTime)
        return distantPast();
    const QDateTime date = value.toDateTime();
    return date.isValid() ? date : distantPast();
}

void Settings::setBool(const QString &key, bool value) { m_store.setValue(key, value); }
void Settings::setText(const QString &key, const QString &value) { m_store.setValue(key, value); }
void Settings::setBytes(const QString &key, const QByteArray &value) { m_store.setValue(key, value); }
void Settings::setInteger(const QString &key, qint64 value) { m_store.setValue(key, value); }
void Settings::setDate(const QString &key, const QDateTime &value) { m_store.setValue(key, value); }

QDateTime Settings::distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}
