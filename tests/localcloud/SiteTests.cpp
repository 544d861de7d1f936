#include "CloudFixture.h"

using nlohmann::json;

TEST_F(CloudTest, SiteFilesCanBeReplacedWhileRunning)
{
    const auto manifest = json::parse(cloud.request("GET", "/updates/macos.json").body);
    for (const char *key : {"version", "macUniversalUrl", "macUniversalSha256"})
        EXPECT_TRUE(manifest.at(key).is_string()) << key;

    cloud.putSiteFile("/updates/macos.json",
        R"({"version":"9.9.9","macUniversalUrl":"{{baseURL}}/updates/new.zip","macUniversalSha256":"ab"})");
    cloud.putSiteFile("/updates/new.zip", std::string("PK\3\4 zip bytes\0", 16));
    const auto replaced = json::parse(cloud.request("GET", "/updates/macos.json").body);
    EXPECT_EQ(replaced.at("version"), "9.9.9");
    EXPECT_EQ(replaced.at("macUniversalUrl"), cloud.baseUrl() + "/updates/new.zip");
    const auto archive = cloud.request("GET", "/updates/new.zip");
    EXPECT_EQ(archive.status, 200);
    EXPECT_EQ(archive.body, std::string("PK\3\4 zip bytes\0", 16));

    cloud.putSiteFile("/config/cloud.json", R"({"supabaseUrl":"https://example.invalid","revision":"7"})");
    EXPECT_EQ(json::parse(cloud.request("GET", "/config/cloud.json").body).at("revision"), "7");
    cloud.removeSiteFile("/config/cloud.json");
    EXPECT_EQ(json::parse(cloud.request("GET", "/config/cloud.json").body).at("revision"), 1);

    EXPECT_EQ(cloud.request("GET", "/nothing/here").status, 404);
    EXPECT_EQ(cloud.request("GET", "/updates/%2E%2E/%2E%2E/tls/ca-key.pem").status, 404);
    EXPECT_THROW(cloud.putSiteFile("/../escape.json", "{}"), std::runtime_error);
}
