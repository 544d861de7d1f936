#pragma once

#include <QDBusVariant>
#include <QObject>

#include <optional>

// The desktop's light or dark preference, as its settings portal on the session bus states it.
class PortalColourScheme : public QObject
{
    Q_OBJECT
public:
    explicit PortalColourScheme(QObject *parent = nullptr);

    // True for dark, false for light; nothing when there is no portal or it states no preference.
    std::optional<bool> prefersDark() const;

Q_SIGNALS:
    // The user chose another look while the program runs.
    void changed(bool dark);

private Q_SLOTS:
    void settingChanged(const QString &group, const QString &key, const QDBusVariant &value);
};
