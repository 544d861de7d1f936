// The cloud connection against the local cloud: sign-up, a stored session shared by a second model,
// refresh after expiry, refresh-token rotation, and the official configuration document.

#include "LocalCloud.h"
#include "tests/cloud/CloudTestSupport.h"

#include <gtest/gtest.h>

namespace {

class CloudEndToEndTest : public ::testing::Test
{
protected:
    CloudEndToEndTest()
        : services(QtHttpClient::loadAuthorities(QString::fromStdString(cloud.caCertPath()))),
          build(testBuildValues(QString::fromStdString(cloud.baseUrl()), QString::fromStdString(cloud.anonKey()),
                                QString::fromStdString(cloud.siteUrl())))
    {
    }

    int count(const std::string &method, const std::string &path)
    {
        int n = 0;
        for (const auto &request : cloud.requestLog())
            n += request.method == method && request.path == path ? 1 : 0;
        return n;
    }

    LocalCloud cloud;
    TestServices services;
    BuildValues build;
};

TEST_F(CloudEndToEndTest, SignUpReuseRefreshAndRotation)
{
    AppModel first(services.services(), build);
    const auto signedUp = settle(Cloud::ensureSession(first));
    ASSERT_FALSE(signedUp.error) << signedUp.message().toStdString();
    EXPECT_EQ(count("POST", "/auth/v1/signup"), 1);
    EXPECT_FALSE(signedUp.value->userId.isEmpty());
    const auto log = cloud.requestLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().header("apikey"), cloud.anonKey());
    EXPECT_FALSE(log.back().hasHeader("authorization"));

    // A second instance finds the stored session and sends nothing.
    AppModel second(services.services(), build);
    const auto reused = settle(Cloud::ensureSession(second));
    ASSERT_FALSE(reused.error) << reused.message().toStdString();
    EXPECT_EQ(reused.value, signedUp.value);
    EXPECT_EQ(cloud.requestLog().size(), log.size());

    // Past its expiry the second one refreshes: same user, new tokens.
    services.clock.current = services.clock.current.addSecs(3600);
    cloud.setClockOffset(std::chrono::seconds(3600));
    const auto refreshed = settle(Cloud::ensureSession(second));
    ASSERT_FALSE(refreshed.error) << refreshed.message().toStdString();
    EXPECT_EQ(count("POST", "/auth/v1/token?grant_type=refresh_token"), 1);
    EXPECT_EQ(refreshed.value->userId, signedUp.value->userId);
    EXPECT_NE(refreshed.value->accessToken, signedUp.value->accessToken);
    EXPECT_NE(refreshed.value->refreshToken, signedUp.value->refreshToken);

    // The first still holds the rotated-out refresh token; its refusal ends silently in a new user.
    const auto replaced = settle(Cloud::ensureSession(first));
    ASSERT_FALSE(replaced.error) << replaced.message().toStdString();
    EXPECT_EQ(count("POST", "/auth/v1/token?grant_type=refresh_token"), 2);
    EXPECT_EQ(count("POST", "/auth/v1/signup"), 2);
    EXPECT_NE(replaced.value->userId, signedUp.value->userId);
}

TEST_F(CloudEndToEndTest, TheOfficialDocumentOfTheWebSiteIsApplied)
{
    const std::string key = "sb_publishable_" + std::string(31, 'q');
    cloud.putSiteFile("/config/cloud.json", R"({"supabaseUrl":")" + cloud.baseUrl() + R"(/","supabaseAnonKey":")"
                                                + key + R"(","revision":4})");
    AppModel model(services.services(), testBuildValues({}, {}, QString::fromStdString(cloud.siteUrl())));
    ASSERT_FALSE(settleVoid(Cloud::loadOfficial(model)));
    EXPECT_EQ(model.supabaseURL(), QString::fromStdString(cloud.baseUrl()));
    EXPECT_EQ(model.anonKey(), QString::fromStdString(key));
    EXPECT_TRUE(model.isConfigured());
}

} // namespace
