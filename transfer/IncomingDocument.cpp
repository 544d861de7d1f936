#include "transfer/IncomingDocument.h"

#include "platform/PlatformError.h"
#include "transfer/FileSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

constexpr qsizetype leadingByteCount = 8;

// QTemporaryFile replaces the six X by letters and digits.
const QString temporaryPattern = QStringLiteral(".tarvolin-XXXXXX.part");

bool isTemporaryName(const QString &name)
{
    static const QRegularExpression shape(QStringLiteral("\\A\\.tarvolin-[A-Za-z0-9]{6}\\.part\\z"));
    return shape.match(name).hasMatch();
}

} // namespace

IncomingDocument::IncomingDocument(const QString &folder)
    : m_file(QDir(folder).filePath(temporaryPattern))
{
    if (!m_file.open())
        throw PlatformError(QStringLiteral("Geçici dosya oluşturulamadı: ") + m_file.errorString());
    FileSystem::markInUse(m_file.handle());
}

int IncomingDocument::removeAbandoned(const QString &folder)
{
    int removed = 0;
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral(".tarvolin-*.part")},
        QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (isTemporaryName(name) && FileSystem::removeUnlessInUse(dir.filePath(name)))
            ++removed;
    }
    return removed;
}

void IncomingDocument::write(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_file.write(bytes.data(), bytes.size()) != bytes.size())
        throw PlatformError(QStringLiteral("Evrak yazılamadı: ") + m_file.errorString());
    m_hash.addData(bytes);
    if (m_leading.size() < leadingByteCount)
        m_leading.append(bytes.first(std::min<qsizetype>(bytes.size(), leadingByteCount - m_leading.size())));
    m_size += bytes.size();
}

void IncomingDocument::finish()
{
    if (!m_file.flush())
        throw PlatformError(QStringLiteral("Evrak yazılamadı: ") + m_file.errorString());
    FileSystem::syncFile(m_file.handle());
}

bool IncomingDocument::commitAs(const QString &path)
{
    if (!FileSystem::moveWithoutReplacing(m_file.fileName(), path))
        return false;
    m_file.setAutoRemove(false);
    // Private until it is in place: the sweep of abandoned files takes only files still private, so
    // a document saved under a look-alike name by an older version is never taken for one.
    FileSystem::giveUsualPermissions(m_file.handle());
    FileSystem::syncFile(m_file.handle());
    m_file.close();
    FileSystem::syncFolder(QFileInfo(path).absolutePath());
    return true;
}
