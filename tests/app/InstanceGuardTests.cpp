// One program per user. The guard in this process plays one copy, the real program in a profile of
// its own the other; the runtime folder is the test's own, so parallel tests never meet.

#include "platform/linux/DesktopId.h"
#include "platform/linux/LocalInstanceGuard.h"
#include "tests/support/Fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

class InstanceGuardTest : public ::testing::Test
{
protected:
    InstanceGuardTest()
    {
        runtime = dir.filePath(QStringLiteral("run"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        // A backend that refuses at once and a remembered folder; no login choice made yet, so a
        // copy that got as far as the model would write its login entry.
        const QString folder = dir.filePath(QStringLiteral("Gider"));
        QDir().mkpath(folder);
        QDir().mkpath(dir.filePath(QStringLiteral("config/Kavrendal")));
        QFile settings(dir.filePath(QStringLiteral("config/Kavrendal/Tarvolin.conf")));
        EXPECT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(
            "[General]\nmanualCloudConfigurationEnabled=true\nsupabaseURL=https://127.0.0.1:9\n"
            "supabaseAnonKey=sb_publishable_instance_tests_0123456789abcdef\ntargetFolderBookmark=@ByteArray("
            + folder.toUtf8() + ")\n");
    }
    ~InstanceGuardTest() override { qunsetenv("XDG_RUNTIME_DIR"); }

    std::unique_ptr<QProcess> startProgram(const QStringList &arguments)
    {
        auto program = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto &[name, folder] : {std::pair{"HOME", "home"}, {"XDG_CONFIG_HOME", "config"},
                 {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"}})
            env.insert(QString::fromLatin1(name), dir.filePath(QString::fromLatin1(folder)));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), QStringLiteral("token-7"));
        program->setProcessEnvironment(env);
        program->setProcessChannelMode(QProcess::ForwardedChannels);
        program->start(QStringLiteral(TARVOLIN_PROGRAM), arguments);
        EXPECT_TRUE(program->waitForStarted());
        return program;
    }

    // Whether a started program holds the claim: a launch from here reaches it. Until it does, the
    // claim here may win for a moment; the program then waits for it and claims after.
    static bool answers()
    {
        for (int attempt = 0; attempt < 600; ++attempt) {
            if (!LocalInstanceGuard(desktopId()).claim({{QStringLiteral("--background")}, {}, {}}, {}))
                return true;
            QThread::msleep(100);
        }
        return false;
    }

    // The guard here answers only while events are served, so this waits by serving them.
    static bool ends(QProcess &program)
    {
        return waitUntil([&] { return program.state() == QProcess::NotRunning; }, 60000);
    }

    QTemporaryDir dir;
    QString runtime;
};

TEST_F(InstanceGuardTest, ASecondProgramHandsItsLaunchOverAndLeavesBeforeTouchingAnything)
{
    LocalInstanceGuard running(desktopId());
    std::vector<InstanceGuard::Launch> launches;
    ASSERT_TRUE(running.claim({}, [&](const InstanceGuard::Launch &launch) { launches.push_back(launch); }));

    // Junk and a line that never ends are dropped; the guard goes on taking launches.
    QLocalSocket junk;
    junk.connectToServer(runtime + QStringLiteral("/") + desktopId() + QStringLiteral("/socket"));
    ASSERT_TRUE(junk.waitForConnected());
    junk.write("not json\n");
    EXPECT_TRUE(waitUntil([&] { return junk.state() == QLocalSocket::UnconnectedState; }));
    junk.connectToServer(runtime + QStringLiteral("/") + desktopId() + QStringLiteral("/socket"));
    ASSERT_TRUE(junk.waitForConnected());
    junk.write(QByteArray(70 * 1024, '['));
    EXPECT_TRUE(waitUntil([&] { return junk.state() == QLocalSocket::UnconnectedState; }));

    const std::unique_ptr<QProcess> second
        = startProgram({QStringLiteral("--background"), QStringLiteral("-x")});
    ASSERT_TRUE(ends(*second));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].arguments, QStringList({QStringLiteral("--background"), QStringLiteral("-x")}));
    EXPECT_EQ(launches[0].activationToken, QStringLiteral("token-7"));
    // It stopped before the model: no login entry, no settings written.
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("config/autostart"))));
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("config/Kavrendal"))).entryList(QDir::Files),
        QStringList{QStringLiteral("Tarvolin.conf")});
}

TEST_F(InstanceGuardTest, AKilledProgramNeverBlocksTheNextStart)
{
    const std::unique_ptr<QProcess> first = startProgram({});
    ASSERT_TRUE(answers());

    // Killed, it leaves its lock file and its socket behind.
    ::kill(pid_t(first->processId()), SIGKILL);
    ASSERT_TRUE(first->waitForFinished());
    ASSERT_TRUE(QFileInfo::exists(runtime + QStringLiteral("/") + desktopId() + QStringLiteral("/socket")));
    const std::unique_ptr<QProcess> next = startProgram({});
    EXPECT_TRUE(answers());
    EXPECT_EQ(next->state(), QProcess::Running);

    next->kill();
    ASSERT_TRUE(next->waitForFinished());
    EXPECT_TRUE(LocalInstanceGuard(desktopId()).claim({}, {}));
}

TEST_F(InstanceGuardTest, WithoutARuntimeFolderAFolderOfTheUsersOwnIsUsed)
{
    qunsetenv("XDG_RUNTIME_DIR");
    const QByteArray previousTmp = qgetenv("TMPDIR");
    const QByteArray previousCache = qgetenv("XDG_CACHE_HOME");
    qputenv("TMPDIR", dir.filePath(QStringLiteral("tmp")).toUtf8());
    qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
    QDir().mkpath(dir.filePath(QStringLiteral("tmp")));
    const QString shared = dir.filePath(QStringLiteral("tmp/%1-%2").arg(desktopId()).arg(::geteuid()));

    // Made open to all, it is closed again; a link someone put there is passed over.
    QDir().mkpath(shared);
    ::chmod(QFile::encodeName(shared).constData(), 0777);
    EXPECT_EQ(LocalInstanceGuard::folderFor(desktopId()), shared);
    struct stat info {
    };
    ASSERT_EQ(::stat(QFile::encodeName(shared).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    QDir(shared).removeRecursively();
    QFile::link(dir.path(), shared);
    EXPECT_EQ(
        LocalInstanceGuard::folderFor(desktopId()), dir.filePath(QStringLiteral("cache/")) + desktopId());

    qputenv("TMPDIR", previousTmp);
    qputenv("XDG_CACHE_HOME", previousCache);
}

} // namespace
