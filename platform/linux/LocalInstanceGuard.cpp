#include "platform/linux/LocalInstanceGuard.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A launch is one short line of JSON; anything near this size is not one.
constexpr qint64 maximumMessage = qint64(64) * 1024;
// A copy that is leaving holds its claim until it is gone, which can take the secret store's time-out.
constexpr std::chrono::seconds waitForRunningCopy{25};
constexpr int connectMs = 1000;
constexpr int answerMs = 5000;

QString systemError(const QString &path, int error)
{
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

// Nothing when `path` is now a folder of this user's that no one else can enter; otherwise why not.
QString makePrivateFolder(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return systemError(path, errno);
    struct stat info {
    };
    if (::lstat(native.constData(), &info) != 0)
        return systemError(path, errno);
    // In a shared temporary folder someone else may have made the name first, or put a link there.
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        return path + QStringLiteral(": bu kullanıcıya ait bir klasör değil");
    if ((info.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return systemError(path, errno);
    return {};
}

} // namespace

LocalInstanceGuard::LocalInstanceGuard(QString applicationId, QObject *parent)
    : QObject(parent)
    , m_applicationId(std::move(applicationId))
{
}

LocalInstanceGuard::~LocalInstanceGuard()
{
    LocalInstanceGuard::stopTakingLaunches();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString LocalInstanceGuard::folderFor(const QString &applicationId)
{
    QStringList candidates;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime))
        candidates << runtime + QLatin1Char('/') + applicationId;
    candidates << QDir::tempPath() + QLatin1Char('/') + applicationId + QLatin1Char('-')
            + QString::number(::geteuid());
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty())
        candidates << cache + QLatin1Char('/') + applicationId;

    QString reason;
    for (const QString &folder : candidates) {
        QDir().mkpath(QFileInfo(folder).path());
        reason = makePrivateFolder(folder);
        if (reason.isEmpty())
            return folder;
    }
    throw PlatformError(reason);
}

bool LocalInstanceGuard::claim(const Launch &launch, std::function<void(const Launch &)> onLaunch)
{
    const QString folder = folderFor(m_applicationId);
    const QString lockPath = folder + QStringLiteral("/lock");
    const QString socketPath = folder + QStringLiteral("/socket");
    const QDeadlineTimer deadline(waitForRunningCopy);
    for (;;) {
        if (tryLock(lockPath)) {
            m_onLaunch = std::move(onLaunch);
            listen(socketPath);
            return true;
        }
        if (handOver(socketPath, launch))
            return false;
        // The running copy is starting (claimed, not listening yet) or leaving (no longer listening,
        // still claimed): ask again shortly.
        if (deadline.hasExpired())
            throw PlatformError(QStringLiteral("Tarvolin Masaüstü zaten çalışıyor, ancak yanıt vermiyor."));
        QThread::msleep(100);
    }
}

bool LocalInstanceGuard::tryLock(const QString &lockPath)
{
    // Close-on-exec: the update's swap script, and the new program it starts, must not inherit the claim.
    const int fd
        = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw PlatformError(systemError(lockPath, errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        m_lockFd = fd;
        return true;
    }
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK || error == EINTR)
        return false;
    throw PlatformError(systemError(lockPath, error));
}

bool LocalInstanceGuard::handOver(const QString &socketPath, const Launch &launch)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(connectMs))
        return false; // no socket, or a killed copy's
    const QJsonObject message{{QStringLiteral("arguments"), QJsonArray::fromStringList(launch.arguments)},
        {QStringLiteral("activationToken"), launch.activationToken},
        {QStringLiteral("startupId"), launch.startupId}};
    socket.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
    if (!socket.waitForBytesWritten(connectMs))
        return false;
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < 16 && socket.waitForReadyRead(answerMs))
        answer += socket.readAll();
    answer += socket.readAll();
    return answer.startsWith("ok\n");
}

void LocalInstanceGuard::listen(const QString &socketPath)
{
    // With the claim held, a socket already there is a killed copy's.
    QLocalServer::removeServer(socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection())
            take(socket);
    });
    // Still the one copy without it; later launches then find no one to hand over to and say so.
    if (!m_server->listen(socketPath))
        qWarning("%s: %s", qPrintable(socketPath), qPrintable(m_server->errorString()));
}

void LocalInstanceGuard::take(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A launch that does not finish its line in time is dropped; it asks again by itself.
    QTimer::singleShot(answerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > maximumMessage) {
                socket->abort();
                socket->deleteLater();
            }
            return;
        }
        const QJsonDocument document = QJsonDocument::fromJson(socket->readLine(maximumMessage).trimmed());
        if (!document.isObject()) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        const QJsonObject message = document.object();
        Launch launch;
        for (const QJsonValue argument : message.value(QStringLiteral("arguments")).toArray())
            launch.arguments << argument.toString();
        launch.activationToken = message.value(QStringLiteral("activationToken")).toString();
        launch.startupId = message.value(QStringLiteral("startupId")).toString();
        socket->write("ok\n");
        socket->disconnectFromServer();
        if (m_onLaunch)
            m_onLaunch(launch);
    });
}

void LocalInstanceGuard::stopTakingLaunches()
{
    m_onLaunch = nullptr;
    if (!m_server)
        return;
    // The socket goes with the server, so a launch from now on waits for the claim instead.
    const QString socketPath = m_server->fullServerName();
    delete m_server;
    m_server = nullptr;
    if (!socketPath.isEmpty())
        QLocalServer::removeServer(socketPath);
}
