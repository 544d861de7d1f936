#include "app/AppModel.h"

QCoro::Task<> AppModel::loadOfficialCloudConfiguration()
{
    if (const std::optional<Backend> manual = m_cloudSettings.manualBackend()) {
        co_await applyCloudConfiguration(*manual);
        co_return;
    }

    setStatus(QStringLiteral("Güvenli bağlantı hazırlanıyor…"));
    const QPointer<AppModel> self(this);
    const std::optional<Backend> official = co_await m_cloudSettings.fetchOfficial();
    if (!self)
        co_return;
    if (official) {
        co_await applyCloudConfiguration(*official);
        co_return;
    }
    // Without a usable document the cached values, else the ones held now, silently.
    if (const std::optional<Backend> cached = m_cloudSettings.cachedOfficial())
        co_await applyCloudConfiguration(*cached);
    else
        co_await applyCloudConfiguration(m_backend);
}

QCoro::Task<> AppModel::applyCloudConfiguration(Backend backend)
{
    backend = backend.normalised();
    setBackend(backend);
    setApplied(backend);
    // Nothing configured says nothing about whose a stored session is.
    if (!backend.isConfigured())
        co_return;
    // The same values as last time keep the session, and with it the computer and its pairing.
    const QPointer<AppModel> self(this);
    const bool discarded = co_await m_session.keepOnlyFor(backend);
    if (self && discarded)
        m_pairing.clear();
}

void AppModel::discardBackendState()
{
    m_session.discard();
    m_pairing.clear();
}

void AppModel::saveCloudSettings()
{
    setBackend(m_backend.normalised());
    if (m_backend != m_applied)
        discardBackendState();
    setApplied(m_backend);
    m_cloudSettings.saveManual(m_backend);
    setShowingCloudSettings(false);

    // A repeating task that stopped to wait for these values starts now and connects by itself.
    if (m_lifecycle == Lifecycle::WaitingForSettings) {
        startRepeatingTask();
        return;
    }
    // Runs on by itself; the sheet closes at once.
    prepareConnection();
}

QCoro::Task<> AppModel::prepareConnection()
{
    try {
        const Backend backend = m_applied;
        co_await m_session.ensure(backend);
    } catch (const std::exception &error) {
        handle(error);
        co_return;
    }
    co_await refreshPairing();
}

// --- Pairing ---------------------------------------------------------------------------------------

QCoro::Task<> AppModel::refreshPairing()
{
    if (!isConfigured()) {
        setShowingCloudSettings(true);
        co_return;
    }
    SyncPass::Busy busy(m_pass);
    setStatus(QStringLiteral("QR kod hazırlanıyor…"));
    setLastError(std::nullopt);

    try {
        const Backend backend = m_applied;
        const CloudSession session = co_await m_session.ensure(backend);
        co_await m_pairing.renew(backend, session, QStringLiteral("Tarvolin Masaüstü · ") + platformName(),
            m_folder.name(), PairingKeeper::Image::Required);
        setStatus(QStringLiteral("QR kod hazır"));
        setLastError(std::nullopt);
    } catch (const std::exception &error) {
        handle(error);
    }
}
