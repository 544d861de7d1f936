// The hidden temporary files of downloads: a process killed mid-download leaves its file behind, and
// the next pass removes exactly those, never a file a running download holds or anything else.

#include "transfer/FileSystem.h"
#include "transfer/IncomingDocument.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Made with the usual permissions, as a saved document is, unless `private` (as temporary files are).
void put(const QString &path, bool privateFile = false)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4 half");
    if (privateFile) {
        ASSERT_TRUE(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }
}

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(TemporaryFiles, OnlyTheFilesOfEndedDownloadsAreSwept)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDir folder(dir.path());

    // A download in another process that is killed: its file stays behind, marked by nobody.
    const QString killed = folder.filePath(QStringLiteral(".tarvolin-Kx81Qz.part"));
    const QByteArray killedName = QFile::encodeName(killed);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(killedName.constData(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        FileSystem::markInUse(fd);
        (void)!::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    // While that process lives, its file is in use.
    EXPECT_EQ(IncomingDocument::removeAbandoned(folder.path()), 0);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);

    // One running here, and names that only look alike, or are not plain files. The umask is one
    // no fixed mode matches; the program reads it once, so it is set before the first document.
    const mode_t umaskBefore = ::umask(027);
    IncomingDocument running(folder.path());
    running.write("%PDF-1.7 still arriving");
    put(folder.filePath(QStringLiteral(".tarvolin-Ab12Cd.part")), true); // left by an earlier crash
    // An older version saved a photo the phone had named so: readable by all, so not ours to sweep.
    put(folder.filePath(QStringLiteral(".tarvolin-Ph0t0s.part")));
    put(folder.filePath(QStringLiteral(".tarvolin-Ab12C.part")));
    put(folder.filePath(QStringLiteral(".tarvolin-Ab12Cd.part.bak")));
    put(folder.filePath(QStringLiteral("tarvolin-Ab12Cd.part")));
    put(folder.filePath(QStringLiteral("fatura.pdf")));
    ASSERT_TRUE(folder.mkdir(QStringLiteral(".tarvolin-Dir123.part")));
    QTemporaryDir outside;
    put(QDir(outside.path()).filePath(QStringLiteral("kept.pdf")));
    ASSERT_TRUE(QFile::link(QDir(outside.path()).filePath(QStringLiteral("kept.pdf")),
                            folder.filePath(QStringLiteral(".tarvolin-Link12.part"))));
    const QStringList before = entries(folder.path());

    EXPECT_EQ(IncomingDocument::removeAbandoned(folder.path()), 2);
    QStringList expected = before;
    expected.removeAll(QStringLiteral(".tarvolin-Kx81Qz.part"));
    expected.removeAll(QStringLiteral(".tarvolin-Ab12Cd.part"));
    EXPECT_EQ(entries(folder.path()), expected);
    EXPECT_TRUE(QFile::exists(QDir(outside.path()).filePath(QStringLiteral("kept.pdf"))));

    // The running download is untouched and still lands under its name, with the permissions the
    // user's umask gives new files.
    running.finish();
    EXPECT_TRUE(running.commitAs(folder.filePath(QStringLiteral("rapor.pdf"))));
    EXPECT_EQ(IncomingDocument::removeAbandoned(folder.path()), 0);
    EXPECT_EQ(modeOf(folder.filePath(QStringLiteral("rapor.pdf"))), mode_t(0640));
    ::umask(umaskBefore);
}

} // namespace
