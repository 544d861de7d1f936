#include "tests/update/UpdateTestSupport.h"

#include "update/SwapScript.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A throw-away installation: an installed folder, a staged newer one, and programs that say which of
// them was started by writing into a marker file.
struct SwapBench {
    QTemporaryDir temp;
    QString parent;     // the folder holding the installed application
    QString target;
    QString staged;
    QString marker;
    QString script;

    SwapBench()
    {
        // Readable by everyone, for the run under another user below.
        ::chmod(QFile::encodeName(temp.path()).constData(), 0755);
        parent = temp.filePath(QStringLiteral("Applications"));
        QDir().mkpath(parent);
        marker = temp.filePath(QStringLiteral("markers/started"));
        QDir().mkpath(temp.filePath(QStringLiteral("markers")));
        ::chmod(QFile::encodeName(temp.filePath(QStringLiteral("markers"))).constData(), 01777);
        target = makeBundle(parent, QStringLiteral("1.0\n"), program("old"));
        QDir().mkpath(temp.filePath(QStringLiteral("stage")));
        staged = makeBundle(temp.filePath(QStringLiteral("stage")), QStringLiteral("2.0\n"), program("new"));

        script = temp.filePath(QStringLiteral("Tarvolin-Updater-test.sh"));
        QFile file(script);
        if (file.open(QIODevice::WriteOnly))
            file.write(swapScriptText());
        file.close();
        ::chmod(QFile::encodeName(script).constData(), 0755);
    }

    QByteArray program(const char *which) const
    {
        return QByteArray("#!/bin/sh\necho ") + which + " > '" + QFile::encodeName(marker) + "'\n";
    }

    // Runs the script for the given process, optionally through a wrapper (e.g. another user).
    void start(QProcess &process, qint64 pid, const QStringList &wrapper = {}) const
    {
        QStringList command = wrapper;
        command << QStringLiteral("/bin/sh") << script << QString::number(pid) << staged << target;
        process.start(command.takeFirst(), command);
    }
};

TEST(SwapScript, WaitsForTheProgramThenSwapsStartsTheNewOneAndCleansUp)
{
    SwapBench bench;
    // Leftovers of an interrupted earlier swap.
    QDir().mkpath(bench.target + QStringLiteral(".new/junk"));
    QDir().mkpath(bench.target + QStringLiteral(".old/junk"));

    QProcess running;
    running.start(QStringLiteral("/bin/sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(running.waitForStarted());

    QProcess swap;
    bench.start(swap, running.processId());
    ASSERT_TRUE(swap.waitForStarted());
    QThread::msleep(1300);
    EXPECT_EQ(swap.state(), QProcess::Running); // still waiting for the program to end
    EXPECT_EQ(readFile(bench.target + QStringLiteral("/Contents/version")), QByteArrayLiteral("1.0\n"));

    running.kill();
    ASSERT_TRUE(running.waitForFinished()); // reaped, so the probe no longer finds it
    ASSERT_TRUE(swap.waitForFinished(10000));
    EXPECT_EQ(swap.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(swap.exitCode(), 0) << swap.readAllStandardError().toStdString();

    EXPECT_EQ(readFile(bench.target + QStringLiteral("/Contents/version")), QByteArrayLiteral("2.0\n"));
    EXPECT_TRUE(QFileInfo(bench.target + QStringLiteral("/Contents/MacOS/Tarvolin")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(bench.target + QStringLiteral("/junk")));
    EXPECT_FALSE(QFileInfo::exists(bench.target + QStringLiteral(".new")));
    EXPECT_FALSE(QFileInfo::exists(bench.target + QStringLiteral(".old")));
    EXPECT_FALSE(QFileInfo::exists(bench.script));
    EXPECT_TRUE(QFileInfo::exists(bench.staged)); // copied, not moved
    EXPECT_TRUE(waitUntil([&] { return readFile(bench.marker) == "new\n"; }));
}

TEST(SwapScript, TargetThatCannotBeMovedAsideStaysInPlaceAndIsNotRestarted)
{
    SwapBench bench;
    QStringList wrapper;
    if (::geteuid() == 0) {
        // Root ignores permissions. In a sticky folder another user may add entries but not move
        // root's: the copy succeeds and moving the installed folder aside fails.
        ::chmod(QFile::encodeName(bench.parent).constData(), 01777);
        wrapper = {QStringLiteral("/usr/bin/setpriv"), QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                   QStringLiteral("--clear-groups")};
        if (!QFileInfo(wrapper.first()).isExecutable())
            GTEST_SKIP() << "running as root without setpriv";
    } else {
        ::chmod(QFile::encodeName(bench.parent).constData(), 0555);
    }

    QProcess swap;
    bench.start(swap, 999999999, wrapper); // no such process: nothing to wait for
    ASSERT_TRUE(swap.waitForFinished(10000));
    ::chmod(QFile::encodeName(bench.parent).constData(), 0755);

    EXPECT_EQ(swap.exitCode(), 1) << swap.readAllStandardError().toStdString();
    EXPECT_EQ(readFile(bench.target + QStringLiteral("/Contents/version")), QByteArrayLiteral("1.0\n"));
    EXPECT_TRUE(QFileInfo(bench.target + QStringLiteral("/Contents/MacOS/Tarvolin")).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(bench.target + QStringLiteral(".old")));
    if (!wrapper.isEmpty()) { // the copy was made: it was moving the installed folder aside that failed
        EXPECT_TRUE(QFileInfo::exists(bench.target + QStringLiteral(".new/Contents/MacOS/Tarvolin")));
    }
    QThread::msleep(300);
    EXPECT_FALSE(QFileInfo::exists(bench.marker)); // neither version was started
    EXPECT_TRUE(QFileInfo::exists(bench.script));
}

} // namespace
