#include "app/AppModel.h"

#include "app/RunningFlag.h"
#include "core/CompanionError.h"

QCoro::Task<> AppModel::checkForUpdates(bool silent)
{
    const Updater::InstallOwner owner = m_updater.installOwner();
    if (owner != Updater::InstallOwner::user) {
        setUpdateStatus(owner == Updater::InstallOwner::store
                            ? QStringLiteral("Güncellemeler Mac App Store tarafından otomatik yüklenir")
                            : QStringLiteral("Güncellemeler paket yöneticisi tarafından yüklenir"));
        if (!silent && owner == Updater::InstallOwner::store) {
            const QUrl link(m_build.storeLink, QUrl::StrictMode);
            if (link.isValid() && !link.scheme().isEmpty())
                m_services.workspace.open(link);
        }
        co_return;
    }

    // A check that finds an update runs until the program quits; a second one must not download again.
    if (m_isCheckingForUpdates)
        co_return;
    const RunningFlag checking(this, m_isCheckingForUpdates);
    const QPointer<AppModel> self(this);

    // Written first, so that a failing check also waits for the next period.
    m_settings.set(SettingKeys::lastUpdateCheck, m_services.clock.now());

    try {
        const DesktopUpdateManifest manifest = co_await m_updater.fetchManifest();
        if (!self)
            co_return;
        if (!m_updater.isNewerVersion(manifest.version)) {
            setUpdateStatus(QStringLiteral("Tarvolin güncel · ") + m_updater.currentVersion());
            co_return;
        }
        // Known before any download: said in the status line, silent check or not.
        if (const std::optional<QString> reason = m_updater.reasonNotToInstall(manifest.version)) {
            setUpdateStatus(*reason);
            co_return;
        }
        setUpdateStatus(QStringLiteral("Tarvolin ") + manifest.version + QStringLiteral(" indiriliyor…"));
        co_await m_updater.install(manifest);
        if (!self)
            co_return;
        setUpdateStatus(QStringLiteral("Güncelleme kuruluyor…"));
        m_services.application.quit();
    } catch (const std::exception &error) {
        if (self && !silent)
            setLastError(QStringLiteral("Güncelleme denetlenemedi: ") + errorMessage(error));
    }
}
