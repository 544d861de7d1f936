#include "app/AppModel.h"

#include "core/CompanionError.h"

namespace {

const QString preparingText = QStringLiteral("Hazırlanıyor…");
const QString waitingForConnectionText = QStringLiteral("Bağlantı bekleniyor");

QString arrivalsFile(const ApplicationHost &application)
{
    const QString folder = application.dataDirectory();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/recent-arrivals.json");
}

} // namespace

AppModel::AppModel(PlatformServices services, BuildValues build, QObject *parent)
    : QObject(parent),
      m_services(services),
      m_build(std::move(build)),
      m_settings(services.settings),
      m_keychain(services.secrets),
      m_client(services.http),
      m_cloudSettings(services.http, m_settings, m_build.siteOrigin),
      m_session(m_client, m_keychain, services.clock),
      m_pairing(m_client),
      m_folder(services.bookmarks, m_settings),
      m_inbox(m_client, services.clock, m_settings),
      m_updater(services.http, services.application, m_settings, services.clock, m_build),
      m_push(services.clock),
      m_arrivals(arrivalsFile(services.application)),
      m_backend{m_build.supabaseURL, m_build.anonKey},
      m_applied(m_backend.normalised()),
      m_status(preparingText),
      m_updateStatus(QStringLiteral("Tarvolin Masaüstü %1 · ").arg(m_updater.currentVersion()) + m_build.siteDomain())
{
    connect(&m_pairing, &PairingKeeper::pairingChanged, this, &AppModel::pairingChanged);
    connect(&m_pairing, &PairingKeeper::pairingChanged, this, &AppModel::followPush);
    connect(&m_push, &RealtimeChannel::changed, this, &AppModel::requestPass);
    // Queued: the pass that just ended is still unwinding when the busy flag drops.
    connect(this, &AppModel::isWorkingChanged, this, &AppModel::runRequestedPass, Qt::QueuedConnection);
    connect(&m_pairing, &PairingKeeper::qrImageChanged, this, &AppModel::qrImageChanged);
    connect(&m_folder, &TargetFolder::changed, this, &AppModel::targetFolderChanged);
    connect(&m_arrivals, &RecentArrivals::changed, this, &AppModel::recentArrivalsChanged);

    // The pass's progress becomes the counters and the status line as it happens.
    connect(&m_inbox, &Inbox::listed, this, &AppModel::setPendingCount);
    connect(&m_inbox, &Inbox::downloading, this, [this](int number, int count) {
        setStatus(QStringLiteral("%1/%2 evrak indiriliyor…").arg(number).arg(count));
    });
    connect(&m_inbox, &Inbox::saved, this, [this](const QString &, const QString &path) {
        const Arrival arrival{m_services.clock.now(), path};
        m_savedThisPass.append(arrival);
        m_arrivals.add(arrival);
        setPendingCount(std::max(0, m_pendingCount - 1));
        startCountingToday();
        setDownloadedToday(m_downloadedToday + 1);
    });

    m_services.wake.setHandler([this](WakeEvents::Reason) { catchUp(); });

    m_countedDay = m_services.clock.now().toLocalTime().date();
    m_notificationsEnabled = m_settings.value(SettingKeys::notificationsEnabled);

    // The remembered folder, if it can still be reached; then the login item.
    restoreTargetFolder();
    m_launchAtLogin = m_services.loginItem.isEnabled();
    registerLoginItemAtFirstLaunch();
}

AppModel::~AppModel()
{
    m_services.wake.setHandler(nullptr);
    cancelRequestedPassWait();
    if (m_syncTask)
        m_syncTask->cancel();
}

void AppModel::handle(const std::exception &error)
{
    setLastError(errorMessage(error));
    setStatus(waitingForConnectionText);
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

void AppModel::setBackend(const Backend &backend)
{
    const bool wasConfigured = isConfigured();
    assign(this, m_backend.url, backend.url, &AppModel::supabaseURLChanged);
    assign(this, m_backend.key, backend.key, &AppModel::anonKeyChanged);
    if (wasConfigured != isConfigured())
        Q_EMIT configurationChanged();
}

void AppModel::setSupabaseURL(const QString &url) { setBackend(Backend{url, m_backend.key}); }
void AppModel::setAnonKey(const QString &key) { setBackend(Backend{m_backend.url, key}); }

void AppModel::setShowingCloudSettings(bool showing)
{
    assign(this, m_showingCloudSettings, showing, &AppModel::showingCloudSettingsChanged);
}

void AppModel::setPendingCount(int count) { assign(this, m_pendingCount, count, &AppModel::pendingCountChanged); }
void AppModel::setDownloadedToday(int count) { assign(this, m_downloadedToday, count, &AppModel::downloadedTodayChanged); }
void AppModel::setStatus(const QString &status) { assign(this, m_status, status, &AppModel::statusChanged); }
void AppModel::setLastSync(const std::optional<QDateTime> &time) { assign(this, m_lastSync, time, &AppModel::lastSyncChanged); }
void AppModel::setLaunchAtLoginValue(bool enabled) { assign(this, m_launchAtLogin, enabled, &AppModel::launchAtLoginChanged); }
void AppModel::setLastError(const std::optional<QString> &error) { assign(this, m_lastError, error, &AppModel::lastErrorChanged); }
void AppModel::setUpdateStatus(const QString &text) { assign(this, m_updateStatus, text, &AppModel::updateStatusChanged); }

void AppModel::setNotificationsEnabled(bool enabled)
{
    if (enabled == m_notificationsEnabled)
        return;
    m_settings.set(SettingKeys::notificationsEnabled, enabled);
    m_notificationsEnabled = enabled;
    Q_EMIT notificationsEnabledChanged();
}

void AppModel::startCountingToday()
{
    const QDate today = m_services.clock.now().toLocalTime().date();
    if (today == m_countedDay)
        return;
    m_countedDay = today;
    setDownloadedToday(0);
}
