#pragma once

#include <QString>

#include <optional>

// A modal chooser for one folder (no files, no multiple selection, new folders may be created).
class FolderChooser
{
public:
    virtual ~FolderChooser() = default;

    // Blocks until the user answers. The chosen folder's absolute path, or nothing when cancelled.
    virtual std::optional<QString> chooseFolder(
        const QString &title, const QString &confirmText, const QString &startDirectory)
        = 0;
};
