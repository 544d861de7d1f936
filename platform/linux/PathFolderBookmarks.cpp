#include "platform/linux/PathFolderBookmarks.h"

#include <QDir>
#include <QFileInfo>

QByteArray PathFolderBookmarks::create(const QString &folderPath)
{
    if (!QDir::isAbsolutePath(folderPath))
        throw PlatformError(QStringLiteral("Klasör yolu mutlak değil: %1").arg(folderPath));
    return QDir::cleanPath(folderPath).toUtf8();
}

std::optional<FolderBookmarks::Resolved> PathFolderBookmarks::resolve(const QByteArray &bookmark)
{
    const QString path = QString::fromUtf8(bookmark);
    if (!QDir::isAbsolutePath(path) || !QFileInfo(path).isDir())
        return std::nullopt;
    // A path written differently from its clean form (an older program wrote it) is renewed.
    const QString clean = QDir::cleanPath(path);
    return Resolved{clean, clean != path};
}

bool PathFolderBookmarks::startAccess(const QString &folderPath)
{
    const QFileInfo info(folderPath);
    return info.isDir() && info.isWritable();
}

void PathFolderBookmarks::stopAccess(const QString &)
{
}
