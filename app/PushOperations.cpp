#include "app/AppModel.h"

#include <algorithm>
#include <utility>

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
    if (!m_passRequested || isStopped() || isWorking() || m_requestedPassWait)
        return;
    const QDateTime now = m_services.clock.now();
    if (m_lastRequestedPass) {
        // A clock set back counts as no time passed: the wait is never longer than the gap.
        const qint64 since = std::clamp<qint64>(m_lastRequestedPass->msecsTo(now), 0, pushPassGap.count());
        if (since < pushPassGap.count()) {
            m_requestedPassWait = std::make_shared<Cancellation>();
            runRequestedPassLater(QPointer<AppModel>(this), m_requestedPassWait,
                                  pushPassGap - std::chrono::milliseconds(since));
            return;
        }
    }
    syncNow();
    if (!m_passRequested) // it began
        m_lastRequestedPass = now;
}

QCoro::Task<> AppModel::runRequestedPassLater(QPointer<AppModel> model, std::shared_ptr<Cancellation> cancellation,
                                              std::chrono::milliseconds delay)
{
    const bool elapsed = co_await model->m_services.clock.sleep(delay, *cancellation);
    if (!elapsed || !model || cancellation->isCancelled())
        co_return;
    model->m_requestedPassWait.reset();
    model->runRequestedPass();
}

void AppModel::cancelRequestedPassWait()
{
    if (m_requestedPassWait)
        std::exchange(m_requestedPassWait, nullptr)->cancel();
}

void AppModel::catchUp()
{
    // Before the start nothing is due yet; after the stop nothing runs any more.
    if (!isRunning())
        return;
    m_push.reconnect();
    requestPass();
}
