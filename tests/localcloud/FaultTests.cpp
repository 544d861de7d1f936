#include "CloudFixture.h"
#include "Faults.h"

#include <algorithm>
#include <chrono>

using nlohmann::json;
using Kind = LocalCloud::FaultKind;

namespace {
constexpr const char *config = "/config/cloud.json";
}

TEST_F(CloudTest, StatusFaultAnswersTheGivenStatusAndBodyForNextNRequests)
{
    cloud.injectFault({.kind = Kind::Status,
        .path = "/auth/v1/signup",
        .status = 503,
        .body = R"({"message":"down for maintenance"})",
        .times = 2});
    for (int i = 0; i < 2; ++i) {
        const auto response = api("POST", "/auth/v1/signup", R"({"data":{}})");
        EXPECT_EQ(response.status, 503);
        EXPECT_EQ(parsed(response).at("message"), "down for maintenance");
    }
    EXPECT_EQ(api("POST", "/auth/v1/signup", R"({"data":{}})").status, 200);
    EXPECT_EQ(cloud.requestLog().at(0).fault, "status");
}

TEST_F(CloudTest, FaultsMatchMethodAndPathPrefix)
{
    cloud.injectFault({.kind = Kind::Status, .path = "/config/", .method = "POST", .status = 500});
    EXPECT_EQ(cloud.request("GET", config).status, 200) << "other method";
    cloud.clearFaults();
    cloud.injectFault({.kind = Kind::Status, .path = "/updates/", .status = 404});
    EXPECT_EQ(cloud.request("GET", config).status, 200) << "other path";
    EXPECT_EQ(cloud.request("GET", "/updates/macos.json").status, 404);
}

TEST_F(CloudTest, FractionHitsAFixedShareOfRequests)
{
    cloud.injectFault({.kind = Kind::Status, .path = config, .status = 502, .fraction = 0.25});
    std::string pattern;
    for (int i = 0; i < 12; ++i)
        pattern += cloud.request("GET", config).status == 502 ? 'x' : '.';
    EXPECT_EQ(pattern, "...x...x...x");
    cloud.clearFaults();
    EXPECT_EQ(cloud.request("GET", config).status, 200);
}

TEST_F(CloudTest, DelayHoldsTheAnswerBack)
{
    cloud.injectFault({.kind = Kind::Delay, .path = config, .delayMs = 400});
    const auto start = std::chrono::steady_clock::now();
    const auto response = cloud.request("GET", config);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(response.status, 200);
    EXPECT_GE(waited, std::chrono::milliseconds(400));
}

TEST_F(CloudTest, DropClosesTheConnectionWithoutAnAnswer)
{
    cloud.injectFault({.kind = Kind::Drop, .path = "/auth/v1/"});
    const auto response = api("POST", "/auth/v1/signup", R"({"data":{}})");
    EXPECT_EQ(response.status, 0);
    EXPECT_FALSE(response.error.empty());
    EXPECT_EQ(cloud.requestLog().at(0).status, 0);
    EXPECT_EQ(api("POST", "/auth/v1/signup", R"({"data":{}})").status, 200) << "the server carries on";
}

TEST_F(CloudTest, MalformedAnswersSuccessWithABodyThatIsNotJson)
{
    cloud.injectFault({.kind = Kind::Malformed, .path = "/auth/v1/signup"});
    const auto response = api("POST", "/auth/v1/signup", R"({"data":{}})");
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(parsed(response).is_discarded());
}

TEST_F(CloudTest, TruncateCutsTheRealAnswerShort)
{
    const Paired paired = pair();
    const auto row = cloud.sendDocument(paired.computerId, "big.pdf", std::string(300000, 'x'));
    const auto sign = api("POST", "/storage/v1/object/sign/expenses/" + escapePath(row.storagePath),
        R"({"expiresIn":60})", paired.session.accessToken);
    const std::string link = "/storage/v1" + parsed(sign).at("signedURL").get<std::string>();

    cloud.injectFault({.kind = Kind::Truncate, .path = "/storage/v1/object/sign/", .method = "GET"});
    const auto cut = cloud.request("GET", link);
    EXPECT_TRUE(cut.status == 0 || cut.body.size() < 300000) << "a short body must not pass as whole";
    EXPECT_EQ(cloud.request("GET", link).body.size(), 300000u);

    cloud.injectFault({.kind = Kind::Truncate, .path = "/auth/v1/signup"});
    const auto answer = api("POST", "/auth/v1/signup", R"({"data":{}})");
    EXPECT_TRUE(answer.status == 0 || nlohmann::json::parse(answer.body, nullptr, false).is_discarded());
}

TEST_F(CloudTest, BadFaultRulesAreRefused)
{
    for (const std::string body : {R"({"kind":"explode","path":"/"})", R"({"path":"relative"})",
             R"({"path":"/","fraction":2})", R"({"path":"/","times":0})", "[]"}) {
        const auto response
            = cloud.request("POST", "/_admin/faults", body, {{"Content-Type", "application/json"}});
        EXPECT_EQ(response.status, 400) << body;
    }
}

TEST(FaultTable, CountsAndFractions)
{
    using namespace localcloud;
    FaultTable table;
    FaultRule twice = faultFromJson({{"path", "/a"}, {"times", 2}, {"status", 503}});
    table.add(twice);
    EXPECT_TRUE(table.take("GET", "/a/b"));
    EXPECT_FALSE(table.take("GET", "/b"));
    EXPECT_TRUE(table.take("POST", "/a"));
    EXPECT_FALSE(table.take("GET", "/a")) << "used up";

    table.add(faultFromJson({{"path", "/x"}, {"fraction", 0.5}, {"times", 2}}));
    std::string hits;
    for (int i = 0; i < 8; ++i)
        hits += table.take("GET", "/x") ? 'x' : '.';
    EXPECT_EQ(hits, ".x.x....");

    // A probability hits about that share, the same requests again for the same seed.
    const auto draw = [](std::uint64_t seed) {
        FaultTable random;
        random.add(faultFromJson({{"path", "/r"}, {"probability", 0.2}, {"seed", seed}}));
        std::string pattern;
        for (int i = 0; i < 2000; ++i)
            pattern += random.take("GET", "/r") ? 'x' : '.';
        return pattern;
    };
    const std::string first = draw(7);
    const auto share = std::count(first.begin(), first.end(), 'x');
    EXPECT_GT(share, 320);
    EXPECT_LT(share, 480);
    EXPECT_EQ(draw(7), first);
    EXPECT_NE(draw(8), first);
    EXPECT_THROW(faultFromJson({{"path", "/r"}, {"probability", 1.5}}), std::invalid_argument);
    EXPECT_THROW(faultFromJson({{"path", "/r"}, {"probability", 0.1}, {"fraction", 0.1}}), std::invalid_argument);
}
