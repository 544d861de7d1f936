#pragma once

#include "platform/FolderBookmarks.h"

// Folder permission as the desktop grants it: the remembered bytes are the folder's absolute path,
// and access is granted to a directory the user can write into.
class PathFolderBookmarks : public FolderBookmarks
{
public:
    QByteArray create(const QString &folderPath) override;
    std::optional<Resolved> resolve(const QByteArray &bookmark) override;
    bool startAccess(const QString &folderPath) override;
    void stopAccess(const QString &folderPath) override;
};
