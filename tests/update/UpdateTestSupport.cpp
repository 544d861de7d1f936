#include "tests/update/UpdateTestSupport.h"


#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QCoro/QCoroTask>

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    const bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0
        && ::ioctl(fd, FS_IOC_SETFLAGS, (flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL, &flags)) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

} // namespace

PinnedFolder::PinnedFolder(const QString &path) : path(path)
{
    immutable = ::geteuid() == 0;
    pinned = immutable ? setImmutable(path, true) : ::chmod(QFile::encodeName(path).constData(), 0555) == 0;
}

PinnedFolder::~PinnedFolder()
{
    if (pinned)
        immutable ? (void)setImmutable(path, false) : (void)::chmod(QFile::encodeName(path).constData(), 0755);
}

QByteArray makeZip(const QList<ZipEntry> &entries)
{
    QByteArray out(1 << 20, '\0');
    size_t used = 0;
    archive *writer = archive_write_new();
    archive_write_set_format_zip(writer);
    if (archive_write_open_memory(writer, out.data(), size_t(out.size()), &used) != ARCHIVE_OK)
        throw std::runtime_error(archive_error_string(writer));
    for (const ZipEntry &item : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_copy_pathname(entry, item.name.toUtf8().constData());
        switch (item.kind) {
        case ZipEntry::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, item.data.size());
            break;
        case ZipEntry::Folder:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case ZipEntry::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_copy_symlink(entry, item.data.constData());
            break;
        }
        archive_entry_set_perm(entry, item.kind == ZipEntry::Folder ? 0755 : item.mode);
        if (archive_write_header(writer, entry) != ARCHIVE_OK)
            throw std::runtime_error(archive_error_string(writer));
        if (item.kind == ZipEntry::File)
            archive_write_data(writer, item.data.constData(), size_t(item.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    out.resize(qsizetype(used));
    return out;
}

QList<ZipEntry> bundleEntries(const QByteArray &program, const QString &top, const QByteArray &version)
{
    return {
        {top + QStringLiteral("/"), ZipEntry::Folder, {}, 0755},
        {top + QStringLiteral("/Contents/"), ZipEntry::Folder, {}, 0755},
        {top + QStringLiteral("/Contents/MacOS/"), ZipEntry::Folder, {}, 0755},
        {top + QStringLiteral("/Contents/MacOS/Tarvolin"), ZipEntry::File, program, 0755},
        {top + QStringLiteral("/Contents/version"), ZipEntry::File, version + '\n', 0644},
    };
}

QString makeBundle(const QString &parent, const std::optional<QString> &version, const QByteArray &program)
{
    const QString bundle = parent + QStringLiteral("/Tarvolin.app");
    QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
    QFile executable(bundle + QStringLiteral("/Contents/MacOS/Tarvolin"));
    if (!executable.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the test program");
    executable.write(program.isEmpty() ? QByteArrayLiteral("#!/bin/sh\nexit 0\n") : program);
    executable.close();
    executable.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                              | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                              | QFileDevice::ExeOther);
    if (version) {
        QFile file(bundle + QStringLiteral("/Contents/version"));
        if (!file.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the test version");
        file.write(version->toUtf8());
    }
    return bundle;
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList workFolders(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("Tarvolin-Update-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
}

UpdateFixture::UpdateFixture()
    : site(QString::fromStdString(cloud.siteUrl())),
      services(QSslCertificate::fromPath(QString::fromStdString(cloud.caCertPath())))
{
    QDir().mkpath(temp.filePath(QStringLiteral("installed")));
    installed = makeBundle(temp.filePath(QStringLiteral("installed")), QStringLiteral("1.1.2\n"));
    temporary = temp.filePath(QStringLiteral("tmp"));
    QDir().mkpath(temporary);
    services.application.bundle = installed;
    services.application.program = installed + QStringLiteral("/Contents/MacOS");
    services.application.tempDir = temporary;
    model = std::make_unique<AppModel>(services.services(), testBuildValues({}, {}, site));
}

void UpdateFixture::put(const QString &path, const QByteArray &bytes)
{
    cloud.putSiteFile(path.toStdString(), bytes.toStdString());
}

QStringList UpdateFixture::requests()
{
    QStringList paths;
    for (const auto &request : cloud.requestLog())
        paths.append(QString::fromStdString(request.path));
    return paths;
}

DesktopUpdateManifest UpdateFixture::publish(const QByteArray &archive, const QString &version)
{
    const QString path = QStringLiteral("/downloads/Tarvolin-%1.zip").arg(version);
    put(path, archive);
    DesktopUpdateManifest manifest{version, site + path, sha256Hex(archive)};
    putManifest(manifest);
    return manifest;
}

void UpdateFixture::putManifest(const DesktopUpdateManifest &manifest)
{
    put(QStringLiteral("/updates/macos.json"),
        QStringLiteral(R"({"version":"%1","macUniversalUrl":"%2","macUniversalSha256":"%3"})")
            .arg(manifest.version, manifest.macUniversalUrl, manifest.macUniversalSha256)
            .toUtf8());
}

std::optional<QString> UpdateFixture::install(const DesktopUpdateManifest &manifest)
{
    putManifest(manifest);
    services.clock.current = services.clock.current.addDays(1);
    model = std::make_unique<AppModel>(services.services(), testBuildValues({}, {}, site));
    QCoro::waitFor(model->checkForUpdates(false));
    if (const std::optional<QString> error = model->lastError())
        return error->mid(QStringLiteral("Güncelleme denetlenemedi: ").size());
    if (model->updateStatus() == QStringLiteral("Güncelleme kuruluyor…"))
        return std::nullopt;
    return model->updateStatus();
}
