#include "CloudFixture.h"

using nlohmann::json;

TEST_F(CloudTest, PhoneSendsByCodeAndRefusesWhatItCannotPlace)
{
    const Paired paired = pair();
    const auto byCode
        = cloud.request("POST", "/_phone/documents?code=" + paired.code + "&name=a%2Fb.pdf", "%PDF-1.4");
    ASSERT_EQ(byCode.status, 201) << byCode.body;
    const json row = json::parse(byCode.body);
    EXPECT_EQ(row.at("computer_id"), paired.computerId);
    EXPECT_EQ(row.at("original_filename"), "a/b.pdf");
    const std::string path = row.at("storage_path");
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "a_b.pdf") << "a name never adds folders to the path";
    EXPECT_THROW(cloud.claimPairing(paired.code), std::runtime_error) << "sending claimed the code";

    EXPECT_EQ(cloud.request("POST", "/_phone/documents?computerId=nope&name=a.pdf", "x").status, 404);
    EXPECT_EQ(cloud.request("POST", "/_phone/documents?computerId=" + paired.computerId, "x").status, 400);
    const auto badBase64 = cloud.request("POST", "/_phone/enqueue",
        json{{"computerId", paired.computerId}, {"storagePath", "a"}, {"originalFilename", "a.pdf"},
            {"content", "***"}}
            .dump());
    EXPECT_EQ(badBase64.status, 400);
    EXPECT_THROW(cloud.claimPairing("NOSUCHCODE"), std::runtime_error);
}

TEST_F(CloudTest, RequestLogKeepsWhatWasSentAndNothingOfTheControls)
{
    cloud.rows();
    const auto sent = api("POST", "/auth/v1/signup", R"({"data":{}})");
    cloud.request("GET", "/config/cloud.json?x=%20y");
    const auto log = cloud.requestLog();
    ASSERT_EQ(log.size(), 2u) << "test controls are not logged";
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].path, "/auth/v1/signup");
    EXPECT_EQ(log[0].header("APIKEY"), cloud.anonKey());
    EXPECT_EQ(log[0].header("content-type"), "application/json");
    EXPECT_FALSE(log[0].hasHeader("authorization"));
    EXPECT_EQ(log[0].body, R"({"data":{}})");
    EXPECT_EQ(log[0].status, 200);
    EXPECT_EQ(log[1].path, "/config/cloud.json?x=%20y") << "path and query as sent";

    cloud.clearLog();
    EXPECT_TRUE(cloud.requestLog().empty());
}
