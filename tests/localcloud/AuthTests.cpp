#include "CloudFixture.h"

using nlohmann::json;

TEST_F(CloudTest, RefreshRotatesAndASpentTokenEndsTheSession)
{
    const Session first = signUp();
    const std::string path = "/auth/v1/token?grant_type=refresh_token";
    const auto refreshed = api("POST", path, json{{"refresh_token", first.refreshToken}}.dump());
    ASSERT_EQ(refreshed.status, 200) << refreshed.body;
    const json second = json::parse(refreshed.body);
    EXPECT_EQ(second.at("user").at("id"), first.userId);
    EXPECT_NE(second.at("refresh_token"), first.refreshToken);

    const auto reused = api("POST", path, json{{"refresh_token", first.refreshToken}}.dump());
    EXPECT_EQ(reused.status, 400);
    EXPECT_EQ(parsed(reused).at("error_code"), "refresh_token_already_used");
    // Reuse means the token leaked: its successor is revoked as well.
    const auto successor = api("POST", path, json{{"refresh_token", second.at("refresh_token")}}.dump());
    EXPECT_EQ(successor.status, 400);

    const auto unknown = api("POST", path, R"({"refresh_token":"nope"})");
    EXPECT_EQ(unknown.status, 400);
    EXPECT_EQ(parsed(unknown).at("error_code"), "refresh_token_not_found");
    EXPECT_TRUE(parsed(unknown).at("msg").is_string());
}

TEST_F(CloudTest, EveryBackendCallNeedsTheRightApiKey)
{
    const Session session = signUp();
    for (const auto &[method, path] : std::vector<std::pair<std::string, std::string>>{
             {"POST", "/auth/v1/signup"}, {"GET", listingPath("00000000-0000-0000-0000-000000000000")},
             {"POST", "/functions/v1/create-pairing"}, {"POST", "/storage/v1/object/sign/expenses/a/b.pdf"},
             {"DELETE", "/storage/v1/object/expenses"}}) {
        for (const std::string key : {"", "sb_publishable_wrong"}) {
            std::multimap<std::string, std::string> headers{
                {"Authorization", "Bearer " + session.accessToken}};
            if (!key.empty())
                headers.emplace("apikey", key);
            const auto response = cloud.request(method, path, "{}", headers);
            EXPECT_EQ(response.status, 401) << method << ' ' << path;
            EXPECT_EQ(parsed(response).at("message"), "Invalid API key") << method << ' ' << path;
            EXPECT_TRUE(parsed(response).contains("hint"));
        }
    }
}

TEST_F(CloudTest, DataCallsNeedAValidUnexpiredToken)
{
    const Paired paired = pair();
    const std::string listing = listingPath(paired.computerId);
    const std::string sign = "/storage/v1/object/sign/expenses/a.pdf";
    const std::string pairing = "/functions/v1/create-pairing";
    const std::string body = R"({"computerName":"Mac","targetFolderName":"Gider"})";

    // Missing, forged and expired tokens, each answered in its interface's own shape.
    EXPECT_EQ(api("GET", listing).status, 401);
    EXPECT_EQ(parsed(api("GET", listing)).at("code"), "PGRST301");
    EXPECT_EQ(api("POST", pairing, body).status, 401);
    EXPECT_EQ(api("POST", sign, R"({"expiresIn":120})").status, 401);

    // The signature's first character: its last one carries padding bits a decoder may ignore.
    std::string forged = paired.session.accessToken;
    char &signed0 = forged[forged.rfind('.') + 1];
    signed0 = signed0 == 'A' ? 'B' : 'A';
    EXPECT_EQ(api("GET", listing, {}, forged).status, 401);
    EXPECT_EQ(api("GET", listing, {}, "not-a-jwt").status, 401);

    cloud.setClockOffset(std::chrono::seconds(3601));
    const auto expired = api("GET", listing, {}, paired.session.accessToken);
    EXPECT_EQ(expired.status, 401);
    EXPECT_EQ(parsed(expired).at("message"), "JWT expired");
    EXPECT_EQ(parsed(api("POST", sign, R"({"expiresIn":120})", paired.session.accessToken)).at("message"),
        "jwt expired");
    EXPECT_EQ(parsed(api("POST", pairing, body, paired.session.accessToken)).at("message"), "JWT expired");
}

TEST_F(CloudTest, TokenLifetimeCanBeShortenedForTests)
{
    cloud.setTokenLifetime(2);
    const auto response = api("POST", "/auth/v1/signup", R"({"data":{}})");
    EXPECT_EQ(parsed(response).at("expires_in"), 2);
    const std::string token = parsed(response).at("access_token");
    const std::string path = listingPath("00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(api("GET", path, {}, token).status, 200);
    cloud.setClockOffset(std::chrono::seconds(3));
    EXPECT_EQ(api("GET", path, {}, token).status, 401);
}

TEST(LocalCloudProcess, StateSurvivesARestart)
{
    LocalCloud cloud;
    const std::string key = cloud.anonKey();
    const std::string url = cloud.baseUrl();
    const auto signUp = cloud.request("POST", "/auth/v1/signup", R"({"data":{}})", {{"apikey", key}});
    ASSERT_EQ(signUp.status, 200);
    const std::string token = nlohmann::json::parse(signUp.body).at("access_token");
    const auto pairing = cloud.request("POST", "/functions/v1/create-pairing",
        R"({"computerName":"Mac","targetFolderName":"Gider"})",
        {{"apikey", key}, {"Authorization", "Bearer " + token}});
    const std::string computerId = nlohmann::json::parse(pairing.body).at("computerId");
    cloud.sendDocument(computerId, "a.pdf", "%PDF-1.4");

    cloud.restart();
    EXPECT_EQ(cloud.anonKey(), key);
    EXPECT_EQ(cloud.baseUrl(), url);
    ASSERT_EQ(cloud.rows().size(), 1u);
    ASSERT_EQ(cloud.objects().size(), 1u);
    // The old session still opens the data: the signing secret persisted too.
    const auto listing = cloud.request("GET", "/rest/v1/transfer_items?computer_id=eq." + computerId, {},
        {{"apikey", key}, {"Authorization", "Bearer " + token}});
    EXPECT_EQ(listing.status, 200);
    EXPECT_EQ(nlohmann::json::parse(listing.body).size(), 1u);
}
