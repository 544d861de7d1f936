#include "CloudFixture.h"

using nlohmann::json;

namespace {

std::string signedPath(const LocalCloud::Response &response)
{
    return "/storage/v1" + nlohmann::json::parse(response.body).at("signedURL").get<std::string>();
}

} // namespace

TEST_F(CloudTest, SignedLinksExpireAndCannotBeBent)
{
    const Paired paired = pair();
    const auto row = cloud.sendDocument(paired.computerId, "a.pdf", "%PDF-1.4 a");
    cloud.sendDocument(paired.computerId, "b.pdf", "%PDF-1.4 b");
    const std::string signPath = "/storage/v1/object/sign/expenses/" + escapePath(row.storagePath);
    const auto sign = api("POST", signPath, R"({"expiresIn":60})", paired.session.accessToken);
    ASSERT_EQ(sign.status, 200);
    const std::string link = signedPath(sign);

    // A valid token for a.pdf does not open another object.
    const std::string other = cloud.rows().at(1).storagePath;
    const std::string bent
        = "/storage/v1/object/sign/expenses/" + escapePath(other) + link.substr(link.find('?'));
    EXPECT_EQ(cloud.request("GET", bent).status, 400);
    std::string tampered = link;
    tampered.back() = tampered.back() == 'A' ? 'B' : 'A';
    EXPECT_EQ(cloud.request("GET", tampered).status, 400);
    EXPECT_EQ(cloud.request("GET", link.substr(0, link.find('?'))).status, 400);
    // An access token is not a link token.
    EXPECT_EQ(
        cloud.request("GET", link.substr(0, link.find('?')) + "?token=" + paired.session.accessToken).status,
        400);

    EXPECT_EQ(cloud.request("GET", link).status, 200);
    cloud.setClockOffset(std::chrono::seconds(61));
    const auto expired = cloud.request("GET", link);
    EXPECT_EQ(expired.status, 400);
    EXPECT_EQ(parsed(expired).at("error"), "InvalidJWT");
    EXPECT_TRUE(parsed(expired).at("message").is_string());
}

TEST_F(CloudTest, DeleteRemovesOnlyTheNamedVisibleObjects)
{
    const Paired paired = pair();
    const auto keep = cloud.sendDocument(paired.computerId, "keep.pdf", "%PDF-1.4 keep");
    cloud.enqueueRaw({.computerId = paired.computerId,
        .storagePath = "/abc//Fiş 1.pdf",
        .originalFilename = "Fiş 1.pdf",
        .bytes = std::string("%PDF-1.4 x")});
    // The cleanup names the path exactly as the row holds it, doubled "/" and all.
    const auto response = api("DELETE", "/storage/v1/object/expenses",
        R"({"prefixes":["/abc//Fiş 1.pdf","nothing"]})", paired.session.accessToken);
    ASSERT_EQ(response.status, 200) << response.body;
    const json removed = json::parse(response.body);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].at("name"), "abc/Fiş 1.pdf");
    const auto objects = cloud.objects();
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].name, keep.storagePath);

    for (const std::string body :
        {"{}", R"({"prefixes":[]})", R"({"prefixes":"a"})", R"({"prefixes":[1]})", "nope"})
        EXPECT_EQ(api("DELETE", "/storage/v1/object/expenses", body, paired.session.accessToken).status, 400)
            << body;
}
