// Measures the local cloud on loopback: small API requests per second over keep-alive HTTPS
// connections, and the throughput of signed downloads. Bounded: a fixed number of requests and
// downloads, then it prints the figures and exits 1 if they fall short of the targets.
//
//     localcloud_bench [--requests N] [--clients N] [--object-mib N] [--downloads N]

#include "LocalCloud.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double targetRequestsPerSecond = 1000;
constexpr double targetMegabytesPerSecond = 200;

std::unique_ptr<httplib::SSLClient> connect(const LocalCloud &cloud)
{
    auto client = std::make_unique<httplib::SSLClient>("127.0.0.1", cloud.port());
    client->set_ca_cert_path(cloud.caCertPath().c_str());
    client->enable_server_certificate_verification(true);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    client->set_read_timeout(60);
    return client;
}

int argument(int argc, char **argv, const std::string &name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (argv[i] == name)
            return std::stoi(argv[i + 1]);
    }
    return fallback;
}

} // namespace

int main(int argc, char **argv)
{
    const int requests = argument(argc, argv, "--requests", 20000);
    const int clients = argument(argc, argv, "--clients", 4);
    const int objectMib = argument(argc, argv, "--object-mib", 64);
    const int downloads = argument(argc, argv, "--downloads", 8);

    LocalCloud cloud;
    const httplib::Headers keyOnly{{"apikey", cloud.anonKey()}};
    auto setup = connect(cloud);
    const auto signUp = setup->Post("/auth/v1/signup", keyOnly, R"({"data":{}})", "application/json");
    if (!signUp || signUp->status != 200) {
        std::fprintf(stderr, "signing up failed\n");
        return 1;
    }
    const std::string token = nlohmann::json::parse(signUp->body).at("access_token");
    const httplib::Headers auth{{"apikey", cloud.anonKey()}, {"Authorization", "Bearer " + token}};
    const auto pairing = setup->Post("/functions/v1/create-pairing", auth,
        R"({"computerName":"Mac","targetFolderName":"Gider"})", "application/json");
    const std::string computerId = nlohmann::json::parse(pairing->body).at("computerId");
    for (int i = 0; i < 20; ++i)
        cloud.sendDocument(computerId, "doc" + std::to_string(i) + ".pdf", "%PDF-1.4 small");

    // Small requests: the application's own listing query, as a sync pass sends it.
    const std::string listing = "/rest/v1/transfer_items?computer_id=eq." + computerId
        + "&status=eq.pending&select=id,storage_path,original_filename&order=created_at.asc&limit=500";
    std::atomic<int> failures{0};
    const auto smallStart = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, share = requests / clients] {
            auto client = connect(cloud);
            for (int i = 0; i < share; ++i) {
                const auto result = client->Get(listing, auth);
                if (!result || result->status != 200)
                    ++failures;
            }
        });
    }
    for (auto &t : threads)
        t.join();
    const double smallSeconds = std::chrono::duration<double>(Clock::now() - smallStart).count();
    const double perSecond = (requests / clients * clients) / smallSeconds;
    cloud.clearLog();

    // Signed downloads of one large object through a kept-alive connection.
    const auto big
        = cloud.sendDocument(computerId, "big.pdf", std::string(static_cast<size_t>(objectMib) << 20, 'x'));
    std::string escaped;
    for (char c : big.storagePath)
        escaped += (c == ' ') ? std::string("%20") : std::string(1, c);
    // A fresh connection: the setup one has idled past the server's keep-alive time by now.
    const auto sign = connect(cloud)->Post(
        "/storage/v1/object/sign/expenses/" + escaped, auth, R"({"expiresIn":600})", "application/json");
    if (!sign || sign->status != 200) {
        std::fprintf(stderr, "signing the large object failed\n");
        return 1;
    }
    const std::string link
        = "/storage/v1" + nlohmann::json::parse(sign->body).at("signedURL").get<std::string>();
    auto downloader = connect(cloud);
    std::uint64_t received = 0;
    const auto bigStart = Clock::now();
    for (int i = 0; i < downloads; ++i) {
        const auto result = downloader->Get(link, [&](const char *, size_t n) {
            received += n;
            return true;
        });
        if (!result || result->status != 200)
            ++failures;
    }
    const double bigSeconds = std::chrono::duration<double>(Clock::now() - bigStart).count();
    const double megabytesPerSecond = static_cast<double>(received) / (1024.0 * 1024.0) / bigSeconds;
    cloud.clearLog();

    std::printf("small requests: %d in %.2f s over %d connections = %.0f requests/s (target %.0f)\n",
        requests / clients * clients, smallSeconds, clients, perSecond, targetRequestsPerSecond);
    std::printf("signed downloads: %d x %d MiB in %.2f s = %.0f MiB/s (target %.0f)\n", downloads, objectMib,
        bigSeconds, megabytesPerSecond, targetMegabytesPerSecond);
    std::printf("failed requests: %d\n", failures.load());
    const bool ok = failures == 0 && perSecond >= targetRequestsPerSecond
        && megabytesPerSecond >= targetMegabytesPerSecond
        && received == static_cast<std::uint64_t>(downloads) * (static_cast<std::uint64_t>(objectMib) << 20);
    return ok ? 0 : 1;
}
