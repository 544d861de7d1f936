#include "platform/linux/DialogFolderChooser.h"

#include <QFileDialog>

std::optional<QString> DialogFolderChooser::chooseFolder(
    const QString &title, const QString &confirmText, const QString &startDirectory)
{
    QFileDialog dialog(nullptr, title, startDirectory);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, confirmText);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.size() != 1)
        return std::nullopt;
    return chosen.front();
}
