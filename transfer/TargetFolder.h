#pragma once

#include "core/Settings.h"
#include "platform/FolderBookmarks.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

// The folder documents are saved into, and the access held on it: the default folder, restored
// from the remembered bookmark, or chosen by the user. Access is held on one folder at a time.
class TargetFolder : public QObject
{
    Q_OBJECT
public:
    TargetFolder(FolderBookmarks &bookmarks, Settings &settings, QObject *parent = nullptr);

    // The folder as a directory URL (ending in "/").
    QUrl url() const { return m_url; }
    // The folder's clean absolute path.
    QString path() const;
    // Whether access to the folder is held: restored at start or granted for a choice.
    bool hasAccess() const { return m_accessPath.has_value(); }
    // The folder's own name, the last part of its path.
    QString name() const;

    // Takes up the remembered folder when its bookmark still resolves and access is granted, and
    // stores the bookmark anew when it was stale. Silent when there is nothing to take up; throws
    // PlatformError only when the renewed bookmark cannot be stored.
    void restore();
    // Makes `path` the folder, stopping access to the previous one. When access to it is refused,
    // the previous folder's access is taken up again (or dropped, if that is refused too) and false
    // is returned; the folder is then unchanged.
    bool adopt(const QString &path);
    // Remembers the folder across restarts. Throws PlatformError when no bookmark can be made; the
    // folder still works until the program ends.
    void remember();
    // Creates the folder and its missing parents. Throws PlatformError with the system's reason.
    void create() const;

Q_SIGNALS:
    void changed();

private:
    void setPath(const QString &path);
    void storeBookmark();

    FolderBookmarks &m_bookmarks;
    Settings &m_settings;
    QUrl m_url;
    std::optional<QString> m_accessPath; // the folder whose access is held
};
