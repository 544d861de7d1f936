#include "core/Settings.h"

#include <QMetaType>

bool Settings::value(SettingKey<bool> key) const
{
    const QVariant value = raw(key.name);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::QString: {
        // The native file format keeps Booleans as words.
        const QString word = value.toString();
        if (word == QLatin1String("true"))
            return true;
        if (word == QLatin1String("false"))
            return false;
        return key.absent;
    }
    default:
        return key.absent;
    }
}

qint64 Settings::value(SettingKey<qint64> key) const
{
    const QVariant value = raw(key.name);
    bool ok = false;
    const qint64 number = value.toLongLong(&ok);
    return ok && value.typeId() != QMetaType::Bool ? number : 0;
}

QString Settings::value(SettingKey<QString> key) const
{
    const QVariant value = raw(key.name);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QByteArray Settings::value(SettingKey<QByteArray> key) const
{
    const QVariant value = raw(key.name);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

QDateTime Settings::value(SettingKey<QDateTime> key) const
{
    const QVariant value = raw(key.name);
    if (value.typeId() != QMetaType::QDateTime)
        return distantPast();
    const QDateTime date = value.toDateTime();
    return date.isValid() ? date : distantPast();
}

QDateTime Settings::distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}
