// How long a document takes from the phone to the folder (not a test: it prints the figures and
// exits 1 when the push half misses its target).
//
//   tarvolin_arrival_bench [docs] [seed]
//       The phone sends `docs` documents (50 by default) at random intervals of 0.1 to 2 s, each to
//       two computers at once: one that follows the push channel and one that only polls every
//       20 s. For each, the time from the start of the phone's upload to the file in the folder;
//       p50, p95 and max per computer. Target: push p95 under 2 s on loopback.

#include "app/AppModel.h"
#include "platform/linux/SystemClock.h"
#include "tests/support/Fakes.h"
#include "tests/support/LocalCloud.h"

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <thread>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;

QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

// One desktop: its own settings, secrets and folder, on the real clock, started as the program starts.
struct Desktop {
    Desktop(LocalCloud &cloud, SystemClock &clock, bool push)
        : fakes(QtHttpClient::loadAuthorities(qs(cloud.caCertPath())))
    {
        fakes.settings.values.insert(QStringLiteral("targetFolderBookmark"), folder.path().toUtf8());
        const PlatformServices services{fakes.settings, fakes.secrets, clock, fakes.loginItem, fakes.http,
            fakes.folderChooser, fakes.bookmarks, fakes.workspace, fakes.application, fakes.notifier,
            fakes.wake};
        model
            = std::make_unique<AppModel>(services, testBuildValues(qs(cloud.baseUrl()), qs(cloud.anonKey())));
        if (push)
            model->enablePush();
        model->start();
    }

    TestServices fakes;
    QTemporaryDir folder;
    std::unique_ptr<AppModel> model;
    std::string computerId;
    std::vector<std::optional<Steady::time_point>> landed;
};

double seconds(Steady::duration d)
{
    return std::chrono::duration<double>(d).count();
}

void report(const char *name, const std::vector<Steady::time_point> &sent, const Desktop &desktop)
{
    std::vector<double> times;
    for (size_t i = 0; i < sent.size(); ++i)
        if (desktop.landed[i])
            times.push_back(seconds(*desktop.landed[i] - sent[i]));
    std::sort(times.begin(), times.end());
    const auto at = [&](double q) {
        return times.empty() ? 0.0
                             : times[std::min(times.size() - 1, size_t(q * double(times.size() - 1) + 0.5))];
    };
    std::printf("%-10s p50 %6.3f s   p95 %6.3f s   max %6.3f s   (%zu of %zu arrived)\n", name, at(0.5),
        at(0.95), times.empty() ? 0.0 : times.back(), times.size(), sent.size());
}

double p95(const std::vector<Steady::time_point> &sent, const Desktop &desktop)
{
    std::vector<double> times;
    for (size_t i = 0; i < sent.size(); ++i)
        times.push_back(desktop.landed[i] ? seconds(*desktop.landed[i] - sent[i]) : 1e9);
    std::sort(times.begin(), times.end());
    return times[std::min(times.size() - 1, size_t(0.95 * double(times.size() - 1) + 0.5))];
}

bool runUntil(const std::function<bool()> &done, std::chrono::seconds limit)
{
    const Steady::time_point end = Steady::now() + limit;
    while (!done()) {
        if (Steady::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const unsigned seed = argc > 2 ? unsigned(std::atoi(argv[2])) : 1u;

    LocalCloud cloud;
    SystemClock clock;
    Desktop push(cloud, clock, true);
    Desktop poll(cloud, clock, false);
    for (Desktop *desktop : {&push, &poll}) {
        if (!runUntil([&] { return desktop->model->pairing().has_value(); }, std::chrono::seconds(30))) {
            std::cerr << "no pairing code: " << desktop->model->status().toStdString() << " / "
                      << desktop->model->lastError().value_or(QString()).toStdString() << "\n";
            return 1;
        }
        desktop->computerId = cloud.claimPairing(desktop->model->pairing()->code.toStdString()).computerId;
        desktop->landed.assign(size_t(count), std::nullopt);
    }
    if (!runUntil([&] { return push.model->pushChannel().state() == RealtimeChannel::State::Joined; },
            std::chrono::seconds(30))) {
        std::cerr << "the push channel did not join\n";
        return 1;
    }

    // The phone works on its own thread, so that its blocking uploads never hold up the desktops.
    std::vector<Steady::time_point> sent(static_cast<size_t>(count)); // read only after the phone is done
    std::atomic<int> sentCount{0};
    std::thread phone([&] {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> interval(100, 2000);
        const std::string bytes = "%PDF-1.7\n" + std::string(64 * 1024, 'x');
        for (int i = 0; i < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(interval(random)));
            const std::string name = "fis-" + std::to_string(i) + ".pdf";
            sent[size_t(i)] = Steady::now();
            cloud.sendDocument(push.computerId, name, bytes);
            cloud.sendDocument(poll.computerId, name, bytes);
            sentCount = i + 1;
        }
    });

    // Looks for each sent document's file in both folders every 5 ms.
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        const int known = sentCount + 1; // the one being uploaded may land before its send returns
        for (Desktop *desktop : {&push, &poll})
            for (int i = 0; i < std::min(known, count); ++i)
                if (!desktop->landed[size_t(i)]
                    && QFileInfo::exists(desktop->folder.filePath(QStringLiteral("fis-%1.pdf").arg(i))))
                    desktop->landed[size_t(i)] = Steady::now();
    });
    look.start(5);
    const auto allLanded = [&] {
        for (Desktop *desktop : {&push, &poll})
            for (const auto &time : desktop->landed)
                if (!time)
                    return false;
        return true;
    };
    const bool complete = runUntil(allLanded, std::chrono::seconds(count * 2 + 60));
    phone.join();
    look.stop();

    std::printf(
        "%d documents of 64 KiB at random intervals of 0.1-2 s (seed %u), to both computers at once\n", count,
        seed);
    report("push", sent, push);
    report("poll only", sent, poll);
    const double pushP95 = p95(sent, push);
    std::printf("target: push p95 under 2 s: %s\n", pushP95 < 2.0 ? "met" : "missed");
    push.model->stop();
    poll.model->stop();
    return complete && pushP95 < 2.0 ? 0 : 1;
}
