#pragma once

#include "core/BuildValues.h"
#include "core/Settings.h"
#include "platform/ApplicationHost.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "update/DesktopUpdateManifest.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>

#include <optional>

// The self-updater: what is installed, what the product web site offers, and the verified
// replacement of the installed application folder by a newer build.
class Updater : public QObject
{
    Q_OBJECT
public:
    Updater(HttpClient &http, ApplicationHost &application, Settings &settings, Clock &clock,
        BuildValues build, QObject *parent = nullptr);

    // Who keeps this copy up to date: the user's own folder is this updater's to replace; the store
    // and the package manager update what they installed themselves.
    enum class InstallOwner { user, store, packageManager };
    InstallOwner installOwner() const;
    bool isAppStoreBuild() const { return installOwner() == InstallOwner::store; }
    // The installed folder's version, else the version this program was built as.
    QString currentVersion() const;
    // Whether `version` orders after the installed one.
    bool isNewerVersion(const QString &version) const;

    // Why `version` is not to be installed now, known without downloading anything: this program does
    // not run from an application folder, that folder cannot be replaced, or this version failed to
    // install less than a day ago. Nothing when it may be installed.
    std::optional<QString> reasonNotToInstall(const QString &version) const;

    // Run once at start, when this copy is up: tells a swap that waits for this start that the new
    // program runs, or finishes one whose script has gone (".old" removed, or put back when this
    // program was started from it), and removes working folders of earlier updates.
    void settleEarlierUpdate();

    // The manifest the product web site publishes. Throws CompanionError::invalidURL for a site
    // address that is no URL, invalidResponse for an answer outside 200-299, PlatformError for one
    // that does not decode and for transport failures.
    QCoro::Task<DesktopUpdateManifest> fetchManifest();
    // Downloads the offered archive, verifies its digest, unpacks it into a fresh working folder and
    // starts the script that swaps the installed folder once this program has quit. Throws
    // CompanionError::server with the reason when anything is unsafe or fails (the reasons above
    // included); nothing installed is touched then and the working folder is removed. A failure of
    // the archive itself, or a hand-over, is remembered for a day. On success the caller quits the
    // program.
    QCoro::Task<> install(DesktopUpdateManifest manifest);

private:
    void unpackAndHandOver(
        const DesktopUpdateManifest &manifest, const QString &archivePath, const QString &workFolder);
    void launchSwapScript(const QString &stagedApp);
    void rememberAttempt(const QString &version);

    HttpClient &m_http;
    ApplicationHost &m_application;
    Settings &m_settings;
    Clock &m_clock;
    BuildValues m_build;
    // Locked from the hand-over on and deliberately never closed: the kernel releases it when this
    // process has really ended, which is what the swap script waits for.
    int m_handOverLock = -1;
};
