#pragma once

// Starts the local cloud (tools/localcloud) for a test and talks to its test controls.
//
// Every call is synchronous and throws std::runtime_error when the server cannot be reached or
// refuses; nothing here needs Qt. The server process ends with the object (and with the test
// process, should that crash). Calls are safe from any thread. Constructing one makes the test
// process ignore SIGPIPE, so a connection the server drops fails a request instead of the test.
// The server also stops when the thread that started (or restarted) it ends, so do that from a
// thread that outlives the object, such as the test's own.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class LocalCloud
{
public:
    struct Options {
        std::string dataDir{}; // empty: a fresh temporary folder, removed afterwards
    };

    // Starts the server on a free port and waits (up to 20 s) until it is ready.
    explicit LocalCloud(Options options);
    LocalCloud();
    // Stops the server (SIGTERM, then SIGKILL after 5 s) and removes a temporary data folder.
    ~LocalCloud();
    LocalCloud(const LocalCloud &) = delete;
    LocalCloud &operator=(const LocalCloud &) = delete;

    const std::string &baseUrl() const { return baseUrl_; } // "https://127.0.0.1:PORT", no trailing "/"
    const std::string &caCertPath() const { return caCertPath_; } // PEM of the CA to trust
    const std::string &anonKey() const { return anonKey_; } // the publishable key ("apikey")
    const std::string &siteUrl() const { return siteUrl_; } // the product web site (same server)
    const std::string &dataDir() const { return options_.dataDir; }
    int port() const { return port_; }

    // Stops and starts the server again on the same data folder and port: state must survive.
    void restart();

    // --- the phone's side ---

    struct Pairing {
        std::string computerId{};
    };
    // Claims a pairing code the application showed. Throws if it is unknown, expired or used.
    Pairing claimPairing(const std::string &code);

    // A transfer_items row.
    struct Row {
        std::string id{};
        std::string storagePath{};
        std::string originalFilename{};
        std::string status{}; // "pending" or "downloaded"
        std::optional<std::string> downloadedFilename{};
    };
    // Uploads a document as the phone does (object at "<phoneUser>/<uuid>/<name>") and queues
    // its pending row for the computer.
    Row sendDocument(
        const std::string &computerId, const std::string &originalFilename, const std::string &bytes);

    // A row with exactly the given values, for hostile names and paths ("a//b", "%", "..").
    struct RawItem {
        std::string computerId{};
        std::string storagePath{};
        std::string originalFilename{};
        std::optional<std::string> bytes{}; // stored as the object at storagePath; none: no object
        std::string contentType{}; // empty: guessed from originalFilename
        std::string createdAt{}; // ISO 8601; empty: now. Decides the listing order.
        std::string status = "pending";
    };
    Row enqueueRaw(const RawItem &item);

    // --- inspection ---

    std::vector<Row> rows(); // every row of every user, oldest first

    struct PairingCode {
        std::string code{};
        std::string computerId{};
        bool claimed = false;
    };
    std::vector<PairingCode> pairingCodes(); // every code issued, newest first

    std::vector<std::string> objects(); // names of the objects still in the bucket

    struct LoggedRequest {
        std::string method{};
        std::string path{}; // path and query exactly as sent (still percent-encoded)
        std::map<std::string, std::string> headers{}; // names in lower case
        std::string body{}; // as sent when UTF-8, else base64; first 64 KiB only

        // The header's value, or "" when absent; `name` in any case.
        std::string header(const std::string &name) const;
        bool hasHeader(const std::string &name) const;
    };
    // Every request the server received (test controls excluded), oldest first.
    std::vector<LoggedRequest> requestLog();
    void clearLog() { checked("DELETE", "/_admin/log", {}); }

    // --- making things go wrong ---

    enum class FaultKind {
        Status, // answer `status` with `body` instead
        Delay, // wait delayMs, then answer normally
        Drop, // close the connection without any answer
        Malformed, // answer `status` (200 by default) with a body that is not JSON (or `body`)
        Truncate, // real headers, then only half the body, then close
        Silent, // push events: no reply and no push (an HTTP request is dropped)
        Endless, // 200 (or `status`) with `body` ("%PDF-1.7\n" by default), then filler without end
        Trickle, // 200 (or `status`) with `body` repeated one byte per intervalMs, without end
    };
    struct Fault {
        FaultKind kind = FaultKind::Status;
        std::string path{}; // prefix of the raw path+query, e.g. "/rest/v1/transfer_items"
        std::string method = "*"; // or "GET", "POST", ...
        int status = 0; // 0: 500 for Status, 200 for Malformed
        std::string body{}; // for Status and Malformed
        std::string contentType = "application/json";
        int delayMs = 0; // waited before any kind
        std::optional<int> times{}; // requests to hit; default 1, or every one when `fraction` is set
        double fraction = 0; // hit the 1/f-th, 2/f-th ... matching request (deterministic)
        int intervalMs = 1000; // between two bytes of a trickle (last: callers list the others in order)
    };
    // Faults are tried in the order given; a request gets at most one. Push sockets: the upgrade is
    // "GET" on realtimePath; each message and each push is matched with its event name as the method
    // ("phx_join", "heartbeat", "postgres_changes"...) on realtimePath.
    void injectFault(const Fault &fault);
    void clearFaults() { checked("DELETE", "/_admin/faults", {}); }

    // --- the push sockets ---

    static constexpr const char *realtimePath = "/realtime/v1/websocket";
    struct RealtimeEvent {
        std::string direction{}; // "upgrade", "in", "out", "closed" or "withheld"
        std::string topic{};
        std::string event{};
        std::string payload{}; // JSON text of the message's payload ("null" when absent)
        std::string target{}; // of an upgrade: path and query as sent
        int status = 0; // of an upgrade: 101, or the refusal
    };
    struct Realtime {
        int open = 0; // sockets open now
        std::vector<std::string> joinedComputers{}; // one per joined socket
        std::vector<RealtimeEvent> events{}; // oldest first
    };
    Realtime realtime();
    // Closes every push socket at once, without a closing handshake.
    void dropRealtime() { checked("POST", "/_admin/realtime/drop", {}); }

    // Moves the server's clock (tokens, signed links, pairing codes, created_at) ahead or back.
    void setClockOffset(std::chrono::seconds offset);
    // Serves `bytes` at `path` (e.g. "/updates/macos.json") from now on, over whatever was there.
    // In JSON files "{{baseURL}}" and "{{anonKey}}" are replaced by this server's values.
    void putSiteFile(const std::string &path, const std::string &bytes);

    struct Response {
        int status = 0; // 0 when no HTTP answer arrived (see `error`)
        std::string body{};
        std::string error{}; // transport error text when status is 0
    };
    // One HTTPS request to this server, trusting only its CA. `headers` are sent as given.
    Response request(const std::string &method, const std::string &pathAndQuery, const std::string &body = {},
        const std::multimap<std::string, std::string> &headers = {});

private:
    void start();
    void stop();
    Response checked(const std::string &method, const std::string &path, const std::string &body,
        const std::string &contentType = "application/json");

    Options options_;
    bool ownsDataDir_ = false;
    pid_t pid_ = -1;
    int port_ = 0;
    std::string baseUrl_;
    std::string caCertPath_;
    std::string anonKey_;
    std::string siteUrl_;
    std::mutex mutex_;
};
