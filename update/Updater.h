#pragma once

#include "core/BuildValues.h"
#include "platform/ApplicationHost.h"
#include "platform/HttpClient.h"
#include "update/DesktopUpdateManifest.h"

#include <QObject>
#include <QString>
#include <QCoro/QCoroTask>

// The self-updater: what is installed, what the product web site offers, and the verified
// replacement of the installed application folder by a newer build.
class Updater : public QObject
{
    Q_OBJECT
public:
    Updater(HttpClient &http, ApplicationHost &application, BuildValues build, QObject *parent = nullptr);

    // Who keeps this copy up to date: the user's own folder is this updater's to replace; the store
    // and the package manager update what they installed themselves.
    enum class InstallOwner { user, store, packageManager };
    InstallOwner installOwner() const;
    bool isAppStoreBuild() const { return installOwner() == InstallOwner::store; }
    // The installed folder's version, else the version this program was built as.
    QString currentVersion() const;
    // Whether `version` orders after the installed one.
    bool isNewerVersion(const QString &version) const;

    // The manifest the product web site publishes. Throws CompanionError::invalidURL for a site
    // address that is no URL, invalidResponse for an answer outside 200-299, PlatformError for one
    // that does not decode and for transport failures.
    QCoro::Task<DesktopUpdateManifest> fetchManifest();
    // Downloads the offered archive, verifies its digest, unpacks it into a fresh working folder and
    // starts the script that swaps the installed folder once this program has quit. Throws
    // CompanionError::server with the reason when anything is unsafe or fails; nothing installed is
    // touched then. On success the caller quits the program.
    QCoro::Task<> install(DesktopUpdateManifest manifest);

private:
    void launchSwapScript(const QString &stagedApp);

    HttpClient &m_http;
    ApplicationHost &m_application;
    BuildValues m_build;
};
