#pragma once

// Shared pieces of the self-updater's tests: zip archives built on the spot, throw-away application
// folders, and a model wired to them and to the local stand-in of the product web site.

#include "tests/support/Fakes.h"

#include "LocalCloud.h"

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <ostream>

// Readable failure messages for the Turkish texts.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// One entry of a zip written byte by byte, so that it can say what no zip writer would: any file
// type in its mode, names such as "../x" or "/x", and sizes other than the truth.
struct RawEntry {
    QByteArray name;
    quint32 mode = 0100644; // file type and permission bits, as unzip reads them
    QByteArray data{}; // contents, or a link's target
    bool deflate = false;
    std::optional<quint32> declaredSize{}; // none: the true size
};

QByteArray rawZip(const QList<RawEntry> &entries);
// A complete application folder of `version` whose program is `program`, optionally under another
// top folder name.
QList<RawEntry> bundleEntries(
    const QByteArray &program, const QByteArray &top = "Tarvolin.app", const QByteArray &version = "1.2.0");
// Creates <parent>/Tarvolin.app with the version file (if any) and an executable shell program.
QString makeBundle(
    const QString &parent, const std::optional<QString> &version, const QByteArray &program = {});
QString sha256Hex(const QByteArray &bytes);
QByteArray readFile(const QString &path);
// Writes the file whole, making its folder; throws when it cannot.
void writeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions = {});
// Folders in `folder` whose names start with "Tarvolin-Update-".
QStringList workFolders(const QString &folder);

// Makes a folder impossible to change for as long as it lives: immutable for root, whom permissions
// do not stop, read-only otherwise. `pinned` is false when the file system refuses the flag.
struct PinnedFolder {
    explicit PinnedFolder(const QString &path);
    ~PinnedFolder();
    QString path;
    bool pinned = false;
    bool immutable = false;
};

// A model wired to fakes, the local cloud's web site and a throw-away installed application folder.
struct UpdateFixture {
    UpdateFixture();

    LocalCloud cloud;
    QString site; // the web site's origin
    QTemporaryDir temp; // holds the installed folder and the program's temporary directory
    TestServices services;
    QString installed; // .../installed/Tarvolin.app, version 1.1.2
    QString temporary; // the program's temporary directory
    std::unique_ptr<AppModel> model;

    void put(const QString &path, const QByteArray &bytes);
    QStringList requests(); // paths the web site was asked for, in order
    // Publishes the archive and a manifest naming it; returns the manifest.
    DesktopUpdateManifest publish(
        const QByteArray &archive, const QString &version = QStringLiteral("1.2.0"));
    void putManifest(const DesktopUpdateManifest &manifest);
    // Offers the manifest to a loud check a day after the last one (a failed version waits that long)
    // and returns why nothing was handed over, or nothing when it was.
    std::optional<QString> install(const DesktopUpdateManifest &manifest);
};
