// Archives shaped to escape the staging folder, to plant special files or privileges, or to fill the
// disk: each is refused with the archive message, or unpacked harmlessly, and nothing beside the
// staging folder is ever touched.

#include "core/CompanionError.h"
#include "tests/update/UpdateTestSupport.h"
#include "update/ArchiveUnpacker.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

const QString unreadable = QStringLiteral("Güncelleme paketi açılamadı.");

const RawEntry topFolder{"Tarvolin.app/", 040755, {}};
const RawEntry program{"Tarvolin.app/Contents/MacOS/Tarvolin", 0100755, "#!/bin/sh\n"};

// A sandbox: the archive and the staging folder side by side with a folder that must stay as it is.
struct Sandbox {
    Sandbox()
    {
        root = QFileInfo(dir.path()).canonicalFilePath();
        staging = root + QStringLiteral("/staging");
        QDir().mkdir(staging);
        writeFile(root + QStringLiteral("/outside/kept"), "kept");
    }
    // The unpacker's failure message, or nothing when it unpacked.
    std::optional<QString> unpack(const QByteArray &zip)
    {
        writeFile(root + QStringLiteral("/update.zip"), zip);
        try {
            unpackUpdateArchive(root + QStringLiteral("/update.zip"), staging);
        } catch (const CompanionError &error) {
            return error.message();
        }
        return std::nullopt;
    }
    void expectNothingOutside() const
    {
        EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList(
                {QStringLiteral("outside"), QStringLiteral("staging"), QStringLiteral("update.zip")}));
        EXPECT_EQ(QDir(root + QStringLiteral("/outside"))
                      .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList({QStringLiteral("kept")}));
        EXPECT_EQ(readFile(root + QStringLiteral("/outside/kept")), QByteArrayLiteral("kept"));
    }
    // Disk used by regular files in staging; fails on anything special, privileged or leading out.
    qint64 stagedBytes() const
    {
        qint64 total = 0;
        QDirIterator it(staging, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            struct stat info {
            };
            EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
            EXPECT_TRUE(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode) || S_ISLNK(info.st_mode))
                << path.toStdString();
            EXPECT_EQ(info.st_mode & (S_ISUID | S_ISGID), 0u) << path.toStdString();
            if (S_ISLNK(info.st_mode)) {
                const QString target = QFileInfo(path).canonicalFilePath();
                EXPECT_TRUE(target.isEmpty() || target == staging || target.startsWith(staging + u'/'))
                    << path.toStdString() << " -> " << target.toStdString();
            }
            // Disk actually used: a refused entry is left sparse at its declared length.
            if (S_ISREG(info.st_mode))
                total += qint64(info.st_blocks) * 512;
        }
        return total;
    }

    QTemporaryDir dir;
    QString root;
    QString staging;
};

TEST(HostileArchive, EveryShapeIsRefusedOrUnpackedHarmlessly)
{
    const QByteArray zeros(100 << 20, '\0');
    const QByteArray forty(40 << 20, '\0');
    struct Row {
        const char *name;
        QList<RawEntry> entries;
        bool refused;
    };
    const QList<Row> rows = {
        {"plain bundle", {topFolder, program}, false},
        {"absolute name", {program, {"/tmp/tarvolin-hostile-escaped", 0100644, "x"}}, true},
        {"dot-dot name", {program, {"Tarvolin.app/../../outside/x", 0100644, "x"}}, true},
        {"backslash dot-dot", {program, {"..\\outside\\x", 0100644, "x"}}, true},
        {"symlink out", {program, {"Tarvolin.app/out", 0120777, "../../outside"}}, true},
        {"absolute symlink", {program, {"Tarvolin.app/etc", 0120777, "/etc"}}, true},
        {"symlink named with a trailing dot", {program, {"Tarvolin.app/.", 0120777, "../outside"}}, true},
        {"top folder is a link",
            {{"x/Contents/MacOS/Tarvolin", 0100755, "#!/bin/sh\n"}, {"Tarvolin.app", 0120777, "x"}}, true},
        {"symlink to a neighbour of the top folder",
            {program, {"Tarvolin.app/Contents/n", 0120777, "../../x"}}, true},
        {"symlink climbing through another",
            {program, {"Tarvolin.app/up", 0120777, ".."}, {"Tarvolin.app/up2", 0120777, "up/.."}}, true},
        {"write through a symlink",
            {program, {"Tarvolin.app/in", 0120777, "Contents"}, {"Tarvolin.app/in/through", 0100644, "x"}},
            true},
        {"fifo (read as a plain file)", {program, {"Tarvolin.app/pipe", 0010644, {}}}, false},
        {"character device", {program, {"Tarvolin.app/tty", 0020666, {}}}, true},
        {"block device", {program, {"Tarvolin.app/disk", 0060666, {}}}, true},
        {"socket", {program, {"Tarvolin.app/sock", 0140666, {}}}, true},
        {"set-uid and set-gid program", {{program.name, 0106755, program.data}}, false},
        {"entry far larger than declared", {program, {"Tarvolin.app/big", 0100644, zeros, true, 1000}}, true},
        {"damaged entry", {program, {"Tarvolin.app/bad", 0100644, "0123456789", false, 5}}, true},
        {"zip bomb", {program, {"Tarvolin.app/bomb", 0100644, zeros, true}}, true},
        {"bomb in moderate pieces",
            {program, {"Tarvolin.app/b1", 0100644, forty, true}, {"Tarvolin.app/b2", 0100644, forty, true}},
            true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Sandbox box;
        const std::optional<QString> failure = box.unpack(rawZip(row.entries));
        EXPECT_EQ(failure, row.refused ? std::optional<QString>(unreadable) : std::nullopt);
        box.expectNothingOutside();
        EXPECT_LE(box.stagedBytes(), qint64(64) << 20);
        EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/tarvolin-hostile-escaped")));
        if (!row.refused) {
            EXPECT_TRUE(QFileInfo(box.staging + QStringLiteral("/Tarvolin.app/Contents/MacOS/Tarvolin"))
                            .isExecutable());
        }
    }
}

TEST(HostileArchive, AnEntryLargerThanTheRoomLeftIsRefused)
{
    Sandbox box;
    // The file-size limit stands in for a full disk: writes past it fail as they would with no room.
    struct rlimit saved {
    };
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::optional<QString> failure
        = box.unpack(rawZip({program, {"Tarvolin.app/huge", 0100644, QByteArray(8 << 20, 'x'), true}}));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(failure, unreadable);
    box.expectNothingOutside();
}

TEST(HostileArchive, WithoutAUsableArchiveLibraryNothingIsUnpacked)
{
    // A missing file, and a library that lacks the functions.
    for (const QString &library :
        {QStringLiteral("/nonexistent/libarchive.so.13"), QStringLiteral("libc.so.6")}) {
        SCOPED_TRACE(library.toStdString());
        Sandbox box;
        writeFile(box.root + QStringLiteral("/update.zip"), rawZip({topFolder, program}));
        try {
            unpackUpdateArchive(box.root + QStringLiteral("/update.zip"), box.staging, library);
            ADD_FAILURE() << "unpacked without the library";
        } catch (const CompanionError &error) {
            EXPECT_EQ(error.message(), unreadable);
        }
        EXPECT_TRUE(QDir(box.staging).isEmpty());
        box.expectNothingOutside();
    }
}

} // namespace
