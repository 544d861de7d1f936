#include "Server.h"

#include "Certificates.h"

#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <thread>

namespace localcloud {

namespace fs = std::filesystem;

namespace {

constexpr size_t maxApiBody = 1024 * 1024;
constexpr int maxJsonDepth = 64;

bool startsWith(const std::string &text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool underPrefix(const std::string &path, std::string_view prefix)
{
    return path == prefix
        || (startsWith(path, prefix) && path.size() > prefix.size() && path[prefix.size()] == '/');
}

bool isLoopback(const std::string &address)
{
    return address == "127.0.0.1" || address == "::1" || address == "::ffff:127.0.0.1";
}

void writeJson(httplib::Response &res, int status, const nlohmann::json &body)
{
    res.status = status;
    // Stored names may hold bytes that are not UTF-8; they must not turn an answer into a crash.
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
        "application/json; charset=utf-8");
}

// Ends the connection under the HTTP library so the client gets no answer at all.
void dropConnection(const httplib::Request &req)
{
    if (req.ssl)
        ::shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
}

void truncateBody(httplib::Response &res)
{
    if (res.content_provider_)
        return; // streamed answers cut themselves short
    auto body = std::make_shared<std::string>(std::move(res.body));
    res.body.clear();
    const std::string type = res.get_header_value("Content-Type");
    res.headers.erase("Content-Type");
    // Promise more than is sent, so even an empty answer arrives visibly incomplete.
    const size_t declared = body->empty() ? 16 : body->size();
    res.set_content_provider(declared, type.empty() ? "application/octet-stream" : type,
        [body](size_t, size_t, httplib::DataSink &sink) {
            if (body->size() / 2 > 0)
                sink.write(body->data(), body->size() / 2);
            return false;
        });
}

nlohmann::json authFailure(Family family, JwtSigner::Check check, bool missing)
{
    const bool expired = check == JwtSigner::Check::Expired;
    switch (family) {
    case Family::Rest:
        if (missing)
            return {{"code", "PGRST301"}, {"details", nullptr}, {"hint", nullptr},
                {"message", "No JWT in the Authorization header"}};
        if (expired)
            return {
                {"code", "PGRST303"}, {"details", nullptr}, {"hint", nullptr}, {"message", "JWT expired"}};
        return {{"code", "PGRST301"}, {"details", nullptr}, {"hint", nullptr},
            {"message",
                check == JwtSigner::Check::BadSignature ? "JWSError JWSInvalidSignature"
                                                        : "JWT could not be decoded"}};
    case Family::Storage:
        return {{"statusCode", "401"}, {"error", missing ? "Unauthorized" : "InvalidJWT"},
            {"message",
                missing                                       ? "No JWT in the Authorization header"
                    : expired                                 ? "jwt expired"
                    : check == JwtSigner::Check::BadSignature ? "invalid signature"
                                                              : "jwt malformed"}};
    case Family::Functions:
        return {{"code", 401},
            {"message",
                missing       ? "Missing authorization header"
                    : expired ? "JWT expired"
                              : "Invalid JWT"}};
    case Family::Auth:
        break;
    }
    return {{"code", 401}, {"error_code", "bad_jwt"}, {"msg", expired ? "JWT expired" : "invalid JWT"}};
}

} // namespace

std::optional<nlohmann::json> parseJsonBody(const std::string &body)
{
    struct TooDeep {
    };
    try {
        return nlohmann::json::parse(body, [](int depth, nlohmann::json::parse_event_t, nlohmann::json &) {
            if (depth > maxJsonDepth)
                throw TooDeep{};
            return true;
        });
    } catch (const TooDeep &) {
        return std::nullopt;
    } catch (const nlohmann::json::exception &) {
        return std::nullopt;
    }
}

std::string encodeObjectKey(const std::string &key)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : key) {
        if (std::isalnum(c)
            || std::string_view("/-._~!$&'()*+,=:@").find(static_cast<char>(c)) != std::string_view::npos) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

Server::Server(ServerOptions options)
    : options_(std::move(options))
{
    fs::create_directories(options_.dataDir);
    options_.dataDir = fs::canonical(options_.dataDir);
    if (options_.siteDir)
        options_.siteDir = fs::absolute(*options_.siteDir);
    const CertificateFiles certs = ensureCertificates(options_.dataDir / "tls");
    caCert_ = certs.caCert;
    certs_ = certs;
    http_ = std::make_unique<httplib::SSLServer>(certs.serverCert.c_str(), certs.serverKey.c_str());
    if (!http_->is_valid())
        throw std::runtime_error("the TLS server could not load its certificate");

    store_ = std::make_unique<Store>(options_.dataDir / "localcloud.sqlite3");
    anonKey_ = store_->setting("anon_key", [] { return "sb_publishable_" + randomAlphanumeric(31); });
    jwt_ = std::make_unique<JwtSigner>(store_->setting("jwt_secret", [] { return randomAlphanumeric(64); }));
    tokenLifetime_ = options_.tokenLifetimeSeconds.value_or(3600);
    fs::create_directories(options_.dataDir / "bucket" / "expenses");
    fs::create_directories(options_.dataDir / "site");
    fs::create_directories(options_.dataDir / "site-overlay");

    // Each keep-alive connection holds a worker while open; leave room for several clients.
    http_->new_task_queue = [] { return new httplib::ThreadPool(32); };
    // Small answers must not wait for delayed acknowledgements (about 40 ms each on loopback).
    http_->set_tcp_nodelay(true);
    http_->set_keep_alive_max_count(100000);
    http_->set_keep_alive_timeout(5);
    http_->set_read_timeout(30);
    http_->set_write_timeout(30);
    http_->set_payload_max_length(512ull * 1024 * 1024);
    const auto handler = [this](const httplib::Request &req, httplib::Response &res) { dispatch(req, res); };
    http_->Get(".*", handler);
    http_->Post(".*", handler);
    http_->Put(".*", handler);
    http_->Patch(".*", handler);
    http_->Delete(".*", handler);
    http_->Options(".*", handler);
}

Server::~Server() = default;

int Server::bind()
{
    int port = options_.port;
    if (port == 0)
        port = http_->bind_to_any_port("127.0.0.1");
    else if (!http_->bind_to_port("127.0.0.1", port))
        port = -1;
    if (port <= 0)
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(options_.port));
    baseUrl_ = "https://127.0.0.1:" + std::to_string(port);
    return port;
}

nlohmann::json Server::readyInfo() const
{
    nlohmann::ordered_json info;
    info["baseURL"] = baseUrl_;
    info["caCert"] = caCert_.string();
    info["anonKey"] = anonKey_;
    info["siteURL"] = baseUrl_;
    return nlohmann::json::parse(info.dump());
}

void Server::setPublicPort(int port)
{
    baseUrl_ = "https://127.0.0.1:" + std::to_string(port);
}

std::optional<std::string> Server::userForToken(const std::string &token)
{
    const auto verified = jwt_->verify(token, clock_.nowSeconds());
    if (verified.check != JwtSigner::Check::Valid)
        return std::nullopt;
    return signedInUser(verified.claims);
}

std::optional<std::string> Server::signedInUser(const nlohmann::json &claims)
{
    // A signed-link token carries no subject; it must not open the data interfaces.
    if (!claims.contains("sub") || !claims["sub"].is_string() || claims.value("role", "") != "authenticated"
        || !store_->userExists(claims["sub"].get<std::string>()))
        return std::nullopt;
    return claims["sub"].get<std::string>();
}

bool Server::ownsComputer(const std::string &userId, const std::string &computerId)
{
    const auto computer = store_->computer(computerId);
    return computer && computer->userId == userId;
}

bool Server::isApiKey(const std::string &key) const
{
    return key.size() == anonKey_.size() && CRYPTO_memcmp(key.data(), anonKey_.data(), key.size()) == 0;
}

void Server::run()
{
    http_->listen_after_bind();
}

void Server::stop()
{
    stopping_ = true;
    http_->stop();
}

void Server::dispatch(const httplib::Request &req, httplib::Response &res)
{
    const std::string &path = req.path;
    // Test controls: not logged, never faulted, and only for this machine.
    if (startsWith(path, "/_admin/") || startsWith(path, "/_phone/")) {
        try {
            if (!isLoopback(req.remote_addr))
                throw HttpError{403, {{"error", "only reachable from this machine"}}};
            if (path[2] == 'a')
                handleAdmin(req, res);
            else
                handlePhone(req, res);
        } catch (const HttpError &e) {
            writeJson(res, e.status, e.body);
        } catch (const std::exception &e) {
            std::cerr << "localcloud: " << req.method << ' ' << path << ": " << e.what() << std::endl;
            writeJson(res, 500, {{"error", e.what()}});
        }
        return;
    }

    const std::int64_t seq = log_.record(req, clock_.nowMicros());
    RequestState state;
    std::string faultName;
    if (const auto fault = faults_.take(req.method, req.target)) {
        if (fault->delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
        switch (fault->kind) {
        case FaultRule::Kind::Drop:
        case FaultRule::Kind::Silent:
            dropConnection(req);
            log_.setOutcome(seq, 0, "drop");
            return;
        case FaultRule::Kind::Status:
        case FaultRule::Kind::Malformed:
            res.status = fault->status;
            res.set_content(fault->body, fault->contentType);
            log_.setOutcome(seq, res.status, fault->kind == FaultRule::Kind::Status ? "status" : "malformed");
            return;
        case FaultRule::Kind::Truncate:
            state.truncate = true;
            faultName = "truncate";
            break;
        case FaultRule::Kind::Endless:
        case FaultRule::Kind::Trickle:
            streamWithoutEnd(res, *fault);
            log_.setOutcome(seq, res.status, fault->kind == FaultRule::Kind::Endless ? "endless" : "trickle");
            return;
        case FaultRule::Kind::Delay:
            faultName = "delay";
            break;
        }
    }

    try {
        route(req, res, state);
    } catch (const HttpError &e) {
        writeJson(res, e.status, e.body);
    } catch (const PostgrestError &e) {
        writeJson(res, e.status, e.body());
    } catch (const std::exception &e) {
        std::cerr << "localcloud: " << req.method << ' ' << path << ": " << e.what() << std::endl;
        writeJson(res, 500, {{"message", "An internal error occurred"}});
    }
    if (state.truncate)
        truncateBody(res);
    log_.setOutcome(seq, res.status, faultName);
}

void Server::streamWithoutEnd(httplib::Response &res, const FaultRule &fault)
{
    res.status = fault.status;
    const bool trickle = fault.kind == FaultRule::Kind::Trickle;
    const std::string body = fault.body.empty() ? std::string(" ") : fault.body;
    const int interval = fault.intervalMs;
    // Ends only when the client goes away (a write fails) or the server stops.
    res.set_chunked_content_provider(fault.contentType,
        [this, trickle, body, interval, filler = std::string(64 * 1024, ' '), sent = std::size_t(0)](
            std::size_t, httplib::DataSink &sink) mutable {
            if (stopping_ || !sink.is_writable())
                return false;
            if (trickle) {
                if (sent > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(interval));
                const char byte = body[sent++ % body.size()];
                return sink.write(&byte, 1);
            }
            const std::string &chunk = sent++ == 0 ? body : filler;
            return sink.write(chunk.data(), chunk.size());
        });
}

void Server::route(const httplib::Request &req, httplib::Response &res, RequestState &state)
{
    const std::string &path = req.path;
    const bool read = req.method == "GET" || req.method == "HEAD";
    const bool signedFetch = read && startsWith(path, "/storage/v1/object/sign/");
    const bool api = underPrefix(path, "/auth/v1") || underPrefix(path, "/rest/v1")
        || underPrefix(path, "/functions/v1") || underPrefix(path, "/storage/v1");
    if (api) {
        if (!signedFetch)
            requireApiKey(req);
        if (req.body.size() > maxApiBody)
            throw HttpError{413, {{"message", "Request size limit exceeded"}}};
    }
    if (underPrefix(path, "/auth/v1"))
        handleAuth(req, res);
    else if (underPrefix(path, "/rest/v1"))
        handleRest(req, res);
    else if (underPrefix(path, "/functions/v1"))
        handleFunctions(req, res);
    else if (underPrefix(path, "/storage/v1"))
        handleStorage(req, res, state);
    else if (!handleSite(req, res, state))
        throw HttpError{404, {{"message", "no Route matched with those values"}}};
}

void Server::requireApiKey(const httplib::Request &req) const
{
    std::string key = req.get_header_value("apikey");
    if (key.empty())
        key = req.get_param_value("apikey");
    if (key.empty())
        throw HttpError{401,
            {{"message", "Invalid API key"}, {"hint", "No `apikey` request header or url param was found."}}};
    if (!isApiKey(key))
        throw HttpError{401,
            {{"message", "Invalid API key"},
                {"hint", "Double check your Supabase `anon` or `service_role` API key."}}};
}

std::string Server::requireUser(const httplib::Request &req, Family family)
{
    const std::string header = req.get_header_value("Authorization");
    const bool bearer
        = header.size() > 7 && (header.compare(0, 7, "Bearer ") == 0 || header.compare(0, 7, "bearer ") == 0);
    if (!bearer)
        throw HttpError{401, authFailure(family, JwtSigner::Check::Malformed, true)};
    const auto verified = jwt_->verify(std::string_view(header).substr(7), clock_.nowSeconds());
    if (verified.check != JwtSigner::Check::Valid)
        throw HttpError{401, authFailure(family, verified.check, false)};
    if (std::optional<std::string> user = signedInUser(verified.claims))
        return *user;
    throw HttpError{401, authFailure(family, JwtSigner::Check::Malformed, false)};
}

std::filesystem::path Server::objectPath(const std::string &file) const
{
    return options_.dataDir / "bucket" / "expenses" / file;
}

std::string Server::storeObjectBytes(const std::string &bytes)
{
    // Objects live under generated names, so no key, however hostile, names a real path.
    const std::string file = newUuid();
    const fs::path target = objectPath(file);
    const fs::path temporary = target.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
            throw std::runtime_error("cannot write an object into the bucket folder");
    }
    fs::rename(temporary, target);
    return file;
}

void Server::removeObjectFile(const std::string &file) const
{
    std::error_code ignored;
    fs::remove(objectPath(file), ignored);
}

void Server::streamFile(httplib::Response &res, const std::filesystem::path &file, std::uint64_t size,
    const std::string &contentType, bool truncate)
{
    // Opened now, so a delete arriving mid-download cannot cut the stream.
    auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
    if (!*in)
        throw std::runtime_error("cannot open " + file.string());
    const std::uint64_t limit = truncate ? size / 2 : size;
    res.status = 200;
    res.set_content_provider(static_cast<size_t>(size), contentType,
        [in, limit](size_t offset, size_t length, httplib::DataSink &sink) {
            if (offset >= limit)
                return false;
            static constexpr size_t chunk = 256 * 1024;
            std::vector<char> buffer(std::min<size_t>({chunk, length, limit - offset}));
            in->seekg(static_cast<std::streamoff>(offset));
            in->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const auto got = static_cast<size_t>(in->gcount());
            return got > 0 && sink.write(buffer.data(), got);
        });
}

nlohmann::ordered_json Server::addRow(const std::string &computerId, const std::string &userId,
    const std::string &storagePath, const std::string &originalFilename, const std::string &status,
    std::optional<std::int64_t> createdMicros)
{
    const std::int64_t created = createdMicros.value_or(clock_.nowMicros());
    TransferRow row{newUuid(), computerId, userId, storagePath, originalFilename, status,
        formatTimestamptz(created), std::nullopt, std::nullopt};
    store_->addRow(row, created);
    if (onRowAdded && status == "pending")
        onRowAdded(nlohmann::json::parse(row.toJson().dump()));
    return row.toJson();
}

} // namespace localcloud
