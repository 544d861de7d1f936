#include "app/AppModel.h"

#include "app/RunningFlag.h"
#include "core/CompanionError.h"

namespace {

QString refusalReason(RefusedDocument::Reason reason)
{
    switch (reason) {
    case RefusedDocument::Reason::NotADocument:
        return QStringLiteral("dosya PDF ya da JPEG değil.");
    case RefusedDocument::Reason::Missing:
        return QStringLiteral("dosya bulutta bulunamadı.");
    case RefusedDocument::Reason::TooLarge:
        return QStringLiteral("dosya %1 MB sınırını aşıyor.").arg(maxDocumentBytes >> 20);
    case RefusedDocument::Reason::TooSlow:
        return QStringLiteral("bağlantı çok yavaş.");
    case RefusedDocument::Reason::Unreachable:
        return QStringLiteral("dosya buluttan indirilemedi.");
    }
    return {};
}

// Names the first passed-over document; they are tried again by later passes.
QString refusalMessage(const QList<Inbox::Refusal> &refused)
{
    const Inbox::Refusal &first = refused.first();
    if (refused.size() == 1)
        return QStringLiteral("“%1” kaydedilemedi: %2").arg(first.originalName, refusalReason(first.reason));
    return QStringLiteral("%1 evrak kaydedilemedi. İlki “%2”: %3")
        .arg(QString::number(refused.size()), first.originalName, refusalReason(first.reason));
}

const QString openFolderText = QStringLiteral("Klasörü Aç");
const QString showFileText = QStringLiteral("Göster");

} // namespace

void AppModel::announceArrivals()
{
    const QList<Arrival> saved = std::exchange(m_savedThisPass, {});
    // Once per pass, not per document: the list is a convenience, and every write is a disk sync.
    m_arrivals.save();
    if (saved.isEmpty() || !m_notificationsEnabled || (m_countInView && m_countInView()))
        return;
    const QString first = saved.first().fileName();
    const bool one = saved.size() == 1;
    const Notification notification{
        QStringLiteral("%1 evrak indirildi").arg(saved.size()),
        one ? first : QStringLiteral("%1 ve %2 evrak daha").arg(first, QString::number(saved.size() - 1)),
        one ? showFileText : openFolderText,
    };
    // One document is shown itself; several are shown where they all went.
    m_services.notifier.notify(notification, [model = QPointer<AppModel>(this), one, path = saved.first().path] {
        if (!model)
            return;
        if (one)
            model->showArrival(path);
        else
            model->openFolder();
    });
}

QCoro::Task<> AppModel::syncNow()
{
    if (!isConfigured() || isWorking() || m_isSyncing)
        co_return;
    // Values typed but not saved yet: neither the old backend's token nor a sign-up goes to them.
    if (hasUnsavedBackend()) {
        setStatus(waitingForSettingsText());
        co_return;
    }
    BusyScope busy(*this);
    RunningFlag syncing(this, m_isSyncing);
    // This pass lists everything queued so far: only a change from now on asks for another.
    m_passRequested = false;
    startCountingToday();

    try {
        if (!m_folder.hasAccess())
            throw CompanionError::targetFolderPermissionRequired();
        m_folder.create();

        // One backend for the whole pass, so a value saved meanwhile never meets this pass's token.
        const Backend backend = m_applied;
        const CloudSession session = co_await m_session.ensure(backend);
        if (!m_pairing.pairing())
            co_await refreshPairingWithoutBusy(session);
        if (!m_pairing.pairing())
            throw CompanionError::invalidResponse();
        followPush(); // the session may have been renewed

        // Built outside the co_await: GCC 12 destroys a braced temporary argument of a coroutine twice.
        const Inbox::Pass pass{backend, session, m_pairing.pairing()->computerId, m_folder.path()};
        const Inbox::Outcome outcome = co_await m_inbox.run(pass);

        setLastSync(m_services.clock.now());
        if (!outcome.refused.isEmpty()) {
            setStatus(QStringLiteral("%1 evrak kaydedilemedi").arg(outcome.refused.size()));
            setLastError(refusalMessage(outcome.refused));
        } else {
            setStatus(outcome.listed == 0 ? QStringLiteral("Yeni evrak bekleniyor")
                                          : QStringLiteral("Tüm evraklar indirildi"));
            setLastError(std::nullopt);
        }
    } catch (const std::exception &error) {
        handle(error);
    }
    // Documents saved before a failure have landed all the same.
    announceArrivals();
}
