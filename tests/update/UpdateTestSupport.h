#pragma once

// Shared pieces of the self-updater's tests: a loopback HTTPS site, zip archives built on the spot,
// throw-away application folders, and a model wired to them.

#include "tests/support/Fakes.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <ostream>

// Readable failure messages for the Turkish texts.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace httplib {
class SSLServer;
}

struct UpdateTests;

template<>
struct TestAccess<UpdateTests> {
    static QCoro::Task<> downloadAndInstall(AppModel &model, DesktopUpdateManifest manifest)
    {
        return model.downloadAndInstallUpdate(std::move(manifest));
    }
};

// An HTTPS server on 127.0.0.1 that answers GET requests from a table of paths (404 otherwise).
class SiteServer
{
public:
    SiteServer();
    ~SiteServer();

    void put(const QString &path, const QByteArray &body, int status = 200, int delayMs = 0);
    QString origin() const;              // "https://127.0.0.1:<port>"
    QStringList requests() const;        // paths asked for, in order
    static QList<QSslCertificate> authorities();

private:
    struct Answer {
        QByteArray body;
        int status = 200;
        int delayMs = 0;
    };
    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    QMap<QString, Answer> m_answers;
    QStringList m_requests;
};

struct ZipEntry {
    enum Kind { File, Folder, Symlink };
    ZipEntry(QString name, Kind kind = File, QByteArray data = {}, int mode = 0644)
        : name(std::move(name)), kind(kind), data(std::move(data)), mode(mode)
    {
    }
    QString name;
    Kind kind;
    QByteArray data;          // file contents, or the link's target
    int mode;
};

// Writes a zip archive with exactly these entries, names taken as they are (even "../x" or "/x").
QByteArray makeZip(const QList<ZipEntry> &entries);
// The entries of a complete application folder whose program is `program`, optionally under another
// top folder name.
QList<ZipEntry> bundleEntries(const QByteArray &program, const QString &top = QStringLiteral("Tarvolin.app"));
// Creates <parent>/Tarvolin.app with the version file (if any) and an executable shell program.
QString makeBundle(const QString &parent, const std::optional<QString> &version, const QByteArray &program = {});
QString sha256Hex(const QByteArray &bytes);
QByteArray readFile(const QString &path);
// Folders in `folder` whose names start with "Tarvolin-Update-".
QStringList workFolders(const QString &folder);

// A model wired to fakes, a site server and a throw-away installed application folder.
struct UpdateFixture {
    UpdateFixture();

    QTemporaryDir temp;        // holds the installed folder and the program's temporary directory
    SiteServer site;
    TestServices services{SiteServer::authorities()};
    QString installed;         // .../installed/Tarvolin.app, version 1.1.2
    QString temporary;         // the program's temporary directory
    std::unique_ptr<AppModel> model;

    // Publishes the archive and a manifest naming it; returns the manifest.
    DesktopUpdateManifest publish(const QByteArray &archive, const QString &version = QStringLiteral("1.2.0"));
    // Runs the installation and returns the message of its failure, or nothing when it succeeded.
    std::optional<QString> install(const DesktopUpdateManifest &manifest);
};
