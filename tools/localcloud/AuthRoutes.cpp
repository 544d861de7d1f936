#include "Server.h"

namespace localcloud {

namespace {

HttpError authError(int status, const std::string &code, const std::string &message)
{
    return HttpError{status, {{"code", status}, {"error_code", code}, {"msg", message}}};
}

nlohmann::json authBody(const std::string &body)
{
    auto json = parseJsonBody(body);
    if (!json || !json->is_object())
        throw authError(400, "bad_json", "Could not parse request body as JSON");
    return std::move(*json);
}

} // namespace

nlohmann::json Server::sessionJson(
    const std::string &userId, const std::string &sessionId, const std::string &refreshToken)
{
    const std::int64_t now = clock_.nowSeconds();
    const int lifetime = tokenLifetime_;
    const std::string accessToken = jwt_->sign({{"iss", baseUrl_ + "/auth/v1"}, {"sub", userId},
        {"aud", "authenticated"}, {"exp", now + lifetime}, {"iat", now}, {"role", "authenticated"},
        {"aal", "aal1"}, {"session_id", sessionId}, {"is_anonymous", true}});
    const std::string stamp = formatTimestamptz(clock_.nowMicros());
    return {{"access_token", accessToken}, {"token_type", "bearer"}, {"expires_in", lifetime},
        {"expires_at", now + lifetime}, {"refresh_token", refreshToken},
        {"user",
            {{"id", userId}, {"aud", "authenticated"}, {"role", "authenticated"}, {"email", ""},
                {"phone", ""}, {"app_metadata", nlohmann::json::object()},
                {"user_metadata", nlohmann::json::object()}, {"identities", nlohmann::json::array()},
                {"created_at", stamp}, {"updated_at", stamp}, {"is_anonymous", true}}}};
}

void Server::handleAuth(const httplib::Request &req, httplib::Response &res)
{
    const std::int64_t now = clock_.nowMicros();
    if (req.method == "POST" && req.path == "/auth/v1/signup") {
        const nlohmann::json body = authBody(req.body);
        for (const char *key : {"email", "phone", "password"}) {
            if (body.contains(key) && !body[key].is_null())
                throw authError(422, "validation_failed", "Only anonymous sign-ups are enabled");
        }
        if (body.contains("data") && !body["data"].is_object() && !body["data"].is_null())
            throw authError(400, "bad_json", "Could not parse request body as JSON: data must be an object");
        const std::string userId = store_->createUser("anonymous", now);
        const std::string sessionId = newUuid();
        const std::string refreshToken = randomAlphanumeric(40);
        store_->addRefreshToken(refreshToken, userId, sessionId, now);
        res.status = 200;
        res.set_content(
            sessionJson(userId, sessionId, refreshToken).dump(), "application/json; charset=utf-8");
        return;
    }
    if (req.method == "POST" && req.path == "/auth/v1/token") {
        if (req.get_param_value("grant_type") != "refresh_token")
            throw authError(400, "validation_failed", "unsupported_grant_type");
        const nlohmann::json body = authBody(req.body);
        const auto token = body.find("refresh_token");
        if (token == body.end() || token->is_null())
            throw authError(400, "refresh_token_not_found", "Invalid Refresh Token: Refresh Token Not Found");
        if (!token->is_string())
            throw authError(
                400, "bad_json", "Could not parse request body as JSON: refresh_token must be a string");
        const std::string replacement = randomAlphanumeric(40);
        const Store::Rotation rotation
            = store_->rotateRefreshToken(token->get<std::string>(), replacement, now);
        if (rotation.result == Store::Refresh::NotFound)
            throw authError(400, "refresh_token_not_found", "Invalid Refresh Token: Refresh Token Not Found");
        if (rotation.result == Store::Refresh::AlreadyUsed)
            throw authError(400, "refresh_token_already_used", "Invalid Refresh Token: Already Used");
        res.status = 200;
        res.set_content(sessionJson(rotation.userId, rotation.sessionId, replacement).dump(),
            "application/json; charset=utf-8");
        return;
    }
    throw authError(404, "not_found", "Not Found");
}

} // namespace localcloud
