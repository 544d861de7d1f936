#include "app/AppModel.h"

#include "core/CompanionError.h"
#include "transfer/IncomingDocument.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString folderPathOf(const QUrl &folder) { return QDir::cleanPath(folder.toLocalFile()); }

// Folder URLs end in "/" so that they read as directories, as the restored and default ones do.
QUrl folderUrl(const QString &path) { return QUrl::fromLocalFile(QDir::cleanPath(path) + u'/'); }

} // namespace

void AppModel::prepareTargetFolderIfNeeded()
{
    if (m_didPrepareTargetFolder)
        return;
    m_didPrepareTargetFolder = true;

    if (!m_targetFolderAccessURL) {
        chooseFolder(true);
        return;
    }
    try {
        createFolder(folderPathOf(m_targetFolder));
    } catch (const std::exception &) {
        // Every pass creates the folder again and reports it if it still fails.
    }
}

void AppModel::chooseFolder(bool isInitialSetup)
{
    const QString current = folderPathOf(m_targetFolder);
    const QString startDirectory = QFileInfo::exists(current) ? current : QFileInfo(current).path();
    const std::optional<QString> chosen = m_services.folderChooser.chooseFolder(
        QStringLiteral("Evrakların kaydedileceği klasörü seçin"), QStringLiteral("Bu Klasörü Kullan"),
        startDirectory);

    if (!chosen || chosen->isEmpty()) {
        if (isInitialSetup) {
            setStatus(QStringLiteral("Hedef klasör seçimi bekleniyor"));
            setLastError(QStringLiteral("Evrakların indirilebilmesi için bir hedef klasör seçin."));
        }
        return;
    }

    const QString path = QDir::cleanPath(QDir(*chosen).absolutePath());
    if (m_targetFolderAccessURL)
        m_services.bookmarks.stopAccess(*m_targetFolderAccessURL);
    if (!m_services.bookmarks.startAccess(path)) {
        // Only one folder is accessed at a time, so the previous one is taken up again; if even that
        // is refused now, passes must not pretend to have a folder.
        if (m_targetFolderAccessURL && !m_services.bookmarks.startAccess(*m_targetFolderAccessURL))
            m_targetFolderAccessURL.reset();
        setLastError(QStringLiteral("Seçilen klasöre erişim izni alınamadı. Lütfen başka bir klasör seçin."));
        return;
    }

    setTargetFolder(folderUrl(path));
    m_targetFolderAccessURL = path;
    // Cleared before the bookmark is stored so that a failure to store it stays visible: the folder
    // works now but will be asked for again at the next start, and the user should know why.
    setLastError(std::nullopt);
    saveTargetFolderBookmark(path);
    m_settings.set(SettingKeys::targetFolder, path);
    m_settings.set(SettingKeys::targetFolderConfirmed, true);
    try {
        createFolder(path);
    } catch (const std::exception &) {
        // Every pass creates the folder again and reports it if it still fails.
    }
    setStatus(QStringLiteral("Klasör hazır"));
}

void AppModel::saveTargetFolderBookmark(const QString &folderPath)
{
    try {
        m_settings.set(SettingKeys::targetFolderBookmark, m_services.bookmarks.create(folderPath));
    } catch (const std::exception &error) {
        setLastError(QStringLiteral("Klasör izni kaydedilemedi: ") + errorMessage(error));
    }
}

void AppModel::openFolder()
{
    try {
        createFolder(folderPathOf(m_targetFolder));
    } catch (const std::exception &error) {
        setLastError(QStringLiteral("Klasör açılamadı: ") + errorMessage(error));
        return;
    }
    m_services.workspace.open(m_targetFolder);
}
