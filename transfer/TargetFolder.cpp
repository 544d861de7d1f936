#include "transfer/TargetFolder.h"

#include "transfer/FileSystem.h"

#include <QDir>

#include <exception>

namespace {

// Folder URLs end in "/" so that they read as directories, as the restored and default ones do.
QUrl folderUrl(const QString &path)
{
    return QUrl::fromLocalFile(QDir::cleanPath(path) + u'/');
}

} // namespace

TargetFolder::TargetFolder(FolderBookmarks &bookmarks, Settings &settings, QObject *parent)
    : QObject(parent)
    , m_bookmarks(bookmarks)
    , m_settings(settings)
    ,
    // Nothing is created on disk until a pass or the user needs it.
    m_url(folderUrl(QDir::homePath() + QStringLiteral("/Desktop/ROVEZADU/Gider")))
{
}

QString TargetFolder::path() const
{
    return QDir::cleanPath(m_url.toLocalFile());
}

QString TargetFolder::name() const
{
    return QDir(path()).dirName();
}

void TargetFolder::restore()
{
    const QByteArray bookmark = m_settings.value(SettingKeys::targetFolderBookmark);
    if (bookmark.isEmpty())
        return;
    const auto resolved = m_bookmarks.resolve(bookmark);
    if (!resolved || !m_bookmarks.startAccess(resolved->path))
        return;
    setPath(QDir(resolved->path).absolutePath());
    m_accessPath = resolved->path;
    if (resolved->stale)
        storeBookmark();
}

bool TargetFolder::adopt(const QString &path)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    if (m_accessPath)
        m_bookmarks.stopAccess(*m_accessPath);
    if (!m_bookmarks.startAccess(clean)) {
        // Passes must not pretend to have a folder whose access is gone.
        if (m_accessPath && !m_bookmarks.startAccess(*m_accessPath))
            m_accessPath.reset();
        return false;
    }
    setPath(clean);
    m_accessPath = clean;
    return true;
}

void TargetFolder::remember()
{
    std::exception_ptr failure;
    try {
        storeBookmark();
    } catch (...) {
        failure = std::current_exception();
    }
    // Written for the record whatever became of the bookmark.
    m_settings.set(SettingKeys::targetFolder, path());
    m_settings.set(SettingKeys::targetFolderConfirmed, true);
    if (failure)
        std::rethrow_exception(failure);
}

void TargetFolder::storeBookmark()
{
    m_settings.set(SettingKeys::targetFolderBookmark, m_bookmarks.create(path()));
}

void TargetFolder::create() const
{
    FileSystem::createFolder(path());
}

void TargetFolder::setPath(const QString &path)
{
    const QUrl url = folderUrl(path);
    if (url == m_url)
        return;
    m_url = url;
    Q_EMIT changed();
}
