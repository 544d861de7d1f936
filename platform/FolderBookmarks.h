#pragma once

#include "platform/PlatformError.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Remembered permission to use a folder across restarts, and the access held on it while running.
class FolderBookmarks
{
public:
    virtual ~FolderBookmarks() = default;

    struct Resolved {
        QString path;
        bool stale = false; // the bookmark should be created anew
    };

    // Bytes that later resolve to the same folder. Throws PlatformError when none can be made.
    virtual QByteArray create(const QString &folderPath) = 0;
    // The folder the bytes stand for, or nothing when they no longer resolve.
    virtual std::optional<Resolved> resolve(const QByteArray &bookmark) = 0;
    // Starts access to the folder; false when it is refused.
    virtual bool startAccess(const QString &folderPath) = 0;
    // Ends access that startAccess granted.
    virtual void stopAccess(const QString &folderPath) = 0;
};
