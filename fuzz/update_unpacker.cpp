#include "core/CompanionError.h"
#include "fuzz/FuzzCheck.h"
#include "update/ArchiveUnpacker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <sys/stat.h>

namespace {

// Reads the fuzzer's bytes one at a time, zeros once they run out.
struct Bytes {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    uint8_t next() { return at < size ? data[at++] : 0; }
    bool done() const { return at >= size; }
};

// Pieces of names and link targets that matter to an unpacker.
const char *const pieces[] = {"a", "b", "..", ".", "/", "//", "Tarvolin.app", "Contents", "x\\y", "\xc3\xa7",
    "", "outside", "../outside", "/tmp", "a/../..", "\xff"};

std::string pieceString(Bytes &in)
{
    std::string text;
    const int count = 1 + in.next() % 4;
    for (int i = 0; i < count; ++i) {
        text += pieces[in.next() % std::size(pieces)];
        if (i + 1 < count)
            text += '/';
    }
    return text;
}

// A zip of up to eight entries of every kind libarchive can write, shaped by the input.
QByteArray generatedZip(Bytes &in)
{
    QByteArray out(1 << 20, '\0');
    size_t used = 0;
    archive *writer = archive_write_new();
    archive_write_set_format_zip(writer);
    if (in.next() & 1)
        archive_write_zip_set_compression_store(writer);
    archive_write_open_memory(writer, out.data(), size_t(out.size()), &used);
    const int entries = 1 + in.next() % 8;
    for (int i = 0; i < entries && !in.done(); ++i) {
        archive_entry *entry = archive_entry_new();
        archive_entry_copy_pathname(entry, pieceString(in).c_str());
        static const unsigned kinds[] = {AE_IFREG, AE_IFDIR, AE_IFLNK, AE_IFIFO, AE_IFCHR, AE_IFREG};
        const unsigned kind = kinds[in.next() % std::size(kinds)];
        archive_entry_set_filetype(entry, kind);
        archive_entry_set_perm(entry, (in.next() << 8 | in.next()) & 07777);
        QByteArray body;
        if (kind == AE_IFLNK)
            archive_entry_copy_symlink(entry, pieceString(in).c_str());
        if (kind == AE_IFREG && (in.next() & 3) == 0)
            archive_entry_copy_hardlink(entry, pieceString(in).c_str());
        else if (kind == AE_IFREG)
            body = QByteArray(in.next() * 16, char(in.next()));
        archive_entry_set_size(entry, body.size());
        if (archive_write_header(writer, entry) == ARCHIVE_OK && !body.isEmpty())
            archive_write_data(writer, body.constData(), size_t(body.size()));
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    out.resize(qsizetype(used));
    return out;
}

} // namespace

// Either a generated archive or, when the first byte says so, the raw bytes as one. Whatever is
// refused or unpacked, nothing may appear beside the staging folder, and nothing in it may be a
// set-uid file, a special file, or a link that leads out of it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    Bytes in{data + 1, size - 1};
    const QByteArray zip = data[0] == 'R'
        ? QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1))
        : generatedZip(in);

    QTemporaryDir sandbox;
    FUZZ_CHECK(sandbox.isValid());
    const QString root = QFileInfo(sandbox.path()).canonicalFilePath();
    const QString staging = root + QStringLiteral("/staging");
    const QString archivePath = root + QStringLiteral("/update.zip");
    FUZZ_CHECK(QDir().mkdir(staging));
    QFile file(archivePath);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(zip) == zip.size());
    file.close();

    try {
        unpackUpdateArchive(archivePath, staging);
    } catch (const CompanionError &) {
    }

    FUZZ_CHECK(QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        == QStringList({QStringLiteral("staging"), QStringLiteral("update.zip")}));
    QDirIterator it(staging, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info {
        };
        FUZZ_CHECK(::lstat(QFile::encodeName(path).constData(), &info) == 0);
        FUZZ_CHECK(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode));
        FUZZ_CHECK((info.st_mode & (S_ISUID | S_ISGID)) == 0);
        if (S_ISLNK(info.st_mode)) {
            const QString target = QDir::cleanPath(QFileInfo(path).symLinkTarget());
            FUZZ_CHECK(target == staging || target.startsWith(staging + u'/'));
        }
    }
    return 0;
}
