#pragma once

#include "cloud/Backend.h"
#include "cloud/BackendClient.h"
#include "cloud/CloudSettings.h"
#include "cloud/RealtimeChannel.h"
#include "cloud/SessionKeeper.h"
#include "core/BuildValues.h"
#include "core/KeychainStore.h"
#include "core/Settings.h"
#include "pairing/PairingKeeper.h"
#include "platform/PlatformServices.h"
#include "transfer/Inbox.h"
#include "transfer/RecentArrivals.h"
#include "transfer/TargetFolder.h"
#include "update/Updater.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QCoro/QCoroTask>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

// Tests reach private members through specialisations of this, one per test folder.
template<typename Subsystem>
struct TestAccess;

// The one object the views see: its properties are the program's published state, its operations
// what the views and the repeating task call. The work itself is done by the subsystem objects it
// owns (the backend client, the session and pairing keepers, the target folder, the inbox and the
// updater); the model wires them together and turns their results into the published state.
// Everything runs on the main thread; operations that wait for the network are coroutines that
// suspend without blocking it.
class AppModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString supabaseURL READ supabaseURL WRITE setSupabaseURL NOTIFY supabaseURLChanged)
    Q_PROPERTY(QString anonKey READ anonKey WRITE setAnonKey NOTIFY anonKeyChanged)
    Q_PROPERTY(QUrl targetFolder READ targetFolder NOTIFY targetFolderChanged)
    Q_PROPERTY(std::optional<PairingResponse> pairing READ pairing NOTIFY pairingChanged)
    Q_PROPERTY(QImage qrImage READ qrImage NOTIFY qrImageChanged)
    Q_PROPERTY(int pendingCount READ pendingCount NOTIFY pendingCountChanged)
    Q_PROPERTY(int downloadedToday READ downloadedToday NOTIFY downloadedTodayChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(std::optional<QDateTime> lastSync READ lastSync NOTIFY lastSyncChanged)
    Q_PROPERTY(bool isWorking READ isWorking NOTIFY isWorkingChanged)
    Q_PROPERTY(bool showingCloudSettings READ showingCloudSettings WRITE setShowingCloudSettings NOTIFY
                   showingCloudSettingsChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(std::optional<QString> lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(QString updateStatus READ updateStatus NOTIFY updateStatusChanged)
    Q_PROPERTY(bool isConfigured READ isConfigured NOTIFY configurationChanged)
    Q_PROPERTY(bool notificationsEnabled READ notificationsEnabled WRITE setNotificationsEnabled NOTIFY
                   notificationsEnabledChanged)

public:
    // Settings keys that several operations share.
    static constexpr auto targetFolderBookmarkKey = SettingKeys::targetFolderBookmark.name;
    static constexpr auto cachedSupabaseURLKey = SettingKeys::cachedOfficialSupabaseURL.name;
    static constexpr auto cachedSupabaseAnonKey = SettingKeys::cachedOfficialSupabaseAnonKey.name;

    // The pass interval and the update rule of the repeating task.
    static constexpr std::chrono::seconds syncInterval{20};
    // The least time between two passes that push asks for: a server pushing (or rejoining) in a
    // loop gets one listing a second at most.
    static constexpr std::chrono::milliseconds pushPassGap{1000};
    static constexpr qint64 updateCheckIntervalSeconds = 21600;

    explicit AppModel(PlatformServices services, BuildValues build = BuildValues::compiledIn(),
                      QObject *parent = nullptr);
    ~AppModel() override;

    // --- Published state -------------------------------------------------------------------------
    QString supabaseURL() const { return m_backend.url; }
    void setSupabaseURL(const QString &url);
    QString anonKey() const { return m_backend.key; }
    void setAnonKey(const QString &key);
    QUrl targetFolder() const { return m_folder.url(); }
    const std::optional<PairingResponse> &pairing() const { return m_pairing.pairing(); }
    QImage qrImage() const { return m_pairing.qrImage(); } // null: no image
    int pendingCount() const { return m_pendingCount; }
    int downloadedToday() const { return m_downloadedToday; }
    QString status() const { return m_status; }
    std::optional<QDateTime> lastSync() const { return m_lastSync; }
    bool isWorking() const { return m_busyCount > 0; }
    bool showingCloudSettings() const { return m_showingCloudSettings; }
    void setShowingCloudSettings(bool showing);
    bool launchAtLogin() const { return m_launchAtLogin; }
    std::optional<QString> lastError() const { return m_lastError; }
    QString updateStatus() const { return m_updateStatus; }
    // Whether a pass that saved documents says so in a desktop notification; remembered.
    bool notificationsEnabled() const { return m_notificationsEnabled; }
    void setNotificationsEnabled(bool enabled);
    // The views tell the model how to know that the user is looking at the counters: no notification
    // is shown then. Null: nobody is looking.
    void setCountInViewCheck(std::function<bool()> check) { m_countInView = std::move(check); }

    // The platform's word for this kind of computer, for the views to name the connection with.
    QString platformName() const { return m_services.workspace.platformName(); }

    // The documents saved lately, newest first, kept across restarts; recentArrivalsChanged tells of
    // each change.
    const RecentArrivals &recentArrivals() const { return m_arrivals; }

    // Whether a usable backend address and key are set: an address whose scheme is exactly "https"
    // and a key that is not blank.
    bool isConfigured() const { return m_backend.isConfigured(); }

    // --- Lifecycle ---------------------------------------------------------------------------------
    // Settles an earlier update, prepares the target folder (possibly asking for one) and launches
    // the repeating task. Only the first call in a process does anything.
    void start();
    // Confirms or finishes a swap that handed over to this start and removes old update working
    // folders. start() calls it; a copy that is not the one to run must not.
    void finishEarlierUpdate() { m_updater.settleEarlierUpdate(); }
    // Cancels the repeating task for good; a later start() does nothing.
    void stop();
    // Whether a repeating task has been launched and not cancelled.
    bool isRunning() const;

    // --- Operations the views call -----------------------------------------------------------------
    // Stores the backend values typed into the settings sheet, closes it and connects anew; starts
    // the repeating task when it had stopped to wait for these values.
    void saveCloudSettings();
    // Asks for a new pairing code and shows it; reports its own failures.
    QCoro::Task<> refreshPairing();
    // One sync pass, unless one is running or cannot run; reports its own failures. While the live
    // backend values differ from the applied ones (the sheet is being edited), it only says so.
    QCoro::Task<> syncNow();
    // Lets the user choose the target folder.
    void chooseFolder(bool isInitialSetup = false);
    // Shows the target folder in the file browser, creating it first.
    void openFolder();
    // Shows a saved document selected in the file browser; one that has gone since shows the target
    // folder instead.
    void showArrival(const QString &path);
    // Checks the published manifest and installs a newer build; a silent check reports nothing.
    QCoro::Task<> checkForUpdates(bool silent);
    // Registers or removes the login item; a refusal is reported and the switch follows the system.
    void setLaunchAtLogin(bool enabled);
    // Follows the backend's push service beside the poll, trusting what the requests trust: a
    // document queued for this computer starts a pass at once. Off until called; the poll alone runs
    // passes then.
    void enablePush();

    // --- Update facts ------------------------------------------------------------------------------
    bool isAppStoreBuild() const { return m_updater.isAppStoreBuild(); }
    QString currentVersion() const { return m_updater.currentVersion(); }
    bool isNewerVersion(const QString &version) const { return m_updater.isNewerVersion(version); }

Q_SIGNALS:
    void supabaseURLChanged();
    void anonKeyChanged();
    void targetFolderChanged();
    void pairingChanged();
    void qrImageChanged();
    void pendingCountChanged();
    void downloadedTodayChanged();
    void statusChanged();
    void lastSyncChanged();
    void isWorkingChanged();
    void showingCloudSettingsChanged();
    void launchAtLoginChanged();
    void lastErrorChanged();
    void updateStatusChanged();
    void configurationChanged();
    void notificationsEnabledChanged();
    void recentArrivalsChanged();

private:
    template<typename Subsystem>
    friend struct TestAccess;

    // Setters that announce changes; operations use these, never the members directly.
    void setBackend(const Backend &backend);
    void setPendingCount(int count);
    void setDownloadedToday(int count);
    // Starts downloadedToday again from zero once the local date has moved on.
    void startCountingToday();
    void setStatus(const QString &status);
    void setLastSync(const std::optional<QDateTime> &time);
    void setLaunchAtLoginValue(bool enabled);
    void setLastError(const std::optional<QString> &error);
    void setUpdateStatus(const QString &text);

    // Keeps isWorking true while any holder lives: a pairing renewal ending during a pass must not
    // unguard the pass.
    class BusyScope
    {
    public:
        explicit BusyScope(AppModel &model);
        ~BusyScope();
        BusyScope(const BusyScope &) = delete;
        BusyScope &operator=(const BusyScope &) = delete;

    private:
        QPointer<AppModel> m_model;
    };

    static QString waitingForSettingsText() { return QStringLiteral("Bulut ayarları bekleniyor"); }

    // Tells of the documents this pass saved, unless there were none or the user sees them arrive.
    void announceArrivals();

    // Turns an error into lastError and the waiting status line.
    void handle(const std::exception &error);

    // --- Lifecycle (Lifecycle.cpp) -------------------------------------------------------------------
    void startRepeatingTask();
    static QCoro::Task<> runRepeatingTask(QPointer<AppModel> model, std::shared_ptr<Cancellation> cancellation);
    void registerLoginItemAtFirstLaunch();

    // --- Cloud configuration (CloudOperations.cpp) ----------------------------------------------------
    QCoro::Task<> loadOfficialCloudConfiguration();
    QCoro::Task<> prepareConnection();
    // Makes `backend` the one in use; the session and pairing stay when that backend issued them.
    QCoro::Task<> applyCloudConfiguration(Backend backend);
    void discardBackendState();
    // Whether the live values have been edited away from the applied ones and not saved yet.
    bool hasUnsavedBackend() const { return m_backend.normalised() != m_applied; }

    // --- Pairing (PairingOperations.cpp) --------------------------------------------------------------
    QCoro::Task<> refreshPairingWithoutBusy(CloudSession auth);
    QString targetFolderName() const;

    // --- Push (PushOperations.cpp) -----------------------------------------------------------------------
    // Points the push channel at the applied backend, this computer and the current token, or
    // leaves it when one of them is missing or the model has stopped.
    void followPush();
    // A pass now, or one right after the running one (never two at a time), and never sooner
    // than pushPassGap after the previous one push asked for.
    void requestPass();
    void runRequestedPass();
    static QCoro::Task<> runRequestedPassLater(QPointer<AppModel> model, std::shared_ptr<Cancellation> cancellation,
                                               std::chrono::milliseconds delay);
    void cancelRequestedPassWait();
    bool isStopped() const;
    // Back from sleep or from a network outage: the push socket is likely dead and documents may
    // have been queued meanwhile, so reconnect and look now.
    void catchUp();

    // --- Target folder (FolderOperations.cpp) ---------------------------------------------------------
    void restoreTargetFolder();
    void prepareTargetFolderIfNeeded();

    // --- Services, subsystems and state -------------------------------------------------------------
    PlatformServices m_services;
    BuildValues m_build;
    Settings m_settings;
    KeychainStore m_keychain;
    BackendClient m_client;
    CloudSettings m_cloudSettings;
    SessionKeeper m_session;
    PairingKeeper m_pairing;
    TargetFolder m_folder;
    Inbox m_inbox;
    Updater m_updater;
    RealtimeChannel m_push;
    RecentArrivals m_arrivals;

    Backend m_backend; // the live values, edited in place by the settings sheet
    Backend m_applied; // the values in use: applied at start or saved; every request goes here
    int m_pendingCount = 0;
    int m_downloadedToday = 0;
    QDate m_countedDay; // the local day downloadedToday counts
    QString m_status;
    std::optional<QDateTime> m_lastSync;
    int m_busyCount = 0;
    bool m_showingCloudSettings = false;
    bool m_launchAtLogin = false;
    std::optional<QString> m_lastError;
    QString m_updateStatus;
    bool m_notificationsEnabled = true;
    std::function<bool()> m_countInView;
    QList<Arrival> m_savedThisPass; // in the order they landed

    std::shared_ptr<Cancellation> m_syncTask; // the repeating task's cancellation; null: none
    bool m_didPrepareTargetFolder = false;
    bool m_didStart = false;
    bool m_isLooping = false;            // the repeating task is alive (it ends early without settings)
    bool m_isSyncing = false;            // a pass is running
    bool m_isCheckingForUpdates = false; // an update check is running
    bool m_pushEnabled = false;
    bool m_passRequested = false;        // a pass was asked for since the last one began
    std::optional<QDateTime> m_lastRequestedPass; // when the last pass push asked for began
    std::shared_ptr<Cancellation> m_requestedPassWait; // the gap before the next one; null: none
};
