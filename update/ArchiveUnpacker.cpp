#include "update/ArchiveUnpacker.h"

#include "core/CompanionError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

const QString openFailedText = QStringLiteral("Güncelleme paketi açılamadı.");

[[noreturn]] void refuse()
{
    throw CompanionError::server(openFailedText);
}

struct ReaderDeleter {
    void operator()(archive *a) const { archive_read_free(a); }
};
struct WriterDeleter {
    void operator()(archive *a) const { archive_write_free(a); }
};

QString entryText(const char *utf8, const char *native)
{
    if (utf8)
        return QString::fromUtf8(utf8);
    if (native)
        return QFile::decodeName(native);
    return {};
}

// A name inside the archive that stays inside the destination, written plainly: relative, without
// "..", "." or empty components, not empty itself. Nothing for any other name. Checks and the write
// must see the same name: "app/." is created as "app", so a link of that name lives beside "app/".
std::optional<QString> containedName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return std::nullopt;
    QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    if (parts.isEmpty() || parts.contains(QStringLiteral("..")))
        return std::nullopt;
    return parts.join(QLatin1Char('/'));
}

// A link target, read from the link's own folder, that stays inside the link's top folder: that
// folder alone is copied into place, where a link to its neighbours would point at whatever lies
// beside the installation. A link is never a top entry itself ("Tarvolin.app -> x" would install a
// link). ".." may only lead the target: after a name it would climb from wherever that name (itself
// perhaps a link) leads, which the text alone does not show ("up/.." with "up" a link to "..").
bool isContainedLinkTarget(const QString &linkName, const QString &target)
{
    const QString top = linkName.section(QLatin1Char('/'), 0, 0);
    if (top == linkName)
        return false;
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    bool pastLeadingUps = false;
    for (const QString &part : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part != QLatin1String(".."))
            pastLeadingUps = true;
        else if (pastLeadingUps)
            return false;
    }
    const QString resolved = QDir::cleanPath(QFileInfo(linkName).path() + QLatin1Char('/') + target);
    return resolved == top || resolved.startsWith(top + QLatin1Char('/'));
}

// An archive unpacks to at most this many times its own size (beyond a floor for small ones): real
// application folders compress a few times over, a zip bomb thousands of times.
constexpr qint64 maxExpansion = 20;
constexpr qint64 minimumBudget = qint64(64) << 20;

// Copies one entry's bytes, never more than it declared nor more than the archive's budget. A damaged
// entry (a bad checksum is only a warning to libarchive) is refused like any other.
void copyData(archive *reader, archive *writer, std::optional<qint64> declared, qint64 &budget)
{
    const void *block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return;
        if (status != ARCHIVE_OK)
            refuse();
        const qint64 end = qint64(offset) + qint64(size);
        if ((declared && end > *declared) || qint64(size) > budget)
            refuse();
        budget -= qint64(size);
        if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN)
            refuse();
    }
}

} // namespace

void unpackUpdateArchive(const QString &archivePath, const QString &destination)
{
    // libarchive resolves names against the working directory; every entry therefore gets an absolute
    // name under the destination's real path (no link in it, or the symlink guard would refuse it).
    const QString root = QFileInfo(destination).canonicalFilePath();
    if (root.isEmpty())
        refuse();

    std::unique_ptr<archive, ReaderDeleter> reader(archive_read_new());
    std::unique_ptr<archive, WriterDeleter> writer(archive_write_disk_new());
    if (!reader || !writer)
        refuse();
    archive_read_support_format_zip(reader.get());
    // Our own checks above replace the absolute-path guard, which would refuse the rebased names.
    archive_write_disk_set_options(writer.get(),
        ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    if (archive_read_open_filename(
            reader.get(), QFile::encodeName(archivePath).constData(), size_t(64) * 1024)
        != ARCHIVE_OK)
        refuse();
    qint64 budget = std::max(minimumBudget, QFileInfo(archivePath).size() * maxExpansion);

    for (;;) {
        archive_entry *entry = nullptr;
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            refuse();

        const std::optional<QString> contained
            = containedName(entryText(archive_entry_pathname_utf8(entry), archive_entry_pathname(entry)));
        if (!contained)
            refuse();
        const QString &name = *contained;

        const QString hardlink = entryText(archive_entry_hardlink_utf8(entry), archive_entry_hardlink(entry));
        if (!hardlink.isEmpty()) {
            const std::optional<QString> linked = containedName(hardlink);
            if (!linked)
                refuse();
            archive_entry_copy_hardlink(
                entry, QFile::encodeName(root + QLatin1Char('/') + *linked).constData());
        } else {
            switch (archive_entry_filetype(entry)) {
            case AE_IFREG:
            case AE_IFDIR:
                break;
            case AE_IFLNK:
                if (!isContainedLinkTarget(
                        name, entryText(archive_entry_symlink_utf8(entry), archive_entry_symlink(entry))))
                    refuse();
                break;
            default:
                refuse(); // devices, pipes and sockets have no place in an application folder
            }
        }

        archive_entry_copy_pathname(entry, QFile::encodeName(root + QLatin1Char('/') + name).constData());
        // A warning (say, a time that could not be set) is no reason to refuse the update.
        if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
            refuse();
        const std::optional<qint64> declared = archive_entry_size_is_set(entry)
            ? std::optional<qint64>(archive_entry_size(entry))
            : std::nullopt;
        if (declared && *declared > budget)
            refuse();
        if (!declared || *declared > 0)
            copyData(reader.get(), writer.get(), declared, budget);
        if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
            refuse();
    }
    // Folder times are applied when the writer closes.
    if (archive_write_close(writer.get()) < ARCHIVE_WARN)
        refuse();
}
