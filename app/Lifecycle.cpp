#include "app/AppModel.h"

#include "app/RunningFlag.h"
#include "core/CompanionError.h"

void AppModel::start()
{
    if (m_lifecycle != Lifecycle::NotStarted)
        return;
    setLifecycle(Lifecycle::Running);

    finishEarlierUpdate();
    prepareTargetFolder();
    startRepeatingTask();
}

void AppModel::startRepeatingTask()
{
    if (m_syncTask)
        m_syncTask->cancel();
    m_syncTask = std::make_shared<Cancellation>();
    setLifecycle(Lifecycle::Running);
    // The task holds the model weakly and runs on by itself; the cancellation is its handle.
    runRepeatingTask(QPointer<AppModel>(this), m_syncTask);
}

void AppModel::stop()
{
    if (m_syncTask)
        m_syncTask->cancel();
    m_pass.cancelWait();
    setLifecycle(Lifecycle::Stopped);
}

bool AppModel::isRunning() const
{
    return m_lifecycle == Lifecycle::Running || m_lifecycle == Lifecycle::WaitingForSettings;
}

QCoro::Task<> AppModel::runRepeatingTask(QPointer<AppModel> model, std::shared_ptr<Cancellation> cancellation)
{
    if (!model)
        co_return;

    co_await model->loadOfficialCloudConfiguration();
    if (!model)
        co_return;

    if (!model->isConfigured()) {
        model->setStatus(waitingForSettingsText());
        model->setShowingCloudSettings(true);
        // Saving the settings starts the task again.
        if (!cancellation->isCancelled())
            model->setLifecycle(Lifecycle::WaitingForSettings);
        co_return;
    }

    co_await model->prepareConnection();
    if (!model)
        co_return;
    co_await model->checkForUpdates(true);

    while (model && !cancellation->isCancelled()) {
        co_await model->syncNow();
        if (!model)
            co_return;

        const QDateTime lastCheck = model->m_settings.value(SettingKeys::lastUpdateCheck);
        const QDateTime now = model->m_services.clock.now();
        if (lastCheck.secsTo(now) > updateCheckIntervalSeconds) {
            co_await model->checkForUpdates(true);
            if (!model)
                co_return;
        }

        co_await model->m_services.clock.sleep(syncInterval, *cancellation);
    }
}

void AppModel::catchUp()
{
    // Before the start nothing is due yet; after the stop nothing runs any more.
    if (!isRunning())
        return;
    m_push.reconnect();
    m_pass.request();
}

void AppModel::registerLoginItemAtFirstLaunch()
{
    if (m_settings.value(SettingKeys::startupChoiceInitialized))
        return;
    try {
        m_services.loginItem.registerItem();
    } catch (const std::exception &) {
        return; // tried again at the next launch
    }
    m_launchAtLogin = true;
    m_settings.set(SettingKeys::startupChoiceInitialized, true);
}

void AppModel::setLaunchAtLogin(bool enabled)
{
    try {
        if (enabled)
            m_services.loginItem.registerItem();
        else
            m_services.loginItem.unregisterItem();
    } catch (const std::exception &error) {
        setLaunchAtLoginValue(m_services.loginItem.isEnabled());
        setLastError(QStringLiteral("Otomatik başlatma değiştirilemedi: ") + errorMessage(error));
        return;
    }
    setLaunchAtLoginValue(enabled);
}

// --- Updates ---------------------------------------------------------------------------------------

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
