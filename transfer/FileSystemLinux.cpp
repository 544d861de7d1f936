#include "transfer/FileSystem.h"

#include "platform/PlatformError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

PlatformError systemError(const QString &what, int error)
{
    return PlatformError(what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
}

// umask() can only be read by setting it, which races with any thread creating a file meanwhile;
// the kernel reports it in the status file instead. Read once: nothing here changes it.
mode_t processUmask()
{
    static const mode_t mask = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly)) {
            for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
                if (!line.startsWith("Umask:"))
                    continue;
                bool ok = false;
                const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(value & 0777);
            }
        }
        const mode_t old = ::umask(022);
        ::umask(old);
        return old;
    }();
    return mask;
}

constexpr mode_t privateMode = 0600;

} // namespace

namespace FileSystem {

bool isOccupied(const QString &path)
{
    // Anything lstat cannot look at is left to the move, which reports the real reason.
    struct stat info {
    };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

std::optional<qint64> regularFileSize(const QString &path)
{
    struct stat info {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return qint64(info.st_size);
}

bool moveWithoutReplacing(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    const int error = errno;
    if (error == EEXIST)
        return false;
    if (error != EINVAL && error != ENOSYS)
        throw systemError(QStringLiteral("Evrak kaydedilemedi"), error);
    // File systems without the no-replace rename: a hard link fails just as safely when taken.
    if (::link(source.constData(), target.constData()) != 0) {
        if (errno == EEXIST)
            return false;
        throw systemError(QStringLiteral("Evrak kaydedilemedi"), errno);
    }
    ::unlink(source.constData());
    return true;
}

void syncFile(int descriptor)
{
    if (::fsync(descriptor) != 0)
        throw systemError(QStringLiteral("Evrak yazılamadı"), errno);
}

void giveUsualPermissions(int descriptor)
{
    ::fchmod(descriptor, 0666 & ~processUmask());
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

void createFolder(const QString &path)
{
    if (QFileInfo(path).isDir())
        return;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(path).toStdString()), error);
    if (error || !QFileInfo(path).isDir()) {
        const QString reason = error ? QString::fromLocal8Bit(error.message().c_str())
                                     : QStringLiteral("Bu bir klasör değil.");
        throw PlatformError(QStringLiteral("“%1” klasörü oluşturulamadı: %2").arg(path, reason));
    }
}

void markInUse(int descriptor)
{
    ::flock(descriptor, LOCK_EX | LOCK_NB);
}

bool removeUnlessInUse(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat opened {
    };
    struct stat named {
    };
    // The lock is only free when no process holds the file open under it. The name must still be
    // the file that was opened and locked, so that nothing else put there meanwhile is removed.
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && (opened.st_mode & 07777) == privateMode
        && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(name.constData(), &named) == 0
        && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
        removed = ::unlink(name.constData()) == 0;
    ::close(fd);
    return removed;
}

} // namespace FileSystem
