// One walk through the local cloud as the program and the demo's phone use it. The program's own tests
// prove the wire; this only shows that the stand-in answers the calls they rely on, and keeps its state.
#include "LocalCloud.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>

using nlohmann::json;

TEST(LocalCloudSmoke, PairsSendsSignsAcknowledgesAndKeepsItsStateOverARestart)
{
    LocalCloud cloud;
    const auto call = [&](const std::string &method, const std::string &path, const std::string &body,
                          const std::string &token = {}) {
        std::multimap<std::string, std::string> headers{
            {"apikey", cloud.anonKey()}, {"Content-Type", "application/json"}};
        if (!token.empty())
            headers.emplace("Authorization", "Bearer " + token);
        const auto response = cloud.request(method, path, body, headers);
        EXPECT_LT(response.status, 300) << method << ' ' << path << ' ' << response.body;
        return json::parse(response.body.empty() ? "null" : response.body, nullptr, false);
    };

    const std::string token = call("POST", "/auth/v1/signup", R"({"data":{}})").at("access_token");
    const json pairing = call("POST", "/functions/v1/create-pairing",
        R"({"computerName":"Linux","targetFolderName":"Gider"})", token);
    const std::string computerId = pairing.at("computerId");

    // The demo's phone sends by code, through the command line. A plain name keeps the signing path
    // free of escapes; the program's own tests try the hostile ones.
    const std::string file = cloud.dataDir() + "/Fiş 1.pdf";
    std::FILE *f = std::fopen(file.c_str(), "wb");
    std::fputs("%PDF-1.4 from the phone", f);
    std::fclose(f);
    const std::string phone = std::string("'") + LOCALCLOUD_BINARY + "' phone --url " + cloud.baseUrl()
        + " --ca '" + cloud.caCertPath() + "' send --code " + pairing.at("code").get<std::string>() + " '"
        + file + "' --name fis-1.pdf >/dev/null";
    ASSERT_EQ(std::system(phone.c_str()), 0);

    cloud.restart();
    const json listing = call("GET",
        "/rest/v1/transfer_items?computer_id=eq." + computerId
            + "&status=eq.pending&select=id,storage_path,original_filename&order=created_at.asc&limit=500",
        {}, token);
    ASSERT_EQ(listing.size(), 1u) << "rows, objects and the signing secret survive a restart";
    const std::string storagePath = listing[0].at("storage_path");
    EXPECT_EQ(listing[0].at("original_filename"), "fis-1.pdf");

    const json sign
        = call("POST", "/storage/v1/object/sign/expenses/" + storagePath, R"({"expiresIn":60})", token);
    const auto download = cloud.request("GET", "/storage/v1" + sign.at("signedURL").get<std::string>());
    EXPECT_EQ(download.body, "%PDF-1.4 from the phone");

    call("PATCH", "/rest/v1/transfer_items?id=eq." + listing[0].at("id").get<std::string>(),
        R"({"status":"downloaded","downloaded_filename":"fis-1.pdf"})", token);
    call("DELETE", "/storage/v1/object/expenses", json{{"prefixes", {storagePath}}}.dump(), token);
    EXPECT_EQ(cloud.rows().at(0).status, "downloaded");
    EXPECT_TRUE(cloud.objects().empty());

    // A fault rule answers in place of the next matching request, once.
    cloud.injectFault({.kind = LocalCloud::FaultKind::Status, .path = "/rest/v1/", .status = 503});
    EXPECT_EQ(cloud.request("GET", "/rest/v1/transfer_items", {}, {{"apikey", cloud.anonKey()}}).status, 503);
    call("GET", "/rest/v1/transfer_items?computer_id=eq." + computerId, {}, token);
}
