#pragma once

#include "LocalCloud.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

// A started server plus the calls the application makes, with the headers it sends.
class CloudTest : public ::testing::Test
{
protected:
    struct Session {
        std::string accessToken;
        std::string refreshToken;
        std::string userId;
    };
    struct Paired {
        Session session;
        std::string computerId;
        std::string code;
    };

    static nlohmann::json parsed(const LocalCloud::Response &response)
    {
        return nlohmann::json::parse(response.body, nullptr, false);
    }

    // A backend call as the application sends it: apikey, JSON content type, optional bearer.
    LocalCloud::Response api(const std::string &method, const std::string &path, const std::string &body = {},
        const std::string &token = {}, const std::string &prefer = {})
    {
        std::multimap<std::string, std::string> headers{
            {"apikey", cloud.anonKey()}, {"Content-Type", "application/json"}};
        if (!token.empty())
            headers.emplace("Authorization", "Bearer " + token);
        if (!prefer.empty())
            headers.emplace("Prefer", prefer);
        return cloud.request(method, path, body, headers);
    }

    Session signUp()
    {
        const auto response = api("POST", "/auth/v1/signup", R"({"data":{}})");
        EXPECT_EQ(response.status, 200) << response.body;
        const auto j = parsed(response);
        return Session{j.at("access_token"), j.at("refresh_token"), j.at("user").at("id")};
    }

    Paired pair()
    {
        Paired out{signUp(), {}, {}};
        const auto response = api("POST", "/functions/v1/create-pairing",
            R"({"computerName":"Mac","targetFolderName":"Gider"})", out.session.accessToken);
        EXPECT_EQ(response.status, 200) << response.body;
        const auto j = parsed(response);
        out.computerId = j.at("computerId");
        out.code = j.at("code");
        return out;
    }

    static std::string listingPath(const std::string &computerId, int limit = 500)
    {
        return "/rest/v1/transfer_items?computer_id=eq." + computerId
            + "&status=eq.pending&select=id,storage_path,original_filename&order=created_at.asc&limit="
            + std::to_string(limit);
    }

    // The path segment escaping the application uses for storage paths.
    static std::string escapePath(const std::string &storagePath);

    LocalCloud cloud;
};
