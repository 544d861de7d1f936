#pragma once

#include "app/SyncPass.h"
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

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

// The one object the views see: its properties are the program's published state, its operations
// what the views and the repeating task call. The work itself is done by the subsystem objects it
// owns (the backend client, the session and pairing keepers, the target folder, the inbox, the pass
// and the updater); the model wires them together and turns their results into the published state.
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
    static constexpr std::chrono::milliseconds pushPassGap = SyncPass::requestGap;
    static constexpr qint64 updateCheckIntervalSeconds = 21600;

    explicit AppModel(
        PlatformServices services, BuildValues build = BuildValues::compiledIn(), QObject *parent = nullptr);
    ~AppModel() override;

    // --- Published state -------------------------------------------------------------------------
    QString supabaseURL() const { return m_backend.url; }
    void setSupabaseURL(const QString &url);
    QString anonKey() const { return m_backend.key; }
    void setAnonKey(const QString &key);
    QUrl targetFolder() const { return m_folder.url(); }
    const std::optional<PairingResponse> &pairing() const { return m_pairing.pairing(); }
    QImage qrImage() const { return m_pairing.qrImage(); } // null: no image
    int pendingCount() const { return m_pass.pendingCount(); }
    int downloadedToday() const { return m_pass.downloadedToday(); }
    QString status() const { return m_status; }
    std::optional<QDateTime> lastSync() const { return m_pass.lastSync(); }
    bool isWorking() const { return m_pass.isWorking(); }
    bool showingCloudSettings() const { return m_showingCloudSettings; }
    void setShowingCloudSettings(bool showing);
    bool launchAtLogin() const { return m_launchAtLogin; }
    std::optional<QString> lastError() const { return m_lastError; }
    QString updateStatus() const { return m_updateStatus; }
    // The status line and the error banner; besides the model's own operations, the views' previews
    // set them.
    void setStatus(const QString &status);
    void setLastError(const std::optional<QString> &error);
    // Whether a pass that saved documents says so in a desktop notification; remembered.
    bool notificationsEnabled() const { return m_pass.notificationsEnabled(); }
    void setNotificationsEnabled(bool enabled);
    // The views tell the model how to know that the user is looking at the counters: no notification
    // is shown then. Null: nobody is looking.
    void setCountInViewCheck(std::function<bool()> check) { m_pass.setCountInViewCheck(std::move(check)); }

    // The platform's word for this kind of computer, for the views to name the connection with.
    QString platformName() const { return m_services.workspace.platformName(); }

    // The documents saved lately, newest first, kept across restarts; recentArrivalsChanged tells of
    // each change.
    const RecentArrivals &recentArrivals() const { return m_arrivals; }

    // Whether a usable backend address and key are set: an address whose scheme is exactly "https"
    // and a key that is not blank.
    bool isConfigured() const { return m_backend.isConfigured(); }
    // The values every request goes to: applied at start or saved. The live ones above may be
    // mid-edit.
    const Backend &appliedBackend() const { return m_applied; }

    // --- The parts the model wires ------------------------------------------------------------------
    // Open for the benches and for tests that drive one part on the model's own wiring.
    SyncPass &pass() { return m_pass; }
    SessionKeeper &sessionKeeper() { return m_session; }
    PairingKeeper &pairingKeeper() { return m_pairing; }
    Inbox &inbox() { return m_inbox; }
    const TargetFolder &folder() const { return m_folder; }
    const RealtimeChannel &pushChannel() const { return m_push; }

    // --- Lifecycle ---------------------------------------------------------------------------------
    // Settles an earlier update, prepares the target folder (possibly asking for one) and launches
    // the repeating task. Only the first call does anything, and none after stop().
    void start();
    // Confirms or finishes a swap that handed over to this start and removes old update working
    // folders. start() calls it; a copy that is not the one to run must not.
    void finishEarlierUpdate() { m_updater.settleEarlierUpdate(); }
    // Cancels the repeating task for good; a later start() does nothing.
    void stop();
    // Whether a repeating task has been launched and not cancelled.
    bool isRunning() const;
    // The repeating task's first steps, also run on their own: the backend values to use (the saved
    // ones, else the published document, else the cached ones), then a session and a pairing code.
    QCoro::Task<> loadOfficialCloudConfiguration();
    QCoro::Task<> prepareConnection();

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
    // Where the model is in its life. Kept apart from it: a pass running (the pass's own busy
    // rule), an update check running (it may run beside anything, until the program quits), and
    // whether push is used at all (the entry point's choice, made before or after the start).
    enum class Lifecycle {
        NotStarted,
        Running, // the repeating task is alive
        WaitingForSettings, // started, but the task ended early for want of backend values
        Stopped, // for good
    };
    void setLifecycle(Lifecycle lifecycle);

    // Setters that announce changes; operations use these, never the members directly.
    void setBackend(const Backend &backend);
    void setApplied(const Backend &backend);
    void setLaunchAtLoginValue(bool enabled);
    void setUpdateStatus(const QString &text);

    static QString waitingForSettingsText() { return QStringLiteral("Bulut ayarları bekleniyor"); }

    // Turns an error into lastError and the waiting status line.
    void handle(const std::exception &error);
    void handle(const QString &message);

    // --- Lifecycle and updates (Lifecycle.cpp) -----------------------------------------------------
    void startRepeatingTask();
    static QCoro::Task<> runRepeatingTask(
        QPointer<AppModel> model, std::shared_ptr<Cancellation> cancellation);
    void registerLoginItemAtFirstLaunch();
    // Back from sleep or from a network outage: the push socket is likely dead and documents may
    // have been queued meanwhile, so reconnect and look now.
    void catchUp();

    // --- Cloud configuration and pairing (CloudOperations.cpp) --------------------------------------
    // Makes `backend` the one in use; the session and pairing stay when that backend issued them.
    QCoro::Task<> applyCloudConfiguration(Backend backend);
    void discardBackendState();
    // Whether the live values have been edited away from the applied ones and not saved yet.
    bool hasUnsavedBackend() const { return m_backend.normalised() != m_applied; }

    // --- Wiring (AppModel.cpp) ------------------------------------------------------------------------
    // Points the push channel at the applied backend, this computer and the current token, or
    // leaves it when one of them is missing or the model has stopped. Runs whenever one of them
    // changes.
    void followPush();

    // --- Target folder (FolderOperations.cpp) ---------------------------------------------------------
    void restoreTargetFolder();
    // The start's first step: asks for a folder when none can be reached, else creates it.
    void prepareTargetFolder();

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
    SyncPass m_pass;

    Backend m_backend; // the live values, edited in place by the settings sheet
    Backend m_applied; // the values in use: applied at start or saved; every request goes here
    QString m_status;
    bool m_showingCloudSettings = false;
    bool m_launchAtLogin = false;
    std::optional<QString> m_lastError;
    QString m_updateStatus;

    Lifecycle m_lifecycle = Lifecycle::NotStarted;
    std::shared_ptr<Cancellation> m_syncTask; // the repeating task's cancellation; null: none
    bool m_isCheckingForUpdates = false; // an update check is running
    bool m_pushEnabled = false;
};
