#pragma once

#include "platform/InstanceGuard.h"

#include <QObject>

class QLocalServer;
class QLocalSocket;

// The claim is a lock file held with flock(), which the kernel drops however the process ends (a
// SIGKILL leaves no lock behind); beside it a local socket takes the later launches. Both live in a
// folder of this user's only, named by the application id and not by where the program lies, so a
// package and an application folder side by side are still one program. No session bus is needed.
class LocalInstanceGuard : public QObject, public InstanceGuard
{
public:
    explicit LocalInstanceGuard(QString applicationId, QObject *parent = nullptr);
    ~LocalInstanceGuard() override;

    // "$XDG_RUNTIME_DIR/<id>"; without a runtime folder "<temporary folder>/<id>-<uid>", then
    // "<cache folder>/<id>". Created with mode 0700; a folder that is not this user's own is refused.
    static QString folderFor(const QString &applicationId);

    bool claim(const Launch &launch, std::function<void(const Launch &)> onLaunch) override;
    void stopTakingLaunches() override;

private:
    bool tryLock(const QString &lockPath);
    bool handOver(const QString &socketPath, const Launch &launch);
    void listen(const QString &socketPath);
    void take(QLocalSocket *socket);

    QString m_applicationId;
    int m_lockFd = -1;
    QLocalServer *m_server = nullptr;
    std::function<void(const Launch &)> m_onLaunch;
};
