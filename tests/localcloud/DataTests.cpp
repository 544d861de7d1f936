#include "CloudFixture.h"

#include <cstdio>

using nlohmann::json;

TEST_F(CloudTest, CreatePairingAnswersAOneTimeCodeForTheUsersComputer)
{
    const Session session = signUp();
    const std::string body = R"({"computerName":"Tarvolin Masaüstü · Mac","targetFolderName":"Gider"})";
    const auto first = api("POST", "/functions/v1/create-pairing", body, session.accessToken);
    ASSERT_EQ(first.status, 200) << first.body;
    const json j = json::parse(first.body);
    for (const char *key : {"computerId", "computerName", "code", "expiresAt", "qrText"})
        EXPECT_TRUE(j.at(key).is_string()) << key;
    EXPECT_EQ(j.at("computerName"), "Tarvolin Masaüstü · Mac");
    EXPECT_NE(j.at("qrText").get<std::string>().find(j.at("code").get<std::string>()), std::string::npos);

    // The same user keeps its computer; each call gives a fresh code.
    const json again = parsed(api("POST", "/functions/v1/create-pairing", body, session.accessToken));
    EXPECT_EQ(again.at("computerId"), j.at("computerId"));
    EXPECT_NE(again.at("code"), j.at("code"));

    const auto codes = cloud.pairingCodes();
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[0].code, again.at("code")) << "newest first";
    EXPECT_FALSE(codes[0].claimed);

    const auto claimed = cloud.claimPairing(j.at("code"));
    EXPECT_EQ(claimed.computerId, j.at("computerId"));
    EXPECT_THROW(cloud.claimPairing(j.at("code")), std::runtime_error) << "codes are one-time";
    cloud.setClockOffset(std::chrono::minutes(11));
    EXPECT_THROW(cloud.claimPairing(again.at("code")), std::runtime_error) << "codes are short-lived";
}

TEST_F(CloudTest, RestErrorsComeInPostgrestShape)
{
    const Paired paired = pair();
    const auto row = cloud.sendDocument(paired.computerId, "a.pdf", "%PDF-1.4");
    const std::string byId = "/rest/v1/transfer_items?id=eq." + row.id;
    const std::string token = paired.session.accessToken;
    const struct {
        std::string method, path, body;
        int status;
        std::string code;
    } cases[] = {
        {"GET", "/rest/v1/transfer_items?computer_id=eq.not-a-uuid", "", 400, "22P02"},
        {"GET", "/rest/v1/transfer_items?nope=eq.1", "", 400, "42703"},
        {"GET", "/rest/v1/transfer_items?limit=many", "", 400, "PGRST100"},
        {"GET", "/rest/v1/other_table", "", 404, "PGRST205"},
        {"PATCH", "/rest/v1/transfer_items", R"({"status":"downloaded"})", 400, "21000"},
        {"PATCH", byId, "{oops", 400, "PGRST102"},
        {"PATCH", byId, R"({"colour":"red"})", 400, "PGRST204"},
        {"PATCH", byId, R"({"status":"lost"})", 400, "23514"},
        {"PATCH", byId, R"({"status":null})", 400, "23502"},
        {"PATCH", byId, R"({"completed_at":"yesterday"})", 400, "22007"},
        {"PATCH", byId, R"({"downloaded_filename":["a"]})", 400, "22P02"},
        {"PATCH", byId, R"({"storage_path":"../../etc/passwd"})", 403, "42501"},
    };
    for (const auto &c : cases) {
        const auto response = api(c.method, c.path, c.body, token, "return=minimal");
        EXPECT_EQ(response.status, c.status) << c.method << ' ' << c.path << ' ' << c.body;
        const json j = parsed(response);
        ASSERT_TRUE(j.is_object()) << response.body;
        EXPECT_EQ(j.value("code", ""), c.code) << c.method << ' ' << c.path << ' ' << c.body;
        for (const char *key : {"message", "details", "hint"})
            EXPECT_TRUE(j.contains(key)) << key;
    }
    EXPECT_EQ(cloud.rows().at(0).status, "pending") << "no refused change went through";
}

TEST_F(CloudTest, PhoneCommandPairsAndSends)
{
    const Session session = signUp();
    const json pairing = parsed(api("POST", "/functions/v1/create-pairing",
        R"({"computerName":"Mac","targetFolderName":"Gider"})", session.accessToken));
    const std::string file = cloud.dataDir() + "/Fiş 1.pdf";
    std::FILE *f = std::fopen(file.c_str(), "wb");
    std::fputs("%PDF-1.4 from the phone", f);
    std::fclose(f);
    const std::string command = std::string("'") + LOCALCLOUD_BINARY + "' phone --url " + cloud.baseUrl()
        + " --ca '" + cloud.caCertPath() + "' send --code " + pairing.at("code").get<std::string>() + " '"
        + file + "' --name 'Fiş 1.pdf' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto rows = cloud.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].computerId, pairing.at("computerId"));
    EXPECT_EQ(rows[0].originalFilename, "Fiş 1.pdf");
    EXPECT_EQ(rows[0].status, "pending");
    EXPECT_EQ(cloud.objects().at(0).size, 23);
}
