#include "LocalCloud.h"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr int readySeconds = 20;

std::string base64(const std::string &bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3), '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
        reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

LocalCloud::Row rowFrom(const json &j)
{
    const json &saved = j.at("downloaded_filename");
    return LocalCloud::Row{j.at("id"), j.at("storage_path"), j.at("original_filename"), j.at("status"),
        saved.is_string() ? std::optional<std::string>(saved.get<std::string>()) : std::nullopt};
}

json parse(const LocalCloud::Response &response)
{
    try {
        return json::parse(response.body);
    } catch (const json::exception &e) {
        throw std::runtime_error(std::string("localcloud answered something that is not JSON: ") + e.what());
    }
}

const char *kindName(LocalCloud::FaultKind kind)
{
    static const char *const names[]
        = {"status", "delay", "drop", "malformed", "truncate", "silent", "endless", "trickle"};
    return names[static_cast<int>(kind)];
}

// Reads the server's first line from `fd`, waiting at most until `deadline`.
std::string readLine(int fd, std::chrono::steady_clock::time_point deadline)
{
    std::string line;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw std::runtime_error("localcloud did not become ready in time");
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            throw std::runtime_error("localcloud exited before it was ready (see its messages above)");
        line.append(buffer, static_cast<size_t>(n));
    }
    return line.substr(0, line.find('\n'));
}

} // namespace

std::string LocalCloud::LoggedRequest::header(const std::string &name) const
{
    for (const auto &[key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0)
            return value;
    }
    return {};
}

bool LocalCloud::LoggedRequest::hasHeader(const std::string &name) const
{
    return std::any_of(headers.begin(), headers.end(),
        [&](const auto &entry) { return strcasecmp(entry.first.c_str(), name.c_str()) == 0; });
}

LocalCloud::LocalCloud()
    : LocalCloud(Options{})
{
}

LocalCloud::LocalCloud(Options options)
    : options_(std::move(options))
{
    // A server that closes a connection while we still write (dropped-connection faults) must
    // fail that request, not kill the test process.
    struct sigaction current {
    };
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        ::signal(SIGPIPE, SIG_IGN);
    if (options_.dataDir.empty()) {
        std::string pattern = (fs::temp_directory_path() / "localcloud-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder for localcloud");
        options_.dataDir = pattern;
        ownsDataDir_ = true;
    }
    start();
}

LocalCloud::~LocalCloud()
{
    stop();
    if (ownsDataDir_) {
        std::error_code ignored;
        fs::remove_all(options_.dataDir, ignored);
    }
}

void LocalCloud::start()
{
    std::vector<std::string> args{
        LOCALCLOUD_BINARY, "serve", "--data", options_.dataDir, "--port", std::to_string(port_)};
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("cannot make a pipe for localcloud");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("cannot start localcloud");
    if (pid_ == 0) {
        // Only async-signal-safe calls between fork and exec: the test process may have threads.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM); // a crashed test must not leave a server behind
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    try {
        line = readLine(out[0], std::chrono::steady_clock::now() + std::chrono::seconds(readySeconds));
    } catch (...) {
        ::close(out[0]);
        stop();
        throw;
    }
    ::close(out[0]);
    const json ready = json::parse(line);
    baseUrl_ = ready.at("baseURL");
    caCertPath_ = ready.at("caCert");
    anonKey_ = ready.at("anonKey");
    siteUrl_ = ready.at("siteURL");
    port_ = std::stoi(baseUrl_.substr(baseUrl_.rfind(':') + 1));
}

void LocalCloud::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

void LocalCloud::restart()
{
    std::lock_guard lock(mutex_);
    stop();
    start();
}

LocalCloud::Response LocalCloud::request(const std::string &method, const std::string &pathAndQuery,
    const std::string &body, const std::multimap<std::string, std::string> &headers)
{
    httplib::Client client(baseUrl_);
    client.set_ca_cert_path(caCertPath_.c_str());
    client.enable_server_certificate_verification(true);
    client.set_connection_timeout(10);
    client.set_read_timeout(60);
    httplib::Request req;
    req.method = method;
    req.path = pathAndQuery;
    req.body = body;
    for (const auto &[name, value] : headers)
        req.headers.emplace(name, value);
    const httplib::Result result = client.send(req);
    Response response;
    if (!result) {
        response.error = httplib::to_string(result.error());
        return response;
    }
    response.status = result->status;
    response.body = result->body;
    return response;
}

LocalCloud::Response LocalCloud::checked(const std::string &method, const std::string &path,
    const std::string &body, const std::string &contentType)
{
    Response response = request(method, path, body, {{"Content-Type", contentType}});
    if (response.status < 200 || response.status > 299) {
        throw std::runtime_error("localcloud " + method + " " + path + " failed: "
            + (response.status ? std::to_string(response.status) + " " + response.body : response.error));
    }
    return response;
}

LocalCloud::Pairing LocalCloud::claimPairing(const std::string &code)
{
    const json j = parse(checked("POST", "/_phone/pair", json{{"code", code}}.dump()));
    return Pairing{j.at("computerId")};
}

LocalCloud::Row LocalCloud::sendDocument(
    const std::string &computerId, const std::string &originalFilename, const std::string &bytes)
{
    const std::string path = httplib::append_query_params(
        "/_phone/documents", httplib::Params{{"computerId", computerId}, {"name", originalFilename}});
    return rowFrom(parse(checked("POST", path, bytes, "application/octet-stream")));
}

LocalCloud::Row LocalCloud::enqueueRaw(const RawItem &item)
{
    json body{{"computerId", item.computerId}, {"storagePath", item.storagePath},
        {"originalFilename", item.originalFilename}, {"status", item.status}};
    if (item.bytes)
        body["content"] = base64(*item.bytes);
    if (!item.contentType.empty())
        body["contentType"] = item.contentType;
    if (!item.createdAt.empty())
        body["createdAt"] = item.createdAt;
    return rowFrom(
        parse(checked("POST", "/_phone/enqueue", body.dump(-1, ' ', false, json::error_handler_t::replace))));
}

std::vector<LocalCloud::Row> LocalCloud::rows()
{
    std::vector<Row> out;
    for (const json &j : parse(checked("GET", "/_admin/rows", {})))
        out.push_back(rowFrom(j));
    return out;
}

std::vector<LocalCloud::PairingCode> LocalCloud::pairingCodes()
{
    std::vector<PairingCode> out;
    for (const json &j : parse(checked("GET", "/_admin/pairing-codes", {})))
        out.push_back(PairingCode{j.at("code"), j.at("computerId"), j.at("claimed")});
    return out;
}

std::vector<std::string> LocalCloud::objects()
{
    std::vector<std::string> out;
    for (const json &j : parse(checked("GET", "/_admin/objects", {})))
        out.push_back(j.at("name"));
    return out;
}

std::vector<LocalCloud::LoggedRequest> LocalCloud::requestLog()
{
    std::vector<LoggedRequest> out;
    for (const json &j : parse(checked("GET", "/_admin/log", {}))) {
        out.push_back(LoggedRequest{j.at("method"), j.at("path"),
            j.at("headers").get<std::map<std::string, std::string>>(), j.at("body")});
    }
    return out;
}

void LocalCloud::injectFault(const Fault &fault)
{
    json body{{"kind", kindName(fault.kind)}, {"path", fault.path}, {"method", fault.method},
        {"contentType", fault.contentType}, {"delayMs", fault.delayMs}, {"intervalMs", fault.intervalMs},
        {"fraction", fault.fraction}};
    if (fault.status)
        body["status"] = fault.status;
    if (!fault.body.empty())
        body["body"] = fault.body;
    if (fault.times)
        body["times"] = *fault.times;
    checked("POST", "/_admin/faults", body.dump());
}

LocalCloud::Realtime LocalCloud::realtime()
{
    const json j = parse(checked("GET", "/_admin/realtime", {}));
    Realtime out;
    out.open = j.at("open");
    for (const json &joined : j.at("joined"))
        out.joinedComputers.push_back(joined.at("computerId"));
    const auto text = [](const json &event, const char *name) {
        return event.contains(name) && event[name].is_string() ? event[name].get<std::string>()
                                                               : std::string();
    };
    for (const json &event : j.at("events")) {
        RealtimeEvent entry{text(event, "direction"), text(event, "topic"), text(event, "event"),
            event.contains("payload") ? event["payload"].dump() : "null", text(event, "target"),
            event.contains("status") && event["status"].is_number() ? event["status"].get<int>() : 0};
        out.events.push_back(std::move(entry));
    }
    return out;
}

void LocalCloud::setClockOffset(std::chrono::seconds offset)
{
    checked("PUT", "/_admin/clock", json{{"offsetSeconds", offset.count()}}.dump());
}

void LocalCloud::putSiteFile(const std::string &path, const std::string &bytes)
{
    const std::string relative = path.rfind('/', 0) == 0 ? path.substr(1) : path;
    checked("PUT", "/_admin/site/" + relative, bytes, "application/octet-stream");
}
