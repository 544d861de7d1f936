#include "tests/update/UpdateTestSupport.h"

#include "update/SwapScript.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

// What a process looks like from outside: gone, or a zombie nobody has reaped.
bool isGone(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.open(QIODevice::ReadOnly) || stat.readAll().split(')').last().trimmed().startsWith('Z');
}

// A throw-away installation: an installed folder, a newer one staged in a working folder, and
// programs that log which of them was started.
struct SwapBench {
    enum class NewProgram { confirms, crashes, hangs };

    QTemporaryDir temp;
    QString target;
    QString work;
    QString staged;
    QString log;
    QString script;

    explicit SwapBench(NewProgram kind)
    {
        const QString parent = temp.filePath(QStringLiteral("Applications"));
        QDir().mkpath(parent);
        log = temp.filePath(QStringLiteral("started"));
        target = makeBundle(parent, QStringLiteral("1.0\n"), program("old"));
        work = temp.filePath(QStringLiteral("Tarvolin-Update-TEST"));
        QDir().mkpath(work + QStringLiteral("/stage"));
        QByteArray next = program("new");
        if (kind == NewProgram::confirms)
            next += ": > '" + QFile::encodeName(target) + ".old/" + swapStartedMarker().toUtf8() + "'\n";
        else if (kind == NewProgram::crashes)
            next += "exit 3\n";
        else
            next += "exec /bin/sleep 60\n";
        staged = makeBundle(work + QStringLiteral("/stage"), QStringLiteral("2.0\n"), next);

        script = temp.filePath(QStringLiteral("Tarvolin-Updater-test.sh"));
        writeFile(script, swapScriptText());
    }

    QByteArray program(const char *which) const
    {
        return QByteArray("#!/bin/sh\necho ") + which + " >> '" + QFile::encodeName(log) + "'\n";
    }

    void start(QProcess &process, qint64 pid, int seconds) const
    {
        process.start(QStringLiteral("/bin/sh"),
            {script, QString::number(pid), staged, target, QString::number(seconds)});
    }
};

// The installed program as the real one behaves: it holds the lock on its folder until it ends.
qint64 startHolder(QProcess &holder, const QString &target)
{
    holder.start(QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("exec 9<\"$0\"; /usr/bin/flock 9; echo; exec /bin/sleep 60"),
            target});
    holder.waitForReadyRead(5000); // locked
    return holder.processId();
}

// The same program ended but not yet reaped by its parent: `kill -0` still answers for it.
qint64 startZombie(QProcess &parent, const QString &target)
{
    parent.start(QStringLiteral("/usr/bin/perl"),
        {QStringLiteral("-e"),
            QStringLiteral("$|=1; my $p = fork; if (!$p) { open my $f, '<', $ARGV[0]; "
                           "flock $f, 2; exit 0 } print qq($p\\n); sleep 60"),
            target});
    if (!parent.waitForReadyRead(5000))
        return 0;
    const qint64 pid = parent.readAll().trimmed().toLongLong();
    return waitUntil([&] { return isGone(pid) && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); })
        ? pid
        : 0;
}

TEST(SwapScript, EveryOutcomeLeavesAWorkingProgramRunningAndNothingBehind)
{
    enum class Old { running, zombie, gone };
    struct Row {
        const char *name;
        SwapBench::NewProgram program;
        Old old;
        bool pinParent;
        int seconds;
        int exitCode;
        QByteArray version; // installed afterwards
        QByteArray started; // the programs started, in order
    };
    using N = SwapBench::NewProgram;
    const QList<Row> rows = {
        {"swapped once the program has ended", N::confirms, Old::running, false, 60, 0, "2.0\n", "new\n"},
        {"a zombie does not hold the swap", N::confirms, Old::zombie, false, 60, 0, "2.0\n", "new\n"},
        {"folder that cannot change", N::confirms, Old::gone, true, 60, 1, "1.0\n", "old\n"},
        {"new program ends without confirming", N::crashes, Old::gone, false, 60, 1, "1.0\n", "new\nold\n"},
        {"new program never confirms", N::hangs, Old::gone, false, 1, 1, "1.0\n", "new\nold\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SwapBench bench(row.program);
        // Leftovers of an interrupted earlier swap.
        QDir().mkpath(bench.target + QStringLiteral(".new/junk"));
        QDir().mkpath(bench.target + QStringLiteral(".old/junk"));
        std::optional<PinnedFolder> pin;
        if (row.pinParent) {
            QDir(bench.target + QStringLiteral(".new")).removeRecursively();
            QDir(bench.target + QStringLiteral(".old")).removeRecursively();
            pin.emplace(QFileInfo(bench.target).path());
            if (!pin->pinned)
                GTEST_SKIP() << "the file system cannot pin a folder";
        }

        QProcess old;
        qint64 pid = 999999999;
        if (row.old == Old::running)
            pid = startHolder(old, bench.target);
        else if (row.old == Old::zombie)
            pid = startZombie(old, bench.target);
        ASSERT_NE(pid, 0);

        QProcess swap;
        bench.start(swap, pid, row.seconds);
        ASSERT_TRUE(swap.waitForStarted());
        if (row.old == Old::running) {
            QThread::msleep(1300);
            EXPECT_EQ(swap.state(), QProcess::Running); // still waiting for the program to end
            EXPECT_EQ(
                readFile(bench.target + QStringLiteral("/Contents/version")), QByteArrayLiteral("1.0\n"));
            old.kill();
        }
        ASSERT_TRUE(swap.waitForFinished(20000));
        pin.reset();
        old.kill();
        old.waitForFinished();

        EXPECT_EQ(swap.exitCode(), row.exitCode) << swap.readAllStandardError().toStdString();
        EXPECT_EQ(readFile(bench.target + QStringLiteral("/Contents/version")), row.version);
        EXPECT_TRUE(QFileInfo(bench.target + QStringLiteral("/Contents/MacOS/Tarvolin")).isExecutable());
        EXPECT_TRUE(waitUntil([&] { return readFile(bench.log) == row.started; }))
            << readFile(bench.log).toStdString();
        for (const QString &gone : {bench.target + QStringLiteral(".new"),
                 bench.target + QStringLiteral(".old"), bench.target + QStringLiteral("/junk"),
                 bench.target + QLatin1Char('/') + swapStartedMarker(), bench.work, bench.script})
            EXPECT_FALSE(QFileInfo::exists(gone)) << gone.toStdString();
    }
}

} // namespace
