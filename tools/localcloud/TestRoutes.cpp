// What the phone does, the product web site, and the controls tests use to look inside and
// to make things go wrong.
#include "Server.h"

#include <fstream>
#include <sstream>

namespace localcloud {

namespace fs = std::filesystem;

namespace {

constexpr const char *jsonType = "application/json; charset=utf-8";

void reply(httplib::Response &res, int status, const nlohmann::ordered_json &body)
{
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace), jsonType);
}

HttpError badRequest(const std::string &message)
{
    return HttpError{400, {{"error", message}}};
}

nlohmann::json jsonBody(const httplib::Request &req)
{
    auto body = parseJsonBody(req.body);
    if (!body || !body->is_object())
        throw badRequest("the body must be a JSON object");
    return std::move(*body);
}

std::string contentTypeFor(const std::string &name)
{
    const std::string extension = fs::path(name).extension().string();
    std::string lower;
    for (char c : extension)
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (lower == ".pdf")
        return "application/pdf";
    if (lower == ".jpg" || lower == ".jpeg")
        return "image/jpeg";
    if (lower == ".json")
        return "application/json";
    if (lower == ".zip")
        return "application/zip";
    if (lower == ".html")
        return "text/html; charset=utf-8";
    if (lower == ".txt")
        return "text/plain; charset=utf-8";
    return "application/octet-stream";
}

std::string stringField(const nlohmann::json &body, const char *name, bool required)
{
    const auto it = body.find(name);
    if (it == body.end() || it->is_null()) {
        if (required)
            throw badRequest(std::string(name) + " is required");
        return {};
    }
    if (!it->is_string())
        throw badRequest(std::string(name) + " must be a string");
    return it->get<std::string>();
}

// Site paths are resolved inside their folder only; "..", "." and empty segments are refused.
std::optional<std::string> siteRelativePath(const std::string &urlPath)
{
    const std::string key = canonicalObjectKey(urlPath);
    if (key.empty() || keyLeavesBucket(key) || key.find('\0') != std::string::npos)
        return std::nullopt;
    return key;
}

void replaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

void Server::handlePhone(const httplib::Request &req, httplib::Response &res)
{
    const std::int64_t now = clock_.nowMicros();
    if (req.method == "POST" && req.path == "/_phone/pair") {
        const std::string code = stringField(jsonBody(req), "code", true);
        const Store::ClaimResult claim = store_->claimPairingCode(code, now);
        switch (claim.result) {
        case Store::Claim::NotFound:
            throw HttpError{404, {{"error", "unknown pairing code"}}};
        case Store::Claim::Expired:
            throw HttpError{410, {{"error", "pairing code expired"}}};
        case Store::Claim::AlreadyClaimed:
            throw HttpError{409, {{"error", "pairing code already used"}}};
        case Store::Claim::Claimed:
            break;
        }
        nlohmann::ordered_json out;
        out["userId"] = *claim.computer->phoneUserId;
        out["computerId"] = claim.computer->id;
        out["computerName"] = claim.computer->name;
        out["targetFolderName"] = claim.computer->targetFolderName;
        reply(res, 200, out);
        return;
    }

    if (req.method == "POST" && req.path == "/_phone/documents") {
        std::optional<ComputerRecord> computer;
        if (req.has_param("computerId")) {
            computer = store_->computer(req.get_param_value("computerId"));
        } else if (req.has_param("code")) {
            // Sending with a code claims it first when nobody has yet, as the phone would.
            const std::string code = req.get_param_value("code");
            store_->claimPairingCode(code, now);
            computer = store_->computerForCode(code);
        } else {
            throw badRequest("computerId or code is required");
        }
        if (!computer)
            throw HttpError{404, {{"error", "unknown computer or pairing code"}}};
        const std::string name = req.get_param_value("name");
        if (name.empty())
            throw badRequest("name is required");
        std::string safeName = name;
        for (char &c : safeName) {
            if (c == '/' || c == '\0')
                c = '_';
        }
        const std::string userId = store_->phoneUserFor(computer->id, now);
        const std::string storagePath = userId + "/" + newUuid() + "/" + safeName;
        const std::string type
            = req.has_param("contentType") ? req.get_param_value("contentType") : contentTypeFor(name);
        const std::string file = storeObjectBytes(req.body);
        if (const auto previous = store_->putObject({canonicalObjectKey(storagePath), file, type, userId,
                static_cast<std::int64_t>(req.body.size()), formatTimestamptz(now)}))
            removeObjectFile(*previous);
        reply(res, 201, addRow(computer->id, userId, storagePath, name, "pending", std::nullopt));
        return;
    }

    if (req.method == "POST" && req.path == "/_phone/enqueue") {
        const nlohmann::json body = jsonBody(req);
        const std::string computerId = stringField(body, "computerId", true);
        if (!store_->computer(computerId))
            throw HttpError{404, {{"error", "unknown computer"}}};
        const std::string storagePath = stringField(body, "storagePath", true);
        const std::string originalFilename = stringField(body, "originalFilename", true);
        std::string status = stringField(body, "status", false);
        if (status.empty())
            status = "pending";
        std::string userId = stringField(body, "userId", false);
        if (userId.empty())
            userId = store_->phoneUserFor(computerId, now);
        std::optional<std::int64_t> created;
        if (const std::string text = stringField(body, "createdAt", false); !text.empty()) {
            created = parseTimestamp(text);
            if (!created)
                throw badRequest("createdAt must be an ISO 8601 date and time");
        }
        if (body.contains("content") && !body["content"].is_null()) {
            if (!body["content"].is_string())
                throw badRequest("content must be base64 text");
            const auto bytes = base64Decode(body["content"].get<std::string>());
            if (!bytes)
                throw badRequest("content must be base64 text");
            std::string type = stringField(body, "contentType", false);
            if (type.empty())
                type = contentTypeFor(originalFilename);
            const std::string file = storeObjectBytes(*bytes);
            if (const auto previous = store_->putObject({canonicalObjectKey(storagePath), file, type, userId,
                    static_cast<std::int64_t>(bytes->size()), formatTimestamptz(now)}))
                removeObjectFile(*previous);
        }
        reply(res, 201, addRow(computerId, userId, storagePath, originalFilename, status, created));
        return;
    }
    throw HttpError{404, {{"error", "no such phone operation"}}};
}

void Server::handleAdmin(const httplib::Request &req, httplib::Response &res)
{
    const std::string &path = req.path;
    const std::string &method = req.method;
    if (method == "GET" && path == "/_admin/info") {
        reply(res, 200, nlohmann::ordered_json::parse(readyInfo().dump()));
    } else if (method == "GET" && path == "/_admin/rows") {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const TransferRow &row : store_->allRows())
            out.push_back(row.toJson());
        reply(res, 200, out);
    } else if (method == "GET" && path == "/_admin/objects") {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const ObjectRecord &o : store_->allObjects()) {
            nlohmann::ordered_json item;
            item["name"] = o.name;
            item["size"] = o.size;
            item["mimetype"] = o.mimetype;
            item["owner"] = o.owner;
            item["createdAt"] = o.createdAt;
            out.push_back(item);
        }
        reply(res, 200, out);
    } else if (method == "GET" && path == "/_admin/computers") {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const ComputerRecord &c : store_->computers()) {
            nlohmann::ordered_json item;
            item["id"] = c.id;
            item["userId"] = c.userId;
            item["name"] = c.name;
            item["targetFolderName"] = c.targetFolderName;
            item["phoneUserId"] = c.phoneUserId ? nlohmann::ordered_json(*c.phoneUserId) : nullptr;
            out.push_back(item);
        }
        reply(res, 200, out);
    } else if (method == "GET" && path == "/_admin/pairing-codes") {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const Store::PairingCodeRecord &p : store_->pairingCodes()) {
            nlohmann::ordered_json item;
            item["code"] = p.code;
            item["computerId"] = p.computerId;
            item["createdAt"] = formatTimestamptz(p.createdMicros);
            item["expiresAt"] = formatTimestamptz(p.expiresMicros);
            item["claimed"] = p.claimed;
            out.push_back(item);
        }
        reply(res, 200, out);
    } else if (method == "GET" && path == "/_admin/log") {
        std::int64_t since = 0;
        if (req.has_param("since")) {
            try {
                since = std::stoll(req.get_param_value("since"));
            } catch (const std::exception &) {
                throw badRequest("since must be a number");
            }
        }
        reply(res, 200,
            nlohmann::ordered_json::parse(
                log_.entries(since).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
    } else if (method == "DELETE" && path == "/_admin/log") {
        log_.clear();
        res.status = 204;
    } else if (method == "GET" && path == "/_admin/realtime") {
        reply(res, 200, nlohmann::ordered_json::parse(describeRealtime ? describeRealtime().dump() : "{}"));
    } else if (method == "POST" && path == "/_admin/realtime/drop") {
        if (dropRealtime)
            dropRealtime();
        res.status = 204;
    } else if (method == "POST" && path == "/_admin/faults") {
        try {
            const int id = faults_.add(faultFromJson(jsonBody(req)));
            reply(res, 201, {{"id", id}});
        } catch (const std::invalid_argument &e) {
            throw badRequest(e.what());
        }
    } else if (method == "GET" && path == "/_admin/faults") {
        reply(res, 200, nlohmann::ordered_json::parse(faults_.describe().dump()));
    } else if (method == "DELETE" && path == "/_admin/faults") {
        faults_.clear();
        res.status = 204;
    } else if (path == "/_admin/token-lifetime" && (method == "GET" || method == "PUT")) {
        if (method == "PUT") {
            const nlohmann::json body = jsonBody(req);
            if (!body.contains("seconds") || !body["seconds"].is_number_integer()
                || body["seconds"].get<long long>() < 1 || body["seconds"].get<long long>() > 100000000)
                throw badRequest("seconds must be a whole number from 1 to 100000000");
            tokenLifetime_ = body["seconds"].get<int>();
        }
        reply(res, 200, {{"seconds", tokenLifetime_.load()}});
    } else if (path == "/_admin/clock" && (method == "GET" || method == "PUT")) {
        if (method == "PUT") {
            const nlohmann::json body = jsonBody(req);
            if (!body.contains("offsetSeconds") || !body["offsetSeconds"].is_number_integer())
                throw badRequest("offsetSeconds must be a whole number");
            clock_.setOffsetSeconds(body["offsetSeconds"].get<std::int64_t>());
        }
        reply(res, 200,
            {{"offsetSeconds", clock_.offsetSeconds()}, {"now", formatTimestamptz(clock_.nowMicros())}});
    } else if (method == "PUT" && path == "/_admin/watched-folder") {
        const nlohmann::json body = jsonBody(req);
        const auto folder = body.find("path");
        if (folder == body.end() || !folder->is_string())
            throw badRequest("path must be a string");
        std::lock_guard lock(watchMutex_);
        watchedFolder_ = fs::path(folder->get<std::string>());
        res.status = 204;
    } else if (method == "GET" && path == "/_admin/acknowledgements") {
        std::lock_guard lock(watchMutex_);
        reply(res, 200, acknowledgements_);
    } else if (path.rfind("/_admin/site/", 0) == 0 && (method == "PUT" || method == "DELETE")) {
        const auto relative = siteRelativePath(path.substr(std::string("/_admin/site/").size()));
        if (!relative)
            throw badRequest("the site path must stay inside the site");
        const fs::path target = options_.dataDir / "site-overlay" / *relative;
        if (method == "DELETE") {
            std::error_code ignored;
            fs::remove(target, ignored);
            res.status = 204;
            return;
        }
        fs::create_directories(target.parent_path());
        const fs::path temporary = target.string() + ".tmp";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out.write(req.body.data(), static_cast<std::streamsize>(req.body.size()));
            if (!out.flush())
                throw std::runtime_error("cannot write " + temporary.string());
        }
        fs::rename(temporary, target);
        reply(res, 201, {{"path", "/" + *relative}, {"size", req.body.size()}});
    } else {
        throw HttpError{404, {{"error", "no such admin operation"}}};
    }
}

bool Server::handleSite(const httplib::Request &req, httplib::Response &res, RequestState &state)
{
    if (req.method != "GET" && req.method != "HEAD")
        return false;
    const auto relative = siteRelativePath(req.path);
    if (!relative)
        return false;

    std::vector<fs::path> roots{options_.dataDir / "site-overlay"};
    if (options_.siteDir)
        roots.push_back(*options_.siteDir);
    roots.push_back(options_.dataDir / "site");
    for (const fs::path &root : roots) {
        const fs::path file = root / *relative;
        std::error_code error;
        if (!fs::is_regular_file(file, error))
            continue;
        const std::string type = contentTypeFor(*relative);
        if (type != "application/json") {
            streamFile(res, file, fs::file_size(file), type, state.truncate);
            state.truncate = false;
            return true;
        }
        // JSON documents may name this server, whose port is only known once it runs.
        std::ifstream in(file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string body = text.str();
        replaceAll(body, "{{baseURL}}", baseUrl_);
        replaceAll(body, "{{anonKey}}", anonKey_);
        res.status = 200;
        res.set_content(body, jsonType);
        return true;
    }

    if (*relative == "config/cloud.json") {
        nlohmann::ordered_json doc;
        doc["supabaseUrl"] = baseUrl_;
        doc["supabaseAnonKey"] = anonKey_;
        doc["revision"] = 1;
        reply(res, 200, doc);
        return true;
    }
    if (*relative == "updates/macos.json") {
        // Offers nothing newer than any real build until a test or the demo puts its own manifest.
        nlohmann::ordered_json doc;
        doc["version"] = "0.0.0";
        doc["macUniversalUrl"] = baseUrl_ + "/updates/Tarvolin.zip";
        doc["macUniversalSha256"] = sha256Hex("");
        reply(res, 200, doc);
        return true;
    }
    return false;
}

} // namespace localcloud

namespace localcloud {

namespace {

std::optional<std::string> readWhole(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return bytes.str();
}

} // namespace

// Runs inside the PATCH, before its answer leaves: the row may only be marked downloaded once the
// named file holds the object's bytes, and the object must still be there to compare with.
void Server::checkAcknowledgements(const std::vector<TransferRow> &rows)
{
    std::lock_guard lock(watchMutex_);
    if (!watchedFolder_)
        return;
    for (const TransferRow &row : rows) {
        if (row.status != "downloaded" || !row.downloadedFilename)
            continue;
        const std::string &name = *row.downloadedFilename;
        nlohmann::ordered_json entry;
        entry["rowId"] = row.id;
        entry["storagePath"] = row.storagePath;
        entry["downloadedFilename"] = name;
        entry["timeMicros"] = clock_.nowMicros();
        std::optional<std::string> saved;
        if (!name.empty() && name.find('/') == std::string::npos && name != "." && name != "..")
            saved = readWhole(*watchedFolder_ / name);
        std::optional<std::string> original;
        if (const auto object = store_->object(canonicalObjectKey(row.storagePath)))
            original = readWhole(objectPath(object->file));
        entry["fileFound"] = saved.has_value();
        entry["objectFound"] = original.has_value();
        entry["matches"] = saved && original && sha256Hex(*saved) == sha256Hex(*original);
        acknowledgements_.push_back(entry);
    }
}

} // namespace localcloud
