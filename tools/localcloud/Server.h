#pragma once

#include "Certificates.h"
#include "Clock.h"
#include "Crypto.h"
#include "Faults.h"
#include "RequestLog.h"
#include "Store.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace localcloud {

struct ServerOptions {
    std::filesystem::path dataDir;
    int port = 0;
    std::optional<int> tokenLifetimeSeconds;
    std::optional<std::filesystem::path> siteDir;
};

// An answer other than success, thrown by a route and written by the dispatcher.
struct HttpError {
    int status;
    nlohmann::json body;
};

// The parts of the real backend the application talks to, each answering in its own error shape.
enum class Family { Auth, Rest, Storage, Functions };

struct RequestState {
    bool truncate = false; // a fault asked for the body to be cut short
};

class Server
{
public:
    explicit Server(ServerOptions options);
    ~Server();

    // Binds 127.0.0.1 and returns the port; the server does not answer until run().
    int bind();
    // The line printed when ready: where to connect and what to trust.
    nlohmann::json readyInfo() const;
    // Answers requests until stop() is called from another thread.
    void run();
    void stop();

    // --- for the push front, which owns the public port and hands everything else on ---
    const CertificateFiles &certificates() const { return certs_; }
    // The port clients use, when a front listens there instead of this server.
    void setPublicPort(int port);
    FaultTable &faults() { return faults_; }
    // The signed-in user a token names, if it is valid now. Safe from any thread.
    std::optional<std::string> userForToken(const std::string &token);
    // Whether `userId` is the computer's own user. Safe from any thread.
    bool ownsComputer(const std::string &userId, const std::string &computerId);
    bool isApiKey(const std::string &key) const;
    // Set before run(); called from the request threads.
    std::function<void(const nlohmann::json &row)> onRowAdded;
    std::function<nlohmann::json()> describeRealtime;
    std::function<void()> dropRealtime;

private:
    void dispatch(const httplib::Request &req, httplib::Response &res);
    // The answer of an endless or trickling fault: streamed until the client goes away.
    void streamWithoutEnd(httplib::Response &res, const FaultRule &fault);
    void route(const httplib::Request &req, httplib::Response &res, RequestState &state);

    void handleAuth(const httplib::Request &req, httplib::Response &res);
    void handleRest(const httplib::Request &req, httplib::Response &res);
    void handleFunctions(const httplib::Request &req, httplib::Response &res);
    void handleStorage(const httplib::Request &req, httplib::Response &res, RequestState &state);
    void handlePhone(const httplib::Request &req, httplib::Response &res);
    void handleAdmin(const httplib::Request &req, httplib::Response &res);
    bool handleSite(const httplib::Request &req, httplib::Response &res, RequestState &state);

    void requireApiKey(const httplib::Request &req) const;
    // The id of the signed-in user, or an HttpError in the family's shape.
    std::string requireUser(const httplib::Request &req, Family family);
    // The existing user a valid token's claims name, if they name one.
    std::optional<std::string> signedInUser(const nlohmann::json &claims);
    nlohmann::json sessionJson(
        const std::string &userId, const std::string &sessionId, const std::string &refreshToken);

    // Streams a file (an object or a site file), cut short when the request is to be truncated.
    void streamFile(httplib::Response &res, const std::filesystem::path &file, std::uint64_t size,
        const std::string &contentType, bool truncate);
    std::filesystem::path objectPath(const std::string &file) const;
    std::string storeObjectBytes(const std::string &bytes);
    void removeObjectFile(const std::string &file) const;
    nlohmann::ordered_json addRow(const std::string &computerId, const std::string &userId,
        const std::string &storagePath, const std::string &originalFilename, const std::string &status,
        std::optional<std::int64_t> createdMicros);

    ServerOptions options_;
    std::filesystem::path certDir_;
    std::filesystem::path caCert_;
    CertificateFiles certs_;
    std::unique_ptr<httplib::SSLServer> http_;
    std::unique_ptr<Store> store_;
    std::unique_ptr<JwtSigner> jwt_;
    Clock clock_;
    FaultTable faults_;
    RequestLog log_;
    std::string anonKey_;
    std::string baseUrl_;
    std::atomic<int> tokenLifetime_{3600};
    std::atomic<bool> stopping_{false};

    // Where the program under test saves documents; every acknowledgement is checked against it.
    void checkAcknowledgements(const std::vector<TransferRow> &rows);
    std::mutex watchMutex_;
    std::optional<std::filesystem::path> watchedFolder_;
    nlohmann::ordered_json acknowledgements_ = nlohmann::ordered_json::array();
};

// Parses JSON from a request body; nullopt for anything that is not JSON or nests too deeply
// (a deep document must not exhaust the stack of whatever later walks it).
std::optional<nlohmann::json> parseJsonBody(const std::string &body);

// Percent-encodes each segment of an object key, leaving the "/" between them.
std::string encodeObjectKey(const std::string &key);

} // namespace localcloud
