// Figures for one whole self-update (not a test: it prints, it does not judge).
//
//   tarvolin_update_bench [runs]     (3 by default)
//
// Each run installs the real program as Tarvolin.app 1.1.2 in a fresh folder and publishes the same
// program as 1.2.0 on the local cloud. A child process plays the installed program: the model with
// the real application host checks, downloads, verifies, unpacks, hands over to the swap script and
// quits. The script swaps and starts the real program from the new folder, offscreen and so without
// a tray; the run ends when that program has confirmed its start (".old" gone). Printed per run:
// seconds to the hand-over and seconds from the check to the confirmed relaunch.

#include "app/AppModel.h"
#include "platform/linux/LinuxApplicationHost.h"
#include "tests/support/Fakes.h"
#include "tests/support/LocalCloud.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

QString makeBundle(const QString &parent, const QByteArray &version)
{
    const QString bundle = parent + QStringLiteral("/Tarvolin.app");
    QDir().mkpath(bundle + QStringLiteral("/Contents/MacOS"));
    QFile::copy(QStringLiteral(PROGRAM), bundle + QStringLiteral("/Contents/MacOS/Tarvolin"));
    QFile file(bundle + QStringLiteral("/Contents/version"));
    if (file.open(QIODevice::WriteOnly))
        file.write(version + '\n');
    return bundle;
}

// The installed program's part: check, hand over, quit.
int runOld(const QString &site, const QString &authority, const QString &bundle)
{
    TestServices services(QtHttpClient::loadAuthorities(authority));
    LinuxApplicationHost host(bundle + QStringLiteral("/Contents/MacOS"));
    PlatformServices platform = services.services();
    PlatformServices real{platform.settings, platform.secrets, platform.clock, platform.loginItem,
        platform.http, platform.folderChooser, platform.bookmarks, platform.workspace, host,
        platform.notifier, platform.wake};
    AppModel model(real, testBuildValues({}, {}, site));
    QElapsedTimer clock;
    clock.start();
    QCoro::waitFor(model.checkForUpdates(false));
    if (model.lastError()) {
        std::fprintf(stderr, "%s\n", qPrintable(*model.lastError()));
        return 1;
    }
    // The model has asked to quit; ending here is that quit, and it releases the lock the script waits for.
    std::printf("%.2f\n", double(clock.elapsed()) / 1000.0);
    return 0;
}

// The program running from `bundle`, found by its executable.
std::vector<pid_t> programsIn(const QString &bundle)
{
    std::vector<pid_t> pids;
    const QString executable = bundle + QStringLiteral("/Contents/MacOS/Tarvolin");
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (number && QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).symLinkTarget() == executable)
            pids.push_back(pid);
    }
    return pids;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("old"))
        return runOld(args[2], args[3], args[4]);

    const int runs = args.size() > 1 ? std::max(1, args[1].toInt()) : 3;
    LocalCloud cloud;
    const QString site = qs(cloud.siteUrl());
    std::printf("run  hand-over s  relaunched s  archive MiB\n");
    for (int run = 1; run <= runs; ++run) {
        QTemporaryDir temp;
        const QString home = temp.filePath(QStringLiteral("home"));
        const QString temporary = temp.filePath(QStringLiteral("tmp"));
        QDir().mkpath(home);
        QDir().mkpath(temporary);
        QDir().mkpath(temp.filePath(QStringLiteral("installed")));
        QDir().mkpath(temp.filePath(QStringLiteral("release")));
        const QString installed = makeBundle(temp.filePath(QStringLiteral("installed")), "1.1.2");
        const QString release = makeBundle(temp.filePath(QStringLiteral("release")), "1.2.0");

        QProcess pack;
        pack.start(QStringLiteral("bash"),
            {QStringLiteral(MAKE_UPDATE), release, temp.filePath(QStringLiteral("out")),
                site + QStringLiteral("/downloads/")});
        if (!pack.waitForFinished(120000) || pack.exitCode() != 0) {
            std::fprintf(stderr, "packing failed: %s\n", pack.readAllStandardError().constData());
            return 1;
        }
        QFile archive(temp.filePath(QStringLiteral("out/Tarvolin-1.2.0.zip")));
        QFile manifest(temp.filePath(QStringLiteral("out/macos.json")));
        if (!archive.open(QIODevice::ReadOnly) || !manifest.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = archive.readAll();
        cloud.putSiteFile("/downloads/Tarvolin-1.2.0.zip", bytes.toStdString());
        cloud.putSiteFile("/updates/macos.json", manifest.readAll().toStdString());

        // Both programs keep away from the user's own settings, secrets and display.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        environment.insert(QStringLiteral("TMPDIR"), temporary);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));

        QElapsedTimer clock;
        clock.start();
        QProcess old;
        old.setProcessEnvironment(environment);
        old.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("old"), site, qs(cloud.caCertPath()), installed});
        if (!old.waitForFinished(120000) || old.exitCode() != 0) {
            std::fprintf(
                stderr, "the installed program failed: %s\n", old.readAllStandardError().constData());
            return 1;
        }
        const double handOver = old.readAllStandardOutput().trimmed().toDouble();

        auto swapped = [&] {
            QFile version(installed + QStringLiteral("/Contents/version"));
            return version.open(QIODevice::ReadOnly) && version.readAll() == "1.2.0\n"
                && !QFileInfo::exists(installed + QStringLiteral(".old"));
        };
        while (!swapped() && clock.elapsed() < 180000)
            QThread::msleep(20);
        const double relaunched = double(clock.elapsed()) / 1000.0;
        const bool done = swapped();
        for (const pid_t pid : programsIn(installed))
            ::kill(pid, SIGTERM);
        if (!done) {
            std::fprintf(stderr, "the swap did not finish\n");
            return 1;
        }
        std::printf(
            "%3d  %11.2f  %12.2f  %11.1f\n", run, handOver, relaunched, double(bytes.size()) / (1 << 20));
        std::fflush(stdout);
    }
    return 0;
}
