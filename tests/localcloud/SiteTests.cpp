#include "CloudFixture.h"

#include <filesystem>
#include <fstream>

using nlohmann::json;

TEST_F(CloudTest, OfficialConfigurationPointsAtThisServer)
{
    const auto response = cloud.request("GET", "/config/cloud.json", {}, {{"Accept", "application/json"}});
    ASSERT_EQ(response.status, 200);
    const json doc = json::parse(response.body);
    EXPECT_EQ(doc.at("supabaseUrl"), cloud.baseUrl());
    EXPECT_EQ(doc.at("supabaseAnonKey"), cloud.anonKey());
    EXPECT_TRUE(doc.at("revision").is_number_integer());
    EXPECT_GE(cloud.anonKey().size(), 40u);
    EXPECT_EQ(cloud.requestLog().at(0).header("accept"), "application/json");
}

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

TEST(LocalCloudProcess, ServesASiteFolder)
{
    const auto dir
        = std::filesystem::temp_directory_path() / ("localcloud-site-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "updates");
    std::ofstream(dir / "updates" / "Tarvolin-2.0.zip") << "archive";
    LocalCloud cloud({.siteDir = dir.string()});
    const auto response = cloud.request("GET", "/updates/Tarvolin-2.0.zip");
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "archive");
    EXPECT_EQ(response.header("Content-Type"), "application/zip");
    std::filesystem::remove_all(dir);
}
