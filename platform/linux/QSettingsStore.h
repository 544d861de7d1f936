#pragma once

#include "platform/SettingsStore.h"

#include <QSettings>

// The per-user settings file, $XDG_CONFIG_HOME/Kavrendal/Tarvolin.conf.
class QSettingsStore : public SettingsStore
{
public:
    QSettingsStore();
    // For tests: a settings file at an explicit path.
    explicit QSettingsStore(const QString &filePath);

    QVariant value(const QString &key) const override;
    void setValue(const QString &key, const QVariant &value) override;

private:
    QSettings m_settings;
};
