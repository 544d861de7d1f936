#pragma once

#include "platform/Workspace.h"

class DesktopWorkspace : public Workspace
{
public:
    void open(const QUrl &url) override;
    std::optional<QString> computerName() const override;
    QString platformName() const override { return QStringLiteral("Linux"); }

    // The PRETTY_HOSTNAME of a machine-info file, or nothing; exposed for tests.
    static std::optional<QString> prettyHostName(const QString &machineInfoPath);
};
