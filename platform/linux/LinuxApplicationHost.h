#pragma once

#include "platform/ApplicationHost.h"

class LinuxApplicationHost : public ApplicationHost
{
public:
    QString bundlePath() const override;
    qint64 processId() const override;
    QString temporaryDirectory() const override;
    void startDetached(const QString &program, const QStringList &arguments) override;
    void quit() override;
};
