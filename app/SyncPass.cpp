#include "app/SyncPass.h"

#include "core/CompanionError.h"

#include <algorithm>
#include <utility>

namespace {

// Names the first passed-over document; they are tried again by later passes.
QString refusalMessage(const QList<Inbox::Refusal> &refused)
{
    const Inbox::Refusal &first = refused.first();
    const QString reason = RefusedDocument::reasonText(first.reason);
    if (refused.size() == 1)
        return QStringLiteral("“%1” kaydedilemedi: %2").arg(first.originalName, reason);
    return QStringLiteral("%1 evrak kaydedilemedi. İlki “%2”: %3")
        .arg(QString::number(refused.size()), first.originalName, reason);
}

const QString openFolderText = QStringLiteral("Klasörü Aç");
const QString showFileText = QStringLiteral("Göster");

} // namespace

SyncPass::SyncPass(Parts parts, QObject *parent)
    : QObject(parent)
    , m_parts(parts)
    , m_countedDay(parts.clock.now().toLocalTime().date())
{
    // The pass's progress becomes the counters and the status line as it happens.
    connect(&m_parts.inbox, &Inbox::listed, this, &SyncPass::setPendingCount);
    connect(&m_parts.inbox, &Inbox::downloading, this, [this](int number, int count) {
        Q_EMIT statusReported(QStringLiteral("%1/%2 evrak indiriliyor…").arg(number).arg(count));
    });
    connect(&m_parts.inbox, &Inbox::saved, this,
        [this](const QString &, const QString &path) { noteSaved(path); });
    // Queued: the pass that just ended is still unwinding when the busy flag drops.
    connect(this, &SyncPass::isWorkingChanged, this, &SyncPass::runRequested, Qt::QueuedConnection);
}

SyncPass::~SyncPass()
{
    cancelWait();
}

SyncPass::Busy::Busy(SyncPass &pass)
    : m_pass(&pass)
{
    if (pass.m_busyCount++ == 0)
        Q_EMIT pass.isWorkingChanged();
}

SyncPass::Busy::~Busy()
{
    if (m_pass && --m_pass->m_busyCount == 0)
        Q_EMIT m_pass->isWorkingChanged();
}

void SyncPass::setPendingCount(int count)
{
    if (std::exchange(m_pendingCount, count) != count)
        Q_EMIT pendingCountChanged();
}

void SyncPass::setDownloadedToday(int count)
{
    if (std::exchange(m_downloadedToday, count) != count)
        Q_EMIT downloadedTodayChanged();
}

void SyncPass::setLastSync(const std::optional<QDateTime> &time)
{
    if (std::exchange(m_lastSync, time) != time)
        Q_EMIT lastSyncChanged();
}

void SyncPass::startCountingToday()
{
    const QDate today = m_parts.clock.now().toLocalTime().date();
    if (today == m_countedDay)
        return;
    m_countedDay = today;
    setDownloadedToday(0);
}

void SyncPass::noteSaved(const QString &path)
{
    const Arrival arrival{m_parts.clock.now(), path};
    m_savedThisPass.append(arrival);
    m_parts.arrivals.add(arrival);
    setPendingCount(std::max(0, m_pendingCount - 1));
    startCountingToday();
    setDownloadedToday(m_downloadedToday + 1);
}

QCoro::Task<> SyncPass::run(Backend backend)
{
    if (isWorking())
        co_return;
    Busy busy(*this);
    // This pass lists everything queued so far: only a change from now on asks for another.
    m_requested = false;
    startCountingToday();

    try {
        if (!m_parts.folder.hasAccess())
            throw CompanionError::targetFolderPermissionRequired();
        m_parts.folder.create();

        // One backend for the whole pass, so a value saved meanwhile never meets this pass's token.
        const CloudSession session = co_await m_parts.session.ensure(backend);
        if (!m_parts.pairing.pairing())
            co_await pairSilently(backend, session);
        if (!m_parts.pairing.pairing())
            throw CompanionError::invalidResponse();

        // Built outside the co_await: GCC 12 destroys a braced temporary argument of a coroutine twice.
        const Inbox::Pass pass{
            backend, session, m_parts.pairing.pairing()->computerId, m_parts.folder.path()};
        const Inbox::Outcome outcome = co_await m_parts.inbox.run(pass);

        setLastSync(m_parts.clock.now());
        if (!outcome.refused.isEmpty()) {
            Q_EMIT statusReported(QStringLiteral("%1 evrak kaydedilemedi").arg(outcome.refused.size()));
            Q_EMIT errorReported(refusalMessage(outcome.refused));
        } else {
            Q_EMIT statusReported(outcome.listed == 0 ? QStringLiteral("Yeni evrak bekleniyor")
                                                      : QStringLiteral("Tüm evraklar indirildi"));
            Q_EMIT errorReported(std::nullopt);
        }
    } catch (const std::exception &error) {
        Q_EMIT failed(errorMessage(error));
    }
    // Documents saved before a failure have landed all the same.
    announceArrivals();
}

QCoro::Task<> SyncPass::pairSilently(Backend backend, CloudSession session)
{
    const Workspace &workspace = m_parts.workspace;
    const QString name
        = workspace.computerName().value_or(workspace.platformName() + QStringLiteral(" Bilgisayarım"));
    try {
        co_await m_parts.pairing.renew(std::move(backend), std::move(session), name, m_parts.folder.name(),
            PairingKeeper::Image::Optional);
    } catch (const std::exception &error) {
        Q_EMIT failed(errorMessage(error));
    }
}

void SyncPass::announceArrivals()
{
    const QList<Arrival> saved = std::exchange(m_savedThisPass, {});
    // Once per pass, not per document: the list is a convenience, and every write is a disk sync.
    m_parts.arrivals.save();
    if (saved.isEmpty() || !m_notificationsEnabled || isCountInView())
        return;
    const QString first = saved.first().fileName();
    const bool one = saved.size() == 1;
    const Notification notification{
        QStringLiteral("%1 evrak indirildi").arg(saved.size()),
        one ? first : QStringLiteral("%1 ve %2 evrak daha").arg(first, QString::number(saved.size() - 1)),
        one ? showFileText : openFolderText,
    };
    // One document is shown itself; several are shown where they all went.
    m_parts.notifier.notify(
        notification, [pass = QPointer<SyncPass>(this), path = one ? saved.first().path : QString()] {
            if (pass)
                Q_EMIT pass->showRequested(path);
        });
}

void SyncPass::request()
{
    // However many changes arrive meanwhile, one pass after the running one sees them all.
    m_requested = true;
    runRequested();
}

void SyncPass::runRequested()
{
    // run() keeps the busy rule; a pass it declines now is asked for again when the busy flag drops.
    if (!m_requested || isWorking() || m_requestedWait)
        return;
    const QDateTime now = m_parts.clock.now();
    if (m_lastRequested) {
        // A clock set back counts as no time passed: the wait is never longer than the gap.
        const qint64 since = std::clamp<qint64>(m_lastRequested->msecsTo(now), 0, requestGap.count());
        if (since < requestGap.count()) {
            m_requestedWait = std::make_shared<Cancellation>();
            runRequestedLater(
                QPointer<SyncPass>(this), m_requestedWait, requestGap - std::chrono::milliseconds(since));
            return;
        }
    }
    Q_EMIT due();
    if (!m_requested) // it began
        m_lastRequested = now;
}

QCoro::Task<> SyncPass::runRequestedLater(
    QPointer<SyncPass> pass, std::shared_ptr<Cancellation> cancellation, std::chrono::milliseconds delay)
{
    const bool elapsed = co_await pass->m_parts.clock.sleep(delay, *cancellation);
    if (!elapsed || !pass || cancellation->isCancelled())
        co_return;
    pass->m_requestedWait.reset();
    pass->runRequested();
}

void SyncPass::cancelWait()
{
    if (m_requestedWait)
        std::exchange(m_requestedWait, nullptr)->cancel();
}
