#pragma once

#include "platform/FolderChooser.h"

// QFileDialog, modal, directories only.
class DialogFolderChooser : public FolderChooser
{
public:
    std::optional<QString> chooseFolder(
        const QString &title, const QString &confirmText, const QString &startDirectory) override;
};
