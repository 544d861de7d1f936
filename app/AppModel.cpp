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
    : QObject(parent)
    , m_services(services)
    , m_build(std::move(build))
    , m_settings(services.settings)
    , m_keychain(services.secrets)
    , m_client(services.http)
    , m_cloudSettings(services.http, m_settings, m_build.siteOrigin)
    , m_session(m_client, m_keychain, services.clock)
    , m_pairing(m_client)
    , m_folder(services.bookmarks, m_settings)
    , m_inbox(m_client, services.clock, m_settings)
    , m_updater(services.http, services.application, m_settings, services.clock, m_build)
    , m_push(services.clock)
    , m_arrivals(arrivalsFile(services.application))
    , m_pass(SyncPass::Parts{services.clock, services.workspace, services.notifier, m_session, m_pairing,
          m_folder, m_inbox, m_arrivals})
    , m_backend{m_build.supabaseURL, m_build.anonKey}
    , m_applied(m_backend.normalised())
    , m_status(preparingText)
    , m_updateStatus(
          QStringLiteral("Tarvolin Masaüstü %1 · ").arg(m_updater.currentVersion()) + m_build.siteDomain())
{
    connect(&m_pairing, &PairingKeeper::pairingChanged, this, &AppModel::pairingChanged);
    connect(&m_pairing, &PairingKeeper::qrImageChanged, this, &AppModel::qrImageChanged);
    connect(&m_folder, &TargetFolder::changed, this, &AppModel::targetFolderChanged);
    connect(&m_arrivals, &RecentArrivals::changed, this, &AppModel::recentArrivalsChanged);

    // The channel listens with this computer's current token, so it follows both.
    connect(&m_pairing, &PairingKeeper::pairingChanged, this, &AppModel::followPush);
    connect(&m_session, &SessionKeeper::changed, this, &AppModel::followPush);
    connect(&m_push, &RealtimeChannel::changed, &m_pass, &SyncPass::request);

    connect(&m_pass, &SyncPass::isWorkingChanged, this, &AppModel::isWorkingChanged);
    connect(&m_pass, &SyncPass::pendingCountChanged, this, &AppModel::pendingCountChanged);
    connect(&m_pass, &SyncPass::downloadedTodayChanged, this, &AppModel::downloadedTodayChanged);
    connect(&m_pass, &SyncPass::lastSyncChanged, this, &AppModel::lastSyncChanged);
    connect(&m_pass, &SyncPass::statusReported, this, &AppModel::setStatus);
    connect(&m_pass, &SyncPass::errorReported, this, &AppModel::setLastError);
    connect(&m_pass, &SyncPass::failed, this, qOverload<const QString &>(&AppModel::handle));
    // A requested pass still meets the model's own rules: settings saved, not stopped.
    connect(&m_pass, &SyncPass::due, this, [this] {
        if (m_lifecycle != Lifecycle::Stopped)
            syncNow();
    });
    connect(&m_pass, &SyncPass::showRequested, this, [this](const QString &path) {
        if (path.isEmpty())
            openFolder();
        else
            showArrival(path);
    });

    m_services.wake.setHandler([this](WakeEvents::Reason) { catchUp(); });

    m_pass.setNotificationsEnabled(m_settings.value(SettingKeys::notificationsEnabled));

    // The remembered folder, if it can still be reached; then the login item.
    restoreTargetFolder();
    m_launchAtLogin = m_services.loginItem.isEnabled();
    registerLoginItemAtFirstLaunch();
}

AppModel::~AppModel()
{
    m_services.wake.setHandler(nullptr);
    m_pass.cancelWait();
    if (m_syncTask)
        m_syncTask->cancel();
}

void AppModel::handle(const std::exception &error)
{
    handle(errorMessage(error));
}

void AppModel::handle(const QString &message)
{
    setLastError(message);
    setStatus(waitingForConnectionText);
}

QCoro::Task<> AppModel::syncNow()
{
    if (!isConfigured() || isWorking())
        co_return;
    // Values typed but not saved yet: neither the old backend's token nor a sign-up goes to them.
    if (hasUnsavedBackend()) {
        setStatus(waitingForSettingsText());
        co_return;
    }
    co_await m_pass.run(m_applied);
}

// --- Push --------------------------------------------------------------------------------------------

void AppModel::enablePush()
{
    m_push.setTlsConfiguration(m_services.http.tlsConfiguration());
    m_pushEnabled = true;
    followPush();
}

void AppModel::followPush()
{
    if (!m_pushEnabled)
        return;
    const std::optional<CloudSession> &session = m_session.current();
    const std::optional<PairingResponse> &pairing = m_pairing.pairing();
    // A session of another backend (the applied one has just changed, and the keeper has not yet
    // judged it) never meets this one's channel.
    const bool sessionFits = session && (!session->issuer || *session->issuer == m_applied);
    if (m_lifecycle == Lifecycle::Stopped || !m_applied.isConfigured() || !sessionFits || !pairing
        || pairing->computerId.isEmpty()) {
        m_push.follow(std::nullopt, {});
        return;
    }
    const RealtimeChannel::Subscription subscription{m_applied, pairing->computerId};
    m_push.follow(subscription, session->accessToken);
}

// --- Setters ---------------------------------------------------------------------------------------

namespace {

template <typename T, typename Signal> void assign(AppModel *model, T &member, const T &value, Signal signal)
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

void AppModel::setApplied(const Backend &backend)
{
    if (backend == m_applied)
        return;
    m_applied = backend;
    followPush();
}

void AppModel::setLifecycle(Lifecycle lifecycle)
{
    if (lifecycle == m_lifecycle)
        return;
    m_lifecycle = lifecycle;
    followPush();
}

void AppModel::setSupabaseURL(const QString &url)
{
    setBackend(Backend{url, m_backend.key});
}
void AppModel::setAnonKey(const QString &key)
{
    setBackend(Backend{m_backend.url, key});
}

void AppModel::setShowingCloudSettings(bool showing)
{
    assign(this, m_showingCloudSettings, showing, &AppModel::showingCloudSettingsChanged);
}

void AppModel::setStatus(const QString &status)
{
    assign(this, m_status, status, &AppModel::statusChanged);
}
void AppModel::setLaunchAtLoginValue(bool enabled)
{
    assign(this, m_launchAtLogin, enabled, &AppModel::launchAtLoginChanged);
}
void AppModel::setLastError(const std::optional<QString> &error)
{
    assign(this, m_lastError, error, &AppModel::lastErrorChanged);
}
void AppModel::setUpdateStatus(const QString &text)
{
    assign(this, m_updateStatus, text, &AppModel::updateStatusChanged);
}

void AppModel::setNotificationsEnabled(bool enabled)
{
    if (enabled == m_pass.notificationsEnabled())
        return;
    m_settings.set(SettingKeys::notificationsEnabled, enabled);
    m_pass.setNotificationsEnabled(enabled);
    Q_EMIT notificationsEnabledChanged();
}
