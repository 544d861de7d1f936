#include "tests/update/UpdateTestSupport.h"

#include <QCoro/QCoroTask>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <array>
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
        && ::ioctl(
               fd, FS_IOC_SETFLAGS, (flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL, &flags))
            == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

quint32 crc32Of(const QByteArray &data)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data)
        crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace

PinnedFolder::PinnedFolder(const QString &path)
    : path(path)
{
    immutable = ::geteuid() == 0;
    pinned = immutable ? setImmutable(path, true) : ::chmod(QFile::encodeName(path).constData(), 0555) == 0;
}

PinnedFolder::~PinnedFolder()
{
    if (pinned)
        immutable ? (void)setImmutable(path, false)
                  : (void)::chmod(QFile::encodeName(path).constData(), 0755);
}

QByteArray rawZip(const QList<RawEntry> &entries)
{
    QByteArray out;
    QByteArray central;
    auto put16 = [](QByteArray &to, quint16 v) { to.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto put32 = [&](QByteArray &to, quint32 v) {
        put16(to, quint16(v & 0xFFFF));
        put16(to, quint16(v >> 16));
    };
    for (const RawEntry &e : entries) {
        const QByteArray stored = e.deflate ? qCompress(e.data, 9).mid(6).chopped(4) : e.data;
        const quint32 crc = crc32Of(e.data);
        const quint32 size = e.declaredSize.value_or(quint32(e.data.size()));
        const quint32 packed = e.deflate ? quint32(stored.size()) : size;
        auto common = [&](QByteArray &to) {
            put16(to, 20); // version needed
            put16(to, 0x0800); // UTF-8 names
            put16(to, e.deflate ? 8 : 0); // method
            put16(to, 0); // time
            put16(to, 0x21); // date: 1980-01-01
            put32(to, crc);
            put32(to, packed);
            put32(to, size);
            put16(to, quint16(e.name.size()));
            put16(to, 0); // extra
        };
        const quint32 offset = quint32(out.size());
        put32(out, 0x04034b50);
        common(out);
        out.append(e.name).append(stored);

        put32(central, 0x02014b50);
        put16(central, 3 << 8 | 20); // made on Unix: the mode is in the external attributes
        common(central);
        put16(central, 0); // comment
        put16(central, 0); // disk
        put16(central, 0); // internal attributes
        put32(central, e.mode << 16);
        put32(central, offset);
        central.append(e.name);
    }
    const quint32 centralOffset = quint32(out.size());
    out.append(central);
    put32(out, 0x06054b50);
    put32(out, 0); // disk numbers
    put16(out, quint16(entries.size()));
    put16(out, quint16(entries.size()));
    put32(out, quint32(central.size()));
    put32(out, centralOffset);
    put16(out, 0);
    return out;
}

QList<RawEntry> bundleEntries(const QByteArray &program, const QByteArray &top, const QByteArray &version)
{
    return {
        {top + "/", 040755},
        {top + "/Contents/", 040755},
        {top + "/Contents/MacOS/", 040755},
        {top + "/Contents/MacOS/Tarvolin", 0100755, program},
        {top + "/Contents/version", 0100644, version + '\n'},
    };
}

QString makeBundle(const QString &parent, const std::optional<QString> &version, const QByteArray &program)
{
    const QString bundle = parent + QStringLiteral("/Tarvolin.app");
    writeFile(bundle + QStringLiteral("/Contents/MacOS/Tarvolin"),
        program.isEmpty() ? QByteArrayLiteral("#!/bin/sh\nexit 0\n") : program,
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
            | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
    if (version)
        writeFile(bundle + QStringLiteral("/Contents/version"), version->toUtf8());
    return bundle;
}

void writeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()
        || (permissions && !file.setPermissions(permissions)))
        throw std::runtime_error("cannot write " + path.toStdString());
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
    : site(QString::fromStdString(cloud.siteUrl()))
    , services(QSslCertificate::fromPath(QString::fromStdString(cloud.caCertPath())))
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
