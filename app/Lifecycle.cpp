#include "app/AppModel.h"

#include "app/RunningFlag.h"
#include "core/CompanionError.h"

void AppModel::start()
{
    if (m_didStart)
        return;
    m_didStart = true;

    finishEarlierUpdate();
    prepareTargetFolderIfNeeded();
    startRepeatingTask();
}

void AppModel::startRepeatingTask()
{
    if (m_syncTask)
        m_syncTask->cancel();
    m_syncTask = std::make_shared<Cancellation>();
    // The task holds the model weakly and runs on by itself; the cancellation is its handle.
    runRepeatingTask(QPointer<AppModel>(this), m_syncTask);
}

void AppModel::stop()
{
    if (m_syncTask)
        m_syncTask->cancel();
    cancelRequestedPassWait();
    followPush();
}

bool AppModel::isRunning() const
{
    return m_syncTask && !m_syncTask->isCancelled();
}

QCoro::Task<> AppModel::runRepeatingTask(QPointer<AppModel> model, std::shared_ptr<Cancellation> cancellation)
{
    if (!model)
        co_return;
    const RunningFlag looping(model, model->m_isLooping);

    co_await model->loadOfficialCloudConfiguration();
    if (!model)
        co_return;

    if (!model->isConfigured()) {
        model->setStatus(waitingForSettingsText());
        model->setShowingCloudSettings(true);
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
