#pragma once

#include "core/BuildValues.h"
#include "core/KeychainStore.h"
#include "core/Settings.h"
#include "cloud/CloudConfiguration.h"
#include "cloud/CloudSession.h"
#include "pairing/PairingResponse.h"
#include "platform/PlatformServices.h"
#include "transfer/TransferItem.h"
#include "update/DesktopUpdateManifest.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QCoro/QCoroTask>

#include <exception>
#include <memory>
#include <optional>

class QNetworkReply;

// Tests reach the model's private operations through specialisations of this, one per subsystem.
template<typename Subsystem>
struct TestAccess;

// The one object that owns the program's state. Views read its properties and call its operations;
// everything runs on the main thread, and operations that wait for the network are coroutines that
// suspend without blocking it.
//
// The operations of each subsystem are defined in that subsystem's folder (cloud/, pairing/,
// transfer/, update/); this header is the only declaration of the model.
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

public:
    // Settings keys that several operations share.
    static constexpr auto targetFolderBookmarkKey = SettingKeys::targetFolderBookmark.name;
    static constexpr auto cachedSupabaseURLKey = SettingKeys::cachedOfficialSupabaseURL.name;
    static constexpr auto cachedSupabaseAnonKey = SettingKeys::cachedOfficialSupabaseAnonKey.name;

    // The pass interval and the update rule of the repeating task.
    static constexpr std::chrono::seconds syncInterval{20};
    static constexpr qint64 updateCheckIntervalSeconds = 21600;

    explicit AppModel(PlatformServices services, BuildValues build = BuildValues::compiledIn(),
                      QObject *parent = nullptr);
    ~AppModel() override;

    // --- Published state -------------------------------------------------------------------------
    QString supabaseURL() const { return m_supabaseURL; }
    void setSupabaseURL(const QString &url);
    QString anonKey() const { return m_anonKey; }
    void setAnonKey(const QString &key);
    QUrl targetFolder() const { return m_targetFolder; }
    const std::optional<PairingResponse> &pairing() const { return m_pairing; }
    QImage qrImage() const { return m_qrImage; } // null: no image
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

    // Whether a usable backend address and key are set: an address whose scheme is exactly "https"
    // and a key that is not blank.
    bool isConfigured() const;

    // --- Lifecycle (app/) --------------------------------------------------------------------------
    // Prepares the target folder (possibly asking for one) and launches the repeating task. Only
    // the first call in a process does anything.
    void start();
    // Cancels the repeating task for good; a later start() does nothing.
    void stop();
    // Whether a repeating task has been launched and not cancelled.
    bool isRunning() const;

    // --- Operations the views call -----------------------------------------------------------------
    void saveCloudSettings();                          // cloud/
    QCoro::Task<> refreshPairing();                    // pairing/
    QCoro::Task<> syncNow();                           // transfer/
    void chooseFolder(bool isInitialSetup = false);    // transfer/
    void openFolder();                                 // transfer/
    QCoro::Task<> checkForUpdates(bool silent);        // update/
    void setLaunchAtLogin(bool enabled);               // app/

    // --- Update facts (update/) --------------------------------------------------------------------
    bool isAppStoreBuild() const;
    QString currentVersion() const;
    bool isNewerVersion(const QString &version) const;

    // --- File naming and validation (transfer/) ----------------------------------------------------
    struct DocumentDigest {
        qint64 size = 0;
        QByteArray sha256; // raw digest bytes
    };
    struct Destination {
        QString path;            // absolute path inside the target folder
        bool identicalExists;    // a file with exactly these bytes is already there
    };
    // The file the document goes to: a cleaned, never-overwriting name in the target folder, or an
    // existing file that already holds exactly these bytes.
    Destination uniqueDestination(const QString &originalName, const DocumentDigest &digest) const;
    // Throws CompanionError::server when the leading bytes are not the kind the name promises.
    static void validateDocument(const QByteArray &leadingBytes, const QString &originalName);

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

private:
    // Tests reach private operations through specialisations of this, one per test subsystem.
    template<typename Subsystem>
    friend struct TestAccess;

    // Setters that announce changes; operations use these, never the members directly.
    void setTargetFolder(const QUrl &folder);
    void setPairing(const std::optional<PairingResponse> &pairing);
    void setQrImage(const QImage &image);
    void setPendingCount(int count);
    void setDownloadedToday(int count);
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

    // Turns an error into lastError and the waiting status line.
    void handle(const std::exception &error);
    // Whether the text, unchanged, is a URL whose scheme is written exactly "https".
    static bool isHttpsAddress(const QString &text);

    // --- app/ ----------------------------------------------------------------------------------------
    static QCoro::Task<> runRepeatingTask(QPointer<AppModel> model, std::shared_ptr<Cancellation> cancellation);
    void restoreTargetFolder();
    void registerLoginItemAtFirstLaunch();

    // --- cloud/ --------------------------------------------------------------------------------------
    QCoro::Task<> loadOfficialCloudConfiguration();
    QCoro::Task<> prepareConnection();
    static bool isValidCloudConfiguration(const QString &url, const QString &key);
    void applyCloudConfiguration(const QString &url, const QString &key);
    void discardBackendState();
    // Sends one backend request and returns the whole body of a 2xx answer; throws otherwise.
    QCoro::Task<QByteArray> request(QString path, QByteArray method, std::optional<QByteArray> body,
                                    std::optional<QString> token, std::optional<QString> prefer);
    QCoro::Task<CloudSession> ensureSession();
    QCoro::Task<CloudSession> refreshSession(CloudSession current);
    QCoro::Task<CloudSession> createAnonymousSession();
    CloudSession saveAuthResponse(const QByteArray &answer);
    QCoro::Task<CloudSession> obtainFreshSession(); // the one refresh-or-sign-up in flight

    // --- pairing/ ------------------------------------------------------------------------------------
    QCoro::Task<> refreshPairingWithoutBusy(CloudSession auth);
    static QImage makeQRCode(const QString &text);

    // --- transfer/ -----------------------------------------------------------------------------------
    QCoro::Task<> download(TransferItem item, CloudSession auth);
    void prepareTargetFolderIfNeeded();
    void saveTargetFolderBookmark(const QString &folderPath);

    // --- update/ -------------------------------------------------------------------------------------
    QCoro::Task<> downloadAndInstallUpdate(DesktopUpdateManifest manifest);
    void launchUpdater(const QString &stagedApp);

    // --- State ---------------------------------------------------------------------------------------
    PlatformServices m_services;
    BuildValues m_build;
    Settings m_settings;
    KeychainStore m_keychain;

    QString m_supabaseURL;
    QString m_anonKey;
    QUrl m_targetFolder;
    std::optional<PairingResponse> m_pairing;
    QImage m_qrImage;
    int m_pendingCount = 0;
    int m_downloadedToday = 0;
    QString m_status;
    std::optional<QDateTime> m_lastSync;
    int m_busyCount = 0;
    bool m_showingCloudSettings = false;
    bool m_launchAtLogin = false;
    std::optional<QString> m_lastError;
    QString m_updateStatus;

    std::optional<CloudSession> m_session;
    std::shared_ptr<Cancellation> m_syncTask; // the repeating task's cancellation; null: none
    bool m_didPrepareTargetFolder = false;
    bool m_didStart = false;
    std::optional<QString> m_targetFolderAccessURL; // folder whose access is held
    bool m_usesManualCloudConfiguration = false;

    // Subsystem bookkeeping beyond the published state.
    struct SessionRenewal;                          // cloud/: the refresh or sign-up in flight
    std::shared_ptr<SessionRenewal> m_sessionRenewal;
    quint64 m_backendGeneration = 0;                // cloud/: counts discards of the backend's state
    bool m_isSyncing = false;                       // transfer/: a pass is running
    bool m_isCheckingForUpdates = false;            // update/: a check is running
};
