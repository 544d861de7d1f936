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
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

TEST(TemporaryFiles, OnlyTheFilesOfEndedDownloadsAreSwept)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDir folder(dir.path());

    // A download in another process that is killed: its file stays behind, marked by nobody.
    const QByteArray killed = QFile::encodeName(folder.filePath(QStringLiteral(".tarvolin-Kx81Qz.part")));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileSystem::markInUse(::open(killed.constData(), O_CREAT | O_EXCL | O_WRONLY, 0600));
        (void)!::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(IncomingDocument::removeAbandoned(folder.path()), 0) << "in use while that process lives";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);

    // One running here, and names that only look alike, or are not plain files. The umask is one
    // no fixed mode matches; the program reads it once, so it is set before the first document.
    const mode_t umaskBefore = ::umask(027);
    IncomingDocument running(folder.path());
    running.write("%PDF-1.7 still arriving");
    // The first, private as ours are, was left by an earlier crash. The second has the usual
    // permissions: an older version saved a photo the phone had named so, which is not ours to sweep.
    for (const char *name : {".tarvolin-Ab12Cd.part", ".tarvolin-Ph0t0s.part", ".tarvolin-Ab12C.part",
             ".tarvolin-Ab12Cd.part.bak", "tarvolin-Ab12Cd.part", "fatura.pdf"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("%PDF-1.4 half") > 0);
    }
    ASSERT_TRUE(QFile::setPermissions(folder.filePath(QStringLiteral(".tarvolin-Ab12Cd.part")),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    ASSERT_TRUE(folder.mkdir(QStringLiteral(".tarvolin-Dir123.part")));
    ASSERT_TRUE(QFile::link(folder.filePath(QStringLiteral("fatura.pdf")),
        folder.filePath(QStringLiteral(".tarvolin-Link12.part"))));
    QStringList expected = entries(folder.path());

    EXPECT_EQ(IncomingDocument::removeAbandoned(folder.path()), 2);
    expected.removeAll(QStringLiteral(".tarvolin-Kx81Qz.part"));
    expected.removeAll(QStringLiteral(".tarvolin-Ab12Cd.part"));
    EXPECT_EQ(entries(folder.path()), expected);

    // The running download is untouched and still lands under its name, with the permissions the
    // user's umask gives new files.
    running.finish();
    EXPECT_TRUE(running.commitAs(folder.filePath(QStringLiteral("rapor.pdf"))));
    EXPECT_EQ(IncomingDocument::removeAbandoned(folder.path()), 0);
    struct stat info = {};
    ASSERT_EQ(::stat(QFile::encodeName(folder.filePath(QStringLiteral("rapor.pdf"))).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode_t(0640));
    ::umask(umaskBefore);
}

} // namespace
