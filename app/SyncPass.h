#pragma once

#include "cloud/Backend.h"
#include "cloud/SessionKeeper.h"
#include "pairing/PairingKeeper.h"
#include "platform/Clock.h"
#include "platform/Notifier.h"
#include "platform/Workspace.h"
#include "transfer/Inbox.h"
#include "transfer/RecentArrivals.h"
#include "transfer/TargetFolder.h"

#include <QCoro/QCoroTask>
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// One pass over this computer's queue and the rules around it: never two at a time, and none while
// anything else holds the busy flag; requests (from push or from the user) made meanwhile fold into
// one pass after the running one; the counters the passes keep; and what a pass says about the
// documents it saved and the ones it had to pass over.
class SyncPass : public QObject
{
    Q_OBJECT
public:
    // The least time between two requested passes: a server pushing (or rejoining) in a loop gets
    // one listing a second at most.
    static constexpr std::chrono::milliseconds requestGap{1000};

    // What a pass works with; every reference must outlive the pass.
    struct Parts {
        Clock &clock;
        Workspace &workspace;
        Notifier &notifier;
        SessionKeeper &session;
        PairingKeeper &pairing;
        TargetFolder &folder;
        Inbox &inbox;
        RecentArrivals &arrivals;
    };

    explicit SyncPass(Parts parts, QObject *parent = nullptr);
    ~SyncPass() override;

    // Keeps isWorking true while any holder lives: a pairing renewal ending during a pass must not
    // unguard the pass.
    class Busy
    {
    public:
        explicit Busy(SyncPass &pass);
        ~Busy();
        Busy(const Busy &) = delete;
        Busy &operator=(const Busy &) = delete;

    private:
        QPointer<SyncPass> m_pass;
    };

    bool isWorking() const { return m_busyCount > 0; }
    int pendingCount() const { return m_pendingCount; }
    int downloadedToday() const { return m_downloadedToday; }
    const std::optional<QDateTime> &lastSync() const { return m_lastSync; }
    // Also what a restored or previewed window shows; the passes keep them up to date themselves.
    void setPendingCount(int count);
    void setDownloadedToday(int count);
    void setLastSync(const std::optional<QDateTime> &time);

    // Whether a saving pass says so in a desktop notification.
    bool notificationsEnabled() const { return m_notificationsEnabled; }
    void setNotificationsEnabled(bool enabled) { m_notificationsEnabled = enabled; }
    // How to know that the user is looking at the counters: no notification is shown then. Null:
    // nobody is looking.
    void setCountInViewCheck(std::function<bool()> check) { m_countInView = std::move(check); }
    bool isCountInView() const { return m_countInView && m_countInView(); }

    // One pass against `backend`, unless one is running or anything else holds the busy flag.
    // Reports by the signals below; never throws.
    QCoro::Task<> run(Backend backend);
    // Asks for a pairing without showing it, named after the computer; a failure is reported.
    QCoro::Task<> pairSilently(Backend backend, CloudSession session);

    // A pass now, or one right after the running one, and never sooner than requestGap after the
    // previous requested one; `due` asks for it.
    void request();
    // Whether a pass has been asked for since the last one began.
    bool isRequested() const { return m_requested; }
    // Forgets a requested pass that waits for the gap to pass.
    void cancelWait();

Q_SIGNALS:
    void isWorkingChanged();
    void pendingCountChanged();
    void downloadedTodayChanged();
    void lastSyncChanged();
    // A requested pass may begin now; the owner decides whether one can run and calls run().
    void due();
    void statusReported(const QString &status);
    void errorReported(const std::optional<QString> &error);
    // A pass or its pairing failed for the reason given; nothing else was reported about it.
    void failed(const QString &message);
    // The user picked a notification: the saved file, or with an empty path the whole folder.
    void showRequested(const QString &path);

private:
    void startCountingToday();
    void noteSaved(const QString &path);
    // Tells of the documents this pass saved, unless there were none or the user sees them arrive.
    void announceArrivals();
    void runRequested();
    static QCoro::Task<> runRequestedLater(
        QPointer<SyncPass> pass, std::shared_ptr<Cancellation> cancellation, std::chrono::milliseconds delay);

    Parts m_parts;
    int m_busyCount = 0;
    int m_pendingCount = 0;
    int m_downloadedToday = 0;
    QDate m_countedDay; // the local day downloadedToday counts
    std::optional<QDateTime> m_lastSync;
    bool m_notificationsEnabled = true;
    std::function<bool()> m_countInView;
    QList<Arrival> m_savedThisPass; // in the order they landed

    bool m_requested = false;
    std::optional<QDateTime> m_lastRequested; // when the last requested pass began
    std::shared_ptr<Cancellation> m_requestedWait; // the gap before the next one; null: none
};
