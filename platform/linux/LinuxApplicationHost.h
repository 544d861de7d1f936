#pragma once

#include "platform/ApplicationHost.h"

class LinuxApplicationHost : public ApplicationHost
{
public:
    // `programFolder`: where the executable lies (QCoreApplication::applicationDirPath()).
    explicit LinuxApplicationHost(QString programFolder);

    QString bundlePath() const override;
    QString programFolder() const override { return m_programFolder; }
    qint64 processId() const override;
    QString temporaryDirectory() const override;
    QString dataDirectory() const override;
    void startDetached(const QString &program, const QStringList &arguments) override;
    void quit() override;

private:
    QString m_programFolder;
};
