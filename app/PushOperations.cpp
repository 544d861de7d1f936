#include "app/AppModel.h"

void AppModel::enablePush()
{
    m_push.setTlsConfiguration(m_services.http.tlsConfiguration());
    m_pushEnabled = true;
    followPush();
}

bool AppModel::isStopped() const
{
    return m_syncTask && m_syncTask->isCancelled();
}

void AppModel::followPush()
{
    if (!m_pushEnabled)
        return;
    const std::optional<CloudSession> &session = m_session.current();
    const std::optional<PairingResponse> &pairing = m_pairing.pairing();
    if (isStopped() || !m_applied.isConfigured() || !session || !pairing || pairing->computerId.isEmpty()) {
        m_push.follow(std::nullopt, {});
        return;
    }
    const RealtimeChannel::Subscription subscription{m_applied, pairing->computerId};
    m_push.follow(subscription, session->accessToken);
}

void AppModel::requestPass()
{
    // However many changes arrive meanwhile, one pass after the running one sees them all.
    m_passRequested = true;
    runRequestedPass();
}

void AppModel::runRequestedPass()
{
    // syncNow keeps the busy rule; a pass it declines now is asked for again when the busy flag drops.
    if (m_passRequested && !isStopped())
        syncNow();
}

void AppModel::catchUp()
{
    // Before the start nothing is due yet; after the stop nothing runs any more.
    if (!isRunning())
        return;
    m_push.reconnect();
    requestPass();
}
