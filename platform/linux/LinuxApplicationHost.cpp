#include "platform/linux/LinuxApplicationHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

LinuxApplicationHost::LinuxApplicationHost(QString programFolder)
    : m_programFolder(std::move(programFolder))
{
}

QString LinuxApplicationHost::bundlePath() const
{
    // Only an executable at Tarvolin.app/Contents/MacOS/Tarvolin has an application folder. Anywhere
    // else "two folders up" is unrelated to this program (/usr for /usr/lib/tarvolin, say), and the
    // self-updater would swap it.
    const QString macOs = QDir::cleanPath(QDir(m_programFolder).absolutePath());
    const QString contents = QFileInfo(macOs).path();
    QString bundle = QFileInfo(contents).path();
    if (QFileInfo(macOs).fileName() != QLatin1String("MacOS")
        || QFileInfo(contents).fileName() != QLatin1String("Contents")
        || QFileInfo(bundle).fileName() != QLatin1String("Tarvolin.app"))
        return {};
    return bundle;
}

qint64 LinuxApplicationHost::processId() const
{
    return QCoreApplication::applicationPid();
}

QString LinuxApplicationHost::temporaryDirectory() const
{
    return QDir::tempPath();
}

QString LinuxApplicationHost::dataDirectory() const
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
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
    // quit() would first ask every window to close and give up when one refuses, as the main
    // window does when there is no tray to hide into. exit() leaves the event loop regardless.
    QCoreApplication::exit(0);
}
