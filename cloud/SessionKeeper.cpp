#include "cloud/SessionKeeper.h"

#include "core/Json.h"

#include <QCoro/QCoroSignal>
#include <QJsonObject>

namespace {

// Renewal starts this long before the access token runs out, absorbing the time spent on the network.
constexpr qint64 renewalMarginSeconds = 90;

QString sessionAccount()
{
    return QString::fromLatin1(KeychainStore::sessionAccount);
}

// Announces the end of a renewal to the callers that joined it.
class RenewalSignal : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void finished();
};

} // namespace

// Each waiter holds a shared reference, so the object outlives every wait on its signal.
struct SessionKeeper::Renewal {
    Backend backend;
    RenewalSignal signal;
    bool done = false;
    std::optional<CloudSession> result;
    std::exception_ptr error;
};

SessionKeeper::SessionKeeper(BackendClient &client, KeychainStore &keychain, Clock &clock, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_keychain(keychain)
    , m_clock(clock)
{
}

QCoro::Task<> SessionKeeper::loadStored()
{
    if (m_session)
        co_return;
    const quint64 generation = m_generation;
    const std::optional<QByteArray> stored = co_await m_keychain.load(sessionAccount());
    // Another caller may have filled the session meanwhile; and an item read while the backend
    // changed belongs to the old backend.
    if (!m_session && stored && generation == m_generation) {
        m_session = CloudSession::fromJson(*stored);
        if (m_session)
            Q_EMIT changed();
    }
}

bool SessionKeeper::belongsTo(const Backend &backend)
{
    if (!m_session)
        return true;
    if (!m_session->issuer) {
        // Stored by an earlier build, which kept one session per backend only by discarding it at
        // every change: the backend it meets first is its own.
        m_session->issuer = backend;
        m_keychain.save(m_session->toJson(), sessionAccount());
        Q_EMIT changed();
        return true;
    }
    return *m_session->issuer == backend;
}

QCoro::Task<bool> SessionKeeper::keepOnlyFor(Backend backend)
{
    backend = backend.normalised();
    co_await loadStored();
    if (belongsTo(backend))
        co_return false;
    discard();
    co_return true;
}

QCoro::Task<CloudSession> SessionKeeper::ensure(Backend backend)
{
    backend = backend.normalised();
    co_await keepOnlyFor(backend);

    const QDateTime limit = m_clock.now().addSecs(renewalMarginSeconds);
    if (m_session && m_session->expiresAt > limit)
        co_return CloudSession(*m_session);
    co_return co_await obtainFresh(std::move(backend));
}

void SessionKeeper::discard()
{
    // Bumping the generation first makes answers and stored items of the old backend that are still
    // on their way be dropped when they arrive.
    ++m_generation;
    m_session.reset();
    m_renewal.reset();
    // Not awaited: the store performs its operations in the order they were started, so the next
    // session saved always lands after this removal.
    m_keychain.remove(sessionAccount());
    Q_EMIT changed();
}

QCoro::Task<CloudSession> SessionKeeper::obtainFresh(Backend backend)
{
    // Results are handed out as copies: QCoro moves from any non-const lvalue given to co_return,
    // which would empty the shared result for the next waiter.
    // A renewal at another backend would hand out that backend's session: it is dropped instead.
    if (m_renewal && m_renewal->backend != backend)
        discard();
    const std::shared_ptr<Renewal> running = m_renewal;
    if (running) {
        if (!running->done)
            co_await qCoro(&running->signal, &RenewalSignal::finished);
        if (running->error)
            std::rethrow_exception(running->error);
        co_return CloudSession(*running->result);
    }

    const auto renewal = std::make_shared<Renewal>();
    renewal->backend = backend;
    m_renewal = renewal;
    const quint64 generation = m_generation;
    const std::optional<CloudSession> current = m_session;
    if (current) {
        try {
            renewal->result = co_await refreshSession(backend, *current);
        } catch (const std::exception &) {
            // A refused or failed refresh is not the caller's concern: a new user replaces it.
            if (generation == m_generation)
                m_session.reset();
        }
    }
    if (!renewal->result) {
        try {
            renewal->result = co_await createAnonymousSession(backend);
        } catch (...) {
            renewal->error = std::current_exception();
        }
    }

    renewal->done = true;
    if (m_renewal == renewal)
        m_renewal.reset();
    Q_EMIT renewal->signal.finished();
    if (renewal->error)
        std::rethrow_exception(renewal->error);
    co_return CloudSession(*renewal->result);
}

QCoro::Task<CloudSession> SessionKeeper::refreshSession(Backend backend, CloudSession current)
{
    const QByteArray body = compactJson(QJsonObject{{QStringLiteral("refresh_token"), current.refreshToken}});
    const quint64 generation = m_generation;
    const QByteArray answer = co_await m_client.request(backend,
        QStringLiteral("/auth/v1/token?grant_type=refresh_token"), "POST", body, std::nullopt, std::nullopt);
    // An answer from a backend that has been replaced meanwhile must not be kept as the new one's.
    if (generation != m_generation)
        co_return CloudSession::fromAuthResponse(answer, m_clock.now());
    co_return saveAuthResponse(answer, backend);
}

QCoro::Task<CloudSession> SessionKeeper::createAnonymousSession(Backend backend)
{
    const QByteArray body = compactJson(QJsonObject{{QStringLiteral("data"), QJsonObject()}});
    const quint64 generation = m_generation;
    const QByteArray answer = co_await m_client.request(
        backend, QStringLiteral("/auth/v1/signup"), "POST", body, std::nullopt, std::nullopt);
    if (generation != m_generation)
        co_return CloudSession::fromAuthResponse(answer, m_clock.now());
    co_return saveAuthResponse(answer, backend);
}

CloudSession SessionKeeper::saveAuthResponse(const QByteArray &answer, const Backend &issuer)
{
    CloudSession session = CloudSession::fromAuthResponse(answer, m_clock.now());
    session.issuer = issuer;
    m_session = session;
    // Not awaited: the store keeps its operations in the order they were started, so a later
    // removal or save still wins, and a failure here is silent anyway.
    m_keychain.save(session.toJson(), sessionAccount());
    Q_EMIT changed();
    return session;
}

#include "SessionKeeper.moc"
