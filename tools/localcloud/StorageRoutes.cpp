// The storage interface of the "expenses" bucket: signing, signed fetches and deletion.
#include "Server.h"

namespace localcloud {

namespace {

constexpr const char *bucket = "expenses";
constexpr std::int64_t maxLinkLifetime = 10LL * 365 * 24 * 3600;

HttpError storageError(
    int httpStatus, const std::string &statusCode, const std::string &error, const std::string &message)
{
    return HttpError{httpStatus, {{"statusCode", statusCode}, {"error", error}, {"message", message}}};
}

// The real service answers most refusals with 400 and puts the meaning in statusCode.
HttpError notFound()
{
    return storageError(400, "404", "not_found", "Object not found");
}

struct BucketPath {
    std::string bucket;
    std::string key; // canonical
};

// Splits "<bucket>/<key>" (already percent-decoded once) and refuses keys that leave the bucket.
BucketPath splitBucketPath(const std::string &rest)
{
    const size_t slash = rest.find('/');
    BucketPath out{
        rest.substr(0, slash), slash == std::string::npos ? "" : canonicalObjectKey(rest.substr(slash + 1))};
    if (out.bucket != bucket)
        throw storageError(400, "404", "Bucket not found", "Bucket not found");
    if (out.key.empty())
        throw storageError(400, "400", "InvalidKey", "Invalid key: the object name is empty");
    if (keyLeavesBucket(out.key))
        throw storageError(400, "400", "InvalidKey", "Invalid key: " + out.key);
    return out;
}

nlohmann::json objectJson(const ObjectRecord &o)
{
    return {{"name", o.name}, {"bucket_id", bucket}, {"owner", o.owner}, {"id", o.file},
        {"updated_at", o.createdAt}, {"created_at", o.createdAt}, {"last_accessed_at", o.createdAt},
        {"metadata", {{"size", o.size}, {"mimetype", o.mimetype}}}};
}

} // namespace

void Server::handleStorage(const httplib::Request &req, httplib::Response &res, RequestState &state)
{
    static const std::string signPrefix = "/storage/v1/object/sign/";
    const std::string &path = req.path;

    if ((req.method == "GET" || req.method == "HEAD") && path.rfind(signPrefix, 0) == 0) {
        const BucketPath where = splitBucketPath(path.substr(signPrefix.size()));
        if (!req.has_param("token"))
            throw storageError(400, "400", "Bad Request", "querystring must have required property 'token'");
        const auto verified = jwt_->verify(req.get_param_value("token"), clock_.nowSeconds());
        if (verified.check == JwtSigner::Check::Expired)
            throw storageError(400, "400", "InvalidJWT", "jwt expired");
        if (verified.check != JwtSigner::Check::Valid)
            throw storageError(400, "400", "InvalidSignature", "The signature is invalid");
        const auto url = verified.claims.find("url");
        if (url == verified.claims.end() || *url != where.bucket + "/" + where.key)
            throw storageError(400, "400", "InvalidSignature", "The url do not match the signature");
        const auto object = store_->object(where.key);
        if (!object)
            throw notFound();
        streamFile(res, objectPath(object->file), static_cast<std::uint64_t>(object->size), object->mimetype,
            state.truncate);
        state.truncate = false; // already cut in the stream itself
        return;
    }

    if (req.method == "POST" && path.rfind(signPrefix, 0) == 0) {
        const std::string userId = requireUser(req, Family::Storage);
        const BucketPath where = splitBucketPath(path.substr(signPrefix.size()));
        const auto body = parseJsonBody(req.body);
        if (!body || !body->is_object())
            throw storageError(400, "400", "Bad Request",
                "Body cannot be empty when content-type is set to 'application/json'");
        const auto expiresIn = body->find("expiresIn");
        if (expiresIn == body->end())
            throw storageError(400, "400", "Bad Request", "body must have required property 'expiresIn'");
        if (!expiresIn->is_number_integer())
            throw storageError(400, "400", "Bad Request", "body/expiresIn must be integer");
        const auto seconds = expiresIn->get<std::int64_t>();
        if (seconds < 1 || seconds > maxLinkLifetime)
            throw storageError(
                400, "400", "Bad Request", "body/expiresIn must be >= 1 and at most ten years");
        if (!store_->objectVisibleTo(userId, where.key))
            throw notFound();
        const std::int64_t now = clock_.nowSeconds();
        const std::string token
            = jwt_->sign({{"url", where.bucket + "/" + where.key}, {"iat", now}, {"exp", now + seconds}});
        // The key is escaped here so names holding "%", "?" or "#" come back to the same object.
        const nlohmann::json out = {{"signedURL",
            "/object/sign/" + where.bucket + "/" + encodeObjectKey(where.key) + "?token=" + token}};
        res.status = 200;
        res.set_content(out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
            "application/json; charset=utf-8");
        return;
    }

    if (req.method == "DELETE" && (path == "/storage/v1/object/" + std::string(bucket))) {
        const std::string userId = requireUser(req, Family::Storage);
        const auto body = parseJsonBody(req.body);
        if (!body || !body->is_object() || !body->contains("prefixes"))
            throw storageError(400, "400", "Bad Request", "body must have required property 'prefixes'");
        const nlohmann::json &prefixes = (*body)["prefixes"];
        if (!prefixes.is_array() || prefixes.empty() || prefixes.size() > 1000)
            throw storageError(
                400, "400", "Bad Request", "body/prefixes must be an array of 1 to 1000 names");
        std::vector<std::string> keys;
        for (const auto &prefix : prefixes) {
            if (!prefix.is_string())
                throw storageError(400, "400", "Bad Request", "body/prefixes must be an array of strings");
            const std::string key = canonicalObjectKey(prefix.get<std::string>());
            if (keyLeavesBucket(key))
                throw storageError(400, "400", "InvalidKey", "Invalid key: " + key);
            keys.push_back(key);
        }
        nlohmann::json removed = nlohmann::json::array();
        for (const std::string &key : keys) {
            // Objects the caller may not see are left alone and not mentioned, as the real service does.
            if (!store_->objectVisibleTo(userId, key))
                continue;
            if (const auto object = store_->removeObject(key)) {
                removeObjectFile(object->file);
                removed.push_back(objectJson(*object));
            }
        }
        res.status = 200;
        res.set_content(removed.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
            "application/json; charset=utf-8");
        return;
    }

    throw storageError(404, "404", "Not Found", "Route " + req.method + ":" + path + " not found");
}

} // namespace localcloud
