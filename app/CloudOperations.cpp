#include "app/AppModel.h"

QCoro::Task<> AppModel::loadOfficialCloudConfiguration()
{
    if (const std::optional<Backend> manual = m_cloudSettings.manualBackend()) {
        applyCloudConfiguration(*manual);
        co_return;
    }

    setStatus(QStringLiteral("Güvenli bağlantı hazırlanıyor…"));
    const QPointer<AppModel> self(this);
    const std::optional<Backend> official = co_await m_cloudSettings.fetchOfficial();
    if (!self)
        co_return;
    if (official) {
        applyCloudConfiguration(*official);
        co_return;
    }
    // Without a usable document the cached values, else the ones held now, silently.
    if (const std::optional<Backend> cached = m_cloudSettings.cachedOfficial())
        applyCloudConfiguration(*cached);
}

void AppModel::applyCloudConfiguration(const Backend &backend)
{
    const Backend normalised = backend.normalised();
    if (normalised != m_backend)
        discardBackendState();
    setBackend(normalised);
}

void AppModel::discardBackendState()
{
    m_session.discard();
    m_pairing.clear();
}

void AppModel::saveCloudSettings()
{
    const Backend previous = m_cloudSettings.savedManual();
    setBackend(m_backend.normalised());
    if (m_backend != previous)
        discardBackendState();
    m_cloudSettings.saveManual(m_backend);
    setShowingCloudSettings(false);

    // Runs on by itself; the sheet closes at once.
    prepareConnection();
}

QCoro::Task<> AppModel::prepareConnection()
{
    try {
        co_await m_session.ensure(m_backend);
    } catch (const std::exception &error) {
        handle(error);
        co_return;
    }
    co_await refreshPairing();
}
