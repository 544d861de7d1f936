#include "app/AppModel.h"

#include "app/RunningFlag.h"
#include "core/CompanionError.h"

QCoro::Task<> AppModel::syncNow()
{
    if (!isConfigured() || isWorking() || m_isSyncing)
        co_return;
    BusyScope busy(*this);
    RunningFlag syncing(this, m_isSyncing);

    try {
        if (!m_folder.hasAccess())
            throw CompanionError::targetFolderPermissionRequired();
        m_folder.create();

        // One backend for the whole pass, so a value typed meanwhile never meets this pass's token.
        const Backend backend = m_backend;
        const CloudSession session = co_await m_session.ensure(backend);
        if (!m_pairing.pairing())
            co_await refreshPairingWithoutBusy(session);
        if (!m_pairing.pairing())
            throw CompanionError::invalidResponse();

        // Built outside the co_await: GCC 12 destroys a braced temporary argument of a coroutine twice.
        const Inbox::Pass pass{backend, session, m_pairing.pairing()->computerId, m_folder.path()};
        const int count = co_await m_inbox.run(pass);

        setLastSync(m_services.clock.now());
        setStatus(count == 0 ? QStringLiteral("Yeni evrak bekleniyor") : QStringLiteral("Tüm evraklar indirildi"));
        setLastError(std::nullopt);
    } catch (const std::exception &error) {
        handle(error);
    }
}
