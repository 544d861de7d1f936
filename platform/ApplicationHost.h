#pragma once

#include "platform/PlatformError.h"

#include <QString>
#include <QStringList>

// The running program as the operating system sees it: where it is installed, its process, and
// leaving. Used by the self-updater and for the program's own files.
class ApplicationHost
{
public:
    virtual ~ApplicationHost() = default;

    // Absolute path of the installed application folder ("…/Tarvolin.app"), or nothing when the
    // program does not run from one.
    virtual QString bundlePath() const = 0;
    // Absolute path of the folder that holds the running executable.
    virtual QString programFolder() const = 0;
    // The program's own process identifier.
    virtual qint64 processId() const = 0;
    // The folder for temporary files.
    virtual QString temporaryDirectory() const = 0;
    // The folder for the program's own files that outlive a run; empty when the system has none.
    virtual QString dataDirectory() const = 0;
    // Starts a program that outlives this process, without a shell. Throws PlatformError when it
    // cannot be started.
    virtual void startDetached(const QString &program, const QStringList &arguments) = 0;
    // Ends the program through its normal shutdown path, even while a window refuses to close.
    virtual void quit() = 0;
};
