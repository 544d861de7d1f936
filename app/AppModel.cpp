#include "app/AppModel.h"

#include "core/CompanionError.h"

#include <QDir>
#include <QStandardPaths>

namespace {

const QString preparingText = QStringLiteral("Hazırlanıyor…");
const QString waitingForConnectionText = QStringLiteral("Bağlantı bekleniyor");
const QString waitingForSettingsText = QStringLiteral("Bulut ayarları bekleniyor");

QUrl defaultTargetFolder()
{
    // Marked as a directory by the trailing slash, as the folder URL of a chosen folder would be.
    const QString home = QDir::homePath();
    return QUrl::fromLocalFile(home + QStringLiteral("/Desktop/ROVEZADU/Gider/"));
}

} // namespace

AppModel::AppModel(PlatformServices services, BuildValues build, QObject *parent)
    : QObject(parent),
      m_services(services),
      m_build(std::move(build)),
      m_settings(services.settings),
      m_keychain(services.secrets)
{
    // 1. Initial values.
    m_supabaseURL = m_build.supabaseURL;
    m_anonKey = m_build.anonKey;
    m_status = preparingText;
    m_updateStatus = QStringLiteral("Tarvolin Masaüstü %1 · ").arg(m_build.version) + m_build.siteDomain();

    // 2. The manual-settings switch is read once; the cloud operations keep it in step afterwards.
    m_usesManualCloudConfiguration = m_settings.value(SettingKeys::manualCloudConfigurationEnabled);

    // 3. The default folder; nothing is created on disk yet.
    m_targetFolder = defaultTargetFolder();

    // 4. The remembered folder, if it can still be reached.
    restoreTargetFolder();

    // 5. and 6. The login item.
    m_launchAtLogin = m_services.loginItem.isEnabled();
    registerLoginItemAtFirstLaunch();
}

AppModel::~AppModel()
{
    if (m_syncTask)
        m_syncTask->cancel();
}

void AppModel::restoreTargetFolder()
{
    const QByteArray bookmark = m_settings.value(SettingKeys::targetFolderBookmark);
    if (bookmark.isEmpty())
        return;
    const auto resolved = m_services.bookmarks.resolve(bookmark);
    if (!resolved || !m_services.bookmarks.startAccess(resolved->path))
        return;
    m_targetFolder = QUrl::fromLocalFile(QDir(resolved->path).absolutePath() + QLatin1Char('/'));
    m_targetFolderAccessURL = resolved->path;
    if (resolved->stale)
        saveTargetFolderBookmark(resolved->path);
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

bool AppModel::isHttpsAddress(const QString &text)
{
    // QUrl lower-cases the scheme it reports, so the text itself must begin with it as written.
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && text.startsWith(QLatin1String("https:"));
}

bool AppModel::isConfigured() const
{
    return isHttpsAddress(m_supabaseURL) && !m_anonKey.trimmed().isEmpty();
}

void AppModel::handle(const std::exception &error)
{
    setLastError(errorMessage(error));
    setStatus(waitingForConnectionText);
}

// --- Lifecycle -------------------------------------------------------------------------------------

void AppModel::start()
{
    if (m_didStart)
        return;
    m_didStart = true;

    prepareTargetFolderIfNeeded();

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
}

bool AppModel::isRunning() const
{
    return m_syncTask && !m_syncTask->isCancelled();
}

QCoro::Task<> AppModel::runRepeatingTask(QPointer<AppModel> model, std::shared_ptr<Cancellation> cancellation)
{
    if (!model)
        co_return;

    co_await model->loadOfficialCloudConfiguration();
    if (!model)
        co_return;

    if (!model->isConfigured()) {
        model->setStatus(waitingForSettingsText);
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

// --- Login item ------------------------------------------------------------------------------------

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

// --- Busy flag -------------------------------------------------------------------------------------

AppModel::BusyScope::BusyScope(AppModel &model) : m_model(&model)
{
    if (model.m_busyCount++ == 0)
        Q_EMIT model.isWorkingChanged();
}

AppModel::BusyScope::~BusyScope()
{
    if (m_model && --m_model->m_busyCount == 0)
        Q_EMIT m_model->isWorkingChanged();
}

// --- Setters ---------------------------------------------------------------------------------------

namespace {

template<typename T, typename Signal>
void assign(AppModel *model, T &member, const T &value, Signal signal)
{
    if (member == value)
        return;
    member = value;
    Q_EMIT(model->*signal)();
}

} // namespace

void AppModel::setSupabaseURL(const QString &url)
{
    const bool wasConfigured = isConfigured();
    assign(this, m_supabaseURL, url, &AppModel::supabaseURLChanged);
    if (wasConfigured != isConfigured())
        Q_EMIT configurationChanged();
}

void AppModel::setAnonKey(const QString &key)
{
    const bool wasConfigured = isConfigured();
    assign(this, m_anonKey, key, &AppModel::anonKeyChanged);
    if (wasConfigured != isConfigured())
        Q_EMIT configurationChanged();
}

void AppModel::setShowingCloudSettings(bool showing)
{
    assign(this, m_showingCloudSettings, showing, &AppModel::showingCloudSettingsChanged);
}

void AppModel::setTargetFolder(const QUrl &folder) { assign(this, m_targetFolder, folder, &AppModel::targetFolderChanged); }
void AppModel::setPairing(const std::optional<PairingResponse> &pairing) { assign(this, m_pairing, pairing, &AppModel::pairingChanged); }
void AppModel::setPendingCount(int count) { assign(this, m_pendingCount, count, &AppModel::pendingCountChanged); }
void AppModel::setDownloadedToday(int count) { assign(this, m_downloadedToday, count, &AppModel::downloadedTodayChanged); }
void AppModel::setStatus(const QString &status) { assign(this, m_status, status, &AppModel::statusChanged); }
void AppModel::setLastSync(const std::optional<QDateTime> &time) { assign(this, m_lastSync, time, &AppModel::lastSyncChanged); }
void AppModel::setLaunchAtLoginValue(bool enabled) { assign(this, m_launchAtLogin, enabled, &AppModel::launchAtLoginChanged); }
void AppModel::setLastError(const std::optional<QString> &error) { assign(this, m_lastError, error, &AppModel::lastErrorChanged); }
void AppModel::setUpdateStatus(const QString &text) { assign(this, m_updateStatus, text, &AppModel::updateStatusChanged); }

void AppModel::setQrImage(const QImage &image)
{
    // Images compare by pixels; an identical re-render still counts as a new image for the views.
    m_qrImage = image;
    Q_EMIT qrImageChanged();
}
