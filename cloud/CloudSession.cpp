#include "app/AppModel.h"

#include "core/CompanionError.h"
#include "core/Json.h"
#include "cloud/SessionRenewal.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QCoro/QCoroSignal>

#include <cmath>

namespace {

const QString sessionAccount = QString::fromLatin1(KeychainStore::sessionAccount);

// Stored instants count from 2001-01-01 00:00:00 UTC, as the program always stored them.
constexpr qint64 referenceDateMs = 978307200000LL;

// Renewal starts this long before the access token runs out, absorbing the time spent on the network.
constexpr qint64 renewalMarginSeconds = 90;

// Far beyond any real token lifetime or stored date (about 3000 years); larger numbers would overflow
// the date arithmetic.
constexpr double maxSeconds = 1e11;

bool isUsableSeconds(double seconds)
{
    return std::isfinite(seconds) && std::fabs(seconds) <= maxSeconds;
}

// Turns an authentication answer into a session whose expiry counts from `now`. Throws the parser's
// error for text that is not JSON, and CompanionError::invalidResponse for any missing or mistyped field.
CloudSession parseAuthResponse(const QByteArray &answer, const QDateTime &now)
{
    const QJsonObject object = parseJsonObject(answer);
    const QJsonValue access = object.value(QLatin1String("access_token"));
    const QJsonValue refresh = object.value(QLatin1String("refresh_token"));
    const QJsonValue expiresIn = object.value(QLatin1String("expires_in"));
    const QJsonValue user = object.value(QLatin1String("user"));
    const QJsonValue userId = user.toObject().value(QLatin1String("id"));
    if (!access.isString() || !refresh.isString() || !expiresIn.isDouble() || !user.isObject()
        || !userId.isString() || !isUsableSeconds(expiresIn.toDouble()))
        throw CompanionError::invalidResponse();

    const auto lifetimeMs = static_cast<qint64>(std::llround(expiresIn.toDouble() * 1000.0));
    return CloudSession{access.toString(), refresh.toString(), now.addMSecs(lifetimeMs), userId.toString()};
}

} // namespace

// --- The record ------------------------------------------------------------------------------------

QByteArray CloudSession::toJson() const
{
    const double seconds = static_cast<double>(expiresAt.toMSecsSinceEpoch() - referenceDateMs) / 1000.0;
    return compactJson(QJsonObject{
        {QStringLiteral("accessToken"), accessToken},
        {QStringLiteral("refreshToken"), refreshToken},
        {QStringLiteral("expiresAt"), seconds},
        {QStringLiteral("userId"), userId},
    });
}

std::optional<CloudSession> CloudSession::fromJson(const QByteArray &json)
{
    const std::optional<QJsonObject> parsed = jsonObject(json);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;
    const QJsonValue access = object.value(QLatin1String("accessToken"));
    const QJsonValue refresh = object.value(QLatin1String("refreshToken"));
    const QJsonValue expires = object.value(QLatin1String("expiresAt"));
    const QJsonValue user = object.value(QLatin1String("userId"));
    if (!access.isString() || !refresh.isString() || !expires.isDouble() || !user.isString()
        || !isUsableSeconds(expires.toDouble()))
        return std::nullopt;

    const auto ms = static_cast<qint64>(std::llround(expires.toDouble() * 1000.0));
    return CloudSession{access.toString(), refresh.toString(),
                        QDateTime::fromMSecsSinceEpoch(referenceDateMs + ms, Qt::UTC), user.toString()};
}

// --- The model's session ---------------------------------------------------------------------------

QCoro::Task<CloudSession> AppModel::ensureSession()
{
    if (!m_session) {
        const quint64 generation = m_backendGeneration;
        const std::optional<QByteArray> stored = co_await m_keychain.load(sessionAccount);
        // Another caller may have filled the session meanwhile; and an item read while the backend
        // changed belongs to the old backend.
        if (!m_session && stored && generation == m_backendGeneration)
            m_session = CloudSession::fromJson(*stored);
    }

    const QDateTime limit = m_services.clock.now().addSecs(renewalMarginSeconds);
    if (m_session && m_session->expiresAt > limit)
        co_return CloudSession(*m_session);
    co_return co_await obtainFreshSession();
}

QCoro::Task<CloudSession> AppModel::obtainFreshSession()
{
    // Results are handed out as copies: QCoro moves from any non-const lvalue given to co_return,
    // which would empty the shared result for the next waiter.
    const std::shared_ptr<SessionRenewal> running = m_sessionRenewal;
    if (running) {
        if (!running->done)
            co_await qCoro(&running->signal, &RenewalSignal::finished);
        if (running->error)
            std::rethrow_exception(running->error);
        co_return CloudSession(*running->result);
    }

    const auto renewal = std::make_shared<SessionRenewal>();
    m_sessionRenewal = renewal;
    const quint64 generation = m_backendGeneration;
    const std::optional<CloudSession> current = m_session;
    if (current) {
        try {
            renewal->result = co_await refreshSession(*current);
        } catch (const std::exception &) {
            // A refused or failed refresh is not the caller's concern: a new user replaces it.
            if (generation == m_backendGeneration)
                m_session.reset();
        }
    }
    if (!renewal->result) {
        try {
            renewal->result = co_await createAnonymousSession();
        } catch (...) {
            renewal->error = std::current_exception();
        }
    }

    renewal->done = true;
    if (m_sessionRenewal == renewal)
        m_sessionRenewal.reset();
    Q_EMIT renewal->signal.finished();
    if (renewal->error)
        std::rethrow_exception(renewal->error);
    co_return CloudSession(*renewal->result);
}

QCoro::Task<CloudSession> AppModel::refreshSession(CloudSession current)
{
    const QByteArray body = compactJson(QJsonObject{{QStringLiteral("refresh_token"), current.refreshToken}});
    const quint64 generation = m_backendGeneration;
    const QByteArray answer = co_await request(QStringLiteral("/auth/v1/token?grant_type=refresh_token"),
                                               "POST", body, std::nullopt, std::nullopt);
    // An answer from a backend that has been replaced meanwhile must not be kept as the new one's.
    if (generation != m_backendGeneration)
        co_return parseAuthResponse(answer, m_services.clock.now());
    co_return saveAuthResponse(answer);
}

QCoro::Task<CloudSession> AppModel::createAnonymousSession()
{
    const QByteArray body = compactJson(QJsonObject{{QStringLiteral("data"), QJsonObject()}});
    const quint64 generation = m_backendGeneration;
    const QByteArray answer =
        co_await request(QStringLiteral("/auth/v1/signup"), "POST", body, std::nullopt, std::nullopt);
    if (generation != m_backendGeneration)
        co_return parseAuthResponse(answer, m_services.clock.now());
    co_return saveAuthResponse(answer);
}

CloudSession AppModel::saveAuthResponse(const QByteArray &answer)
{
    CloudSession session = parseAuthResponse(answer, m_services.clock.now());
    m_session = session;
    // Not awaited: the store keeps its operations in the order they were started, so a later
    // removal or save still wins, and a failure here is silent anyway.
    m_keychain.save(session.toJson(), sessionAccount);
    return session;
}
