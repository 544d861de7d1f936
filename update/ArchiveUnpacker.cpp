#include "update/ArchiveUnpacker.h"

#include "core/CompanionError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// For the types and constants only: the functions are looked up at run time.
#include <archive.h>
#include <archive_entry.h>

#include <dlfcn.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

const QString openFailedText = QStringLiteral("Güncelleme paketi açılamadı.");

[[noreturn]] void refuse()
{
    throw CompanionError::server(openFailedText);
}

// Every libarchive function the unpacker calls. Each pointer's type is the header's own declaration,
// so a call cannot disagree with the library about its signature.
#define TARVOLIN_ARCHIVE_FUNCTIONS(F)                                                                        \
    F(archive_read_new)                                                                                      \
    F(archive_read_free)                                                                                     \
    F(archive_read_support_format_zip)                                                                       \
    F(archive_read_open_filename)                                                                            \
    F(archive_read_next_header)                                                                              \
    F(archive_read_data_block)                                                                               \
    F(archive_write_disk_new)                                                                                \
    F(archive_write_disk_set_options)                                                                        \
    F(archive_write_header)                                                                                  \
    F(archive_write_data_block)                                                                              \
    F(archive_write_finish_entry)                                                                            \
    F(archive_write_close)                                                                                   \
    F(archive_write_free)                                                                                    \
    F(archive_entry_pathname)                                                                                \
    F(archive_entry_pathname_utf8)                                                                           \
    F(archive_entry_copy_pathname)                                                                           \
    F(archive_entry_hardlink)                                                                                \
    F(archive_entry_hardlink_utf8)                                                                           \
    F(archive_entry_copy_hardlink)                                                                           \
    F(archive_entry_symlink)                                                                                 \
    F(archive_entry_symlink_utf8)                                                                            \
    F(archive_entry_filetype)                                                                                \
    F(archive_entry_size)                                                                                    \
    F(archive_entry_size_is_set)

// libarchive and what it pulls in (an XML parser, a crypto library, compressors) would stay resident
// through the hours the program idles in the tray, for an unpack that runs only when an update
// arrives. So it is loaded for each unpack and let go after it: a refused update leaves the program
// running, and it should not idle on with the library.
class ArchiveLibrary
{
public:
    explicit ArchiveLibrary(const QString &file)
        : m_handle(::dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL))
    {
        if (!m_handle)
            unusable(::dlerror());
#define TARVOLIN_RESOLVE(name) resolve(name, #name);
        TARVOLIN_ARCHIVE_FUNCTIONS(TARVOLIN_RESOLVE)
#undef TARVOLIN_RESOLVE
    }
    ~ArchiveLibrary()
    {
        ::dlclose(m_handle);
    }
    ArchiveLibrary(const ArchiveLibrary &) = delete;
    ArchiveLibrary &operator=(const ArchiveLibrary &) = delete;

    // The argument names the member being declared; parentheses would make it an expression.
    // NOLINTNEXTLINE(bugprone-macro-parentheses)
#define TARVOLIN_POINTER(name) decltype(&::name) name = nullptr;
    TARVOLIN_ARCHIVE_FUNCTIONS(TARVOLIN_POINTER)
#undef TARVOLIN_POINTER

private:
    template <typename Function> void resolve(Function &pointer, const char *name)
    {
        pointer = reinterpret_cast<Function>(::dlsym(m_handle, name));
        if (!pointer)
            unusable(::dlerror());
    }
    // Without the library no update can be unpacked; the user sees the usual message, the log why.
    [[noreturn]] void unusable(const char *reason)
    {
        qWarning("The update cannot be unpacked: %s", reason ? reason : "libarchive is unusable");
        if (m_handle)
            ::dlclose(m_handle);
        refuse();
    }

    void *m_handle;
};
#undef TARVOLIN_ARCHIVE_FUNCTIONS

using ArchiveHandle = std::unique_ptr<archive, int (*)(archive *)>;

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
void copyData(const ArchiveLibrary &lib, archive *reader, archive *writer, std::optional<qint64> declared,
    qint64 &budget)
{
    const void *block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        const int status = lib.archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return;
        if (status != ARCHIVE_OK)
            refuse();
        const qint64 end = qint64(offset) + qint64(size);
        if ((declared && end > *declared) || qint64(size) > budget)
            refuse();
        budget -= qint64(size);
        if (lib.archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN)
            refuse();
    }
}

} // namespace

void unpackUpdateArchive(
    const QString &archivePath, const QString &destination, const QString &archiveLibrary)
{
    // libarchive resolves names against the working directory; every entry therefore gets an absolute
    // name under the destination's real path (no link in it, or the symlink guard would refuse it).
    const QString root = QFileInfo(destination).canonicalFilePath();
    if (root.isEmpty())
        refuse();

    const ArchiveLibrary lib(archiveLibrary);
    ArchiveHandle reader(lib.archive_read_new(), lib.archive_read_free);
    ArchiveHandle writer(lib.archive_write_disk_new(), lib.archive_write_free);
    if (!reader || !writer)
        refuse();
    lib.archive_read_support_format_zip(reader.get());
    // Our own checks above replace the absolute-path guard, which would refuse the rebased names.
    lib.archive_write_disk_set_options(writer.get(),
        ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    if (lib.archive_read_open_filename(
            reader.get(), QFile::encodeName(archivePath).constData(), size_t(64) * 1024)
        != ARCHIVE_OK)
        refuse();
    qint64 budget = std::max(minimumBudget, QFileInfo(archivePath).size() * maxExpansion);

    for (;;) {
        archive_entry *entry = nullptr;
        const int status = lib.archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            refuse();

        const std::optional<QString> contained = containedName(
            entryText(lib.archive_entry_pathname_utf8(entry), lib.archive_entry_pathname(entry)));
        if (!contained)
            refuse();
        const QString &name = *contained;

        const QString hardlink
            = entryText(lib.archive_entry_hardlink_utf8(entry), lib.archive_entry_hardlink(entry));
        if (!hardlink.isEmpty()) {
            const std::optional<QString> linked = containedName(hardlink);
            if (!linked)
                refuse();
            lib.archive_entry_copy_hardlink(
                entry, QFile::encodeName(root + QLatin1Char('/') + *linked).constData());
        } else {
            switch (lib.archive_entry_filetype(entry)) {
            case AE_IFREG:
            case AE_IFDIR:
                break;
            case AE_IFLNK:
                if (!isContainedLinkTarget(name,
                        entryText(lib.archive_entry_symlink_utf8(entry), lib.archive_entry_symlink(entry))))
                    refuse();
                break;
            default:
                refuse(); // devices, pipes and sockets have no place in an application folder
            }
        }

        lib.archive_entry_copy_pathname(entry, QFile::encodeName(root + QLatin1Char('/') + name).constData());
        // A warning (say, a time that could not be set) is no reason to refuse the update.
        if (lib.archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
            refuse();
        const std::optional<qint64> declared = lib.archive_entry_size_is_set(entry)
            ? std::optional<qint64>(lib.archive_entry_size(entry))
            : std::nullopt;
        if (declared && *declared > budget)
            refuse();
        if (!declared || *declared > 0)
            copyData(lib, reader.get(), writer.get(), declared, budget);
        if (lib.archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
            refuse();
    }
    // Folder times are applied when the writer closes.
    if (lib.archive_write_close(writer.get()) < ARCHIVE_WARN)
        refuse();
}
