#include "PhoneClient.h"
#include "RealtimeFront.h"
#include "Server.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <pthread.h>
#include <thread>

namespace {

int usage()
{
    std::cerr << "usage: localcloud serve --data DIR [--port N] [--token-lifetime SECONDS] [--site DIR]\n"
                 "       localcloud phone --url BASE --ca CA_PEM pair CODE\n"
                 "       localcloud phone --url BASE --ca CA_PEM send (--code CODE | --computer ID) FILE "
                 "[--name NAME]\n";
    return 2;
}

std::optional<int> number(const std::string &text, int min, int max)
{
    try {
        size_t used = 0;
        const long value = std::stol(text, &used);
        if (used != text.size() || value < min || value > max)
            return std::nullopt;
        return static_cast<int>(value);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

int serve(int argc, char **argv, const std::vector<std::string> &args)
{
    localcloud::ServerOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            return usage();
        const std::string &value = args[i + 1];
        if (args[i] == "--data") {
            options.dataDir = value;
        } else if (args[i] == "--port") {
            const auto port = number(value, 0, 65535);
            if (!port)
                return usage();
            options.port = *port;
        } else if (args[i] == "--token-lifetime") {
            options.tokenLifetimeSeconds = number(value, 1, 100000000);
            if (!options.tokenLifetimeSeconds)
                return usage();
        } else if (args[i] == "--site") {
            options.siteDir = value;
        } else {
            return usage();
        }
        ++i;
    }
    if (options.dataDir.empty())
        return usage();

    // Signals are taken by one thread with sigwait, so stopping never runs inside a handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client going away mid-answer must cost the write, not the process.
    std::signal(SIGPIPE, SIG_IGN);

    try {
        // The HTTP server listens on a private port; the front owns the public one so that it can
        // take the push upgrades the HTTP library cannot answer, and pipes everything else on.
        QCoreApplication app(argc, argv);
        const int publicPort = options.port;
        options.port = 0;
        localcloud::Server server(options);
        const int internalPort = server.bind();
        localcloud::RealtimeFront front(server, internalPort);
        server.setPublicPort(front.listen(publicPort));

        std::atomic<bool> served{false};
        std::thread http([&server, &served] {
            server.run();
            served = true;
        });
        std::thread([&app, stopSignals] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
        }).detach();
        std::cout << server.readyInfo().dump() << std::endl;
        app.exec();
        front.shutDown();
        // A stop that comes before the server has started listening would be lost: repeat it.
        while (!served) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        http.join();
    } catch (const std::exception &e) {
        std::cerr << "localcloud: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usage();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "serve")
        return serve(argc, argv, rest);
    if (args[0] == "phone")
        return localcloud::runPhoneCommand(rest);
    return usage();
}
