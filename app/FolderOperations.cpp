#include "app/AppModel.h"

#include "core/CompanionError.h"

#include <QDir>
#include <QFileInfo>

void AppModel::restoreTargetFolder()
{
    try {
        m_folder.restore();
    } catch (const std::exception &error) {
        setLastError(QStringLiteral("Klasör izni kaydedilemedi: ") + errorMessage(error));
    }
}

void AppModel::prepareTargetFolder()
{
    if (!m_folder.hasAccess()) {
        chooseFolder(true);
        return;
    }
    try {
        m_folder.create();
    } catch (const std::exception &) {
        // Every pass creates the folder again and reports it if it still fails.
    }
}

void AppModel::chooseFolder(bool isInitialSetup)
{
    const QString current = m_folder.path();
    const QString startDirectory = QFileInfo::exists(current) ? current : QFileInfo(current).path();
    const std::optional<QString> chosen
        = m_services.folderChooser.chooseFolder(QStringLiteral("Evrakların kaydedileceği klasörü seçin"),
            QStringLiteral("Bu Klasörü Kullan"), startDirectory);

    if (!chosen || chosen->isEmpty()) {
        if (isInitialSetup) {
            setStatus(QStringLiteral("Hedef klasör seçimi bekleniyor"));
            setLastError(QStringLiteral("Evrakların indirilebilmesi için bir hedef klasör seçin."));
        }
        return;
    }
    if (!m_folder.adopt(*chosen)) {
        setLastError(QStringLiteral("Seçilen klasöre erişim izni alınamadı. Lütfen başka bir klasör seçin."));
        return;
    }

    // Cleared before the bookmark is stored so that a failure to store it stays visible: the folder
    // works now but will be asked for again at the next start, and the user should know why.
    setLastError(std::nullopt);
    try {
        m_folder.remember();
    } catch (const std::exception &error) {
        setLastError(QStringLiteral("Klasör izni kaydedilemedi: ") + errorMessage(error));
    }
    try {
        m_folder.create();
    } catch (const std::exception &) {
        // Every pass creates the folder again and reports it if it still fails.
    }
    setStatus(QStringLiteral("Klasör hazır"));
}

void AppModel::openFolder()
{
    try {
        m_folder.create();
    } catch (const std::exception &error) {
        setLastError(QStringLiteral("Klasör açılamadı: ") + errorMessage(error));
        return;
    }
    m_services.workspace.open(m_folder.url());
}

void AppModel::showArrival(const QString &path)
{
    if (RecentArrivals::isPresent(Arrival{{}, path})) {
        m_services.workspace.showFile(path);
        return;
    }
    openFolder();
}
