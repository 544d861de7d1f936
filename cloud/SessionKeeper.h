#pragma once

#include "cloud/Backend.h"
#include "cloud/BackendClient.h"
#include "cloud/CloudSession.h"
#include "core/KeychainStore.h"
#include "platform/Clock.h"

#include <QCoro/QCoroTask>
#include <QObject>

#include <exception>
#include <memory>
#include <optional>

// The anonymous user's session: held in memory and in the secret store, renewed shortly before it
// runs out, with one renewal in flight however many callers find it due, so that no second
// anonymous user is ever made by accident.
class SessionKeeper : public QObject
{
    Q_OBJECT
public:
    SessionKeeper(BackendClient &client, KeychainStore &keychain, Clock &clock, QObject *parent = nullptr);

    // A session of `backend` that lasts more than 90 seconds more: the held or stored one, else a
    // refreshed one, else a new anonymous user's. A failed refresh falls back to the sign-up silently;
    // throws what the sign-up threw. A session another backend issued is discarded, never sent.
    QCoro::Task<CloudSession> ensure(Backend backend);
    // Keeps the held or stored session only if `backend` issued it; one stored without its issuer is
    // taken as `backend`'s. Returns whether a session of another backend was discarded.
    QCoro::Task<bool> keepOnlyFor(Backend backend);
    // Forgets the session and removes the stored one, because the backend changed. Answers and
    // stored items of the old backend still on their way are dropped when they arrive.
    void discard();
    // The session held in memory.
    const std::optional<CloudSession> &current() const { return m_session; }

Q_SIGNALS:
    // current() was taken up, replaced, or forgotten; a refresh that fails on its way to a sign-up
    // does not count, the sign-up's session or failure follows at once.
    void changed();

private:
    struct Renewal;

    // Fills the held session from the secret store when none is held.
    QCoro::Task<> loadStored();
    // Whether the held session may be used with `backend` (normalised); adopts an unknown issuer.
    bool belongsTo(const Backend &backend);
    QCoro::Task<CloudSession> obtainFresh(Backend backend);
    QCoro::Task<CloudSession> refreshSession(Backend backend, CloudSession current);
    QCoro::Task<CloudSession> createAnonymousSession(Backend backend);
    // Reads an authentication answer into the held and stored session.
    CloudSession saveAuthResponse(const QByteArray &answer, const Backend &issuer);

    BackendClient &m_client;
    KeychainStore &m_keychain;
    Clock &m_clock;
    std::optional<CloudSession> m_session;
    std::shared_ptr<Renewal> m_renewal; // the refresh or sign-up in flight
    quint64 m_generation = 0; // counts discards
};
