#include "transfer/IncomingDocument.h"

#include "platform/PlatformError.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype leadingByteCount = 8;

PlatformError systemError(const QString &what, int error)
{
    return PlatformError(what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)));
}

// Makes a completed rename survive a crash; failure here changes nothing the user can act upon.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

IncomingDocument::IncomingDocument(const QString &folder)
    : m_file(QDir(folder).filePath(QStringLiteral(".tarvolin-XXXXXX.part")))
{
    if (!m_file.open())
        throw PlatformError(QStringLiteral("Geçici dosya oluşturulamadı: ") + m_file.errorString());
}

void IncomingDocument::append(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_file.write(bytes) != bytes.size())
        throw PlatformError(QStringLiteral("Evrak yazılamadı: ") + m_file.errorString());
    m_hash.addData(bytes);
    if (m_leading.size() < leadingByteCount)
        m_leading.append(bytes.left(leadingByteCount - m_leading.size()));
    m_size += bytes.size();
}

void IncomingDocument::finish()
{
    if (!m_file.flush())
        throw PlatformError(QStringLiteral("Evrak yazılamadı: ") + m_file.errorString());
    // The temporary file is private to us; the saved document gets the usual permissions. Set
    // before the sync, so that the same flush makes them durable along with the bytes.
    m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                          | QFileDevice::ReadOther);
    if (::fsync(m_file.handle()) != 0)
        throw systemError(QStringLiteral("Evrak yazılamadı"), errno);
}

bool IncomingDocument::commitAs(const QString &path)
{
    const QByteArray from = QFile::encodeName(m_file.fileName());
    const QByteArray to = QFile::encodeName(path);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0) {
        const int error = errno;
        if (error == EEXIST)
            return false;
        if (error != EINVAL && error != ENOSYS)
            throw systemError(QStringLiteral("Evrak kaydedilemedi"), error);
        // File systems without the no-replace rename: a hard link fails just as safely when taken.
        if (::link(from.constData(), to.constData()) != 0) {
            if (errno == EEXIST)
                return false;
            throw systemError(QStringLiteral("Evrak kaydedilemedi"), errno);
        }
        ::unlink(from.constData());
    }
    m_file.setAutoRemove(false);
    m_file.close();
    syncFolder(QFileInfo(path).absolutePath());
    return true;
}

bool pathIsOccupied(const QString &path)
{
    // Anything lstat cannot look at is left to the rename, which reports the real reason.
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool fileHoldsDigest(const QString &path, qint64 size, const QByteArray &sha256)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)
        || info.st_size != size)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    Sha256 hash;
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
        return false;
    return hash.result() == sha256;
}

void createFolder(const QString &path)
{
    if (QFileInfo(path).isDir())
        return;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(path).toStdString()), error);
    if (error || !QFileInfo(path).isDir()) {
        const QString reason = error ? QString::fromLocal8Bit(error.message().c_str()) : QStringLiteral("Bu bir klasör değil.");
        throw PlatformError(QStringLiteral("“%1” klasörü oluşturulamadı: %2").arg(path, reason));
    }
}
