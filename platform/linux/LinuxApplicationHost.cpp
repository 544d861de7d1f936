#include "platform/linux/LinuxApplicationHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

QString LinuxApplicationHost::bundlePath() const
{
    // The executable sits at Tarvolin.app/Contents/MacOS/Tarvolin.
    QDir dir(QCoreApplication::applicationDirPath());
    dir.cdUp();
    dir.cdUp();
    return dir.absolutePath();
}

qint64 LinuxApplicationHost::processId() const
{
    return QCoreApplication::applicationPid();
}

QString LinuxApplicationHost::temporaryDirectory() const
{
    return QDir::tempPath();
}

void LinuxApplicationHost::startDetached(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        throw PlatformError(process.errorString());
}

void LinuxApplicationHost::quit()
{
    QCoreApplication::quit();
}
