// Table tests of the pieces with rules of their own, without a running server.
#include <algorithm>
#include "Clock.h"
#include "Crypto.h"
#include "Faults.h"
#include "Postgrest.h"
#include "RequestLog.h"
#include "Server.h"
#include "Store.h"

#include <gtest/gtest.h>

using namespace localcloud;

TEST(Timestamps, ParseAndFormat)
{
    EXPECT_EQ(parseTimestamp("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parseTimestamp("1970-01-01T00:00:01.5Z"), 1500000);
    EXPECT_EQ(parseTimestamp("1970-01-01 02:00:00+02:00"), 0);
    EXPECT_EQ(parseTimestamp("1970-01-01T00:00:00-0130"), 5400LL * 1000000);
    for (const char *bad : {"", "yesterday", "2024-02-30T00:00:00Z", "2024-01-01T25:00:00Z",
             "2024-01-01T00:00:00Zjunk", "2024-01-01T00:00:00.Z", "2024-1-01T00:00:00Z"})
        EXPECT_FALSE(parseTimestamp(bad)) << bad;
    EXPECT_EQ(formatTimestamptz(1500000), "1970-01-01T00:00:01.5+00:00");
    EXPECT_EQ(formatTimestamptz(0), "1970-01-01T00:00:00+00:00");
    EXPECT_EQ(formatIsoMillis(1500000), "1970-01-01T00:00:01.500Z");
}

TEST(ObjectKeys, CanonicalFormAndBucketEscape)
{
    EXPECT_EQ(canonicalObjectKey("/abc//x.jpg/"), "abc/x.jpg");
    EXPECT_EQ(canonicalObjectKey("a/b"), "a/b");
    EXPECT_EQ(canonicalObjectKey("///"), "");
    EXPECT_TRUE(keyLeavesBucket(".."));
    EXPECT_TRUE(keyLeavesBucket("a/../b"));
    EXPECT_TRUE(keyLeavesBucket("a/."));
    EXPECT_FALSE(keyLeavesBucket("a/..b/c..")) << "dots inside a name are harmless";
    EXPECT_FALSE(keyLeavesBucket("%2E%2E"));
    EXPECT_EQ(encodeObjectKey("abc/Fiş 1.pdf"), "abc/Fi%C5%9F%201.pdf");
    EXPECT_EQ(encodeObjectKey("100%?#"), "100%25%3F%23");
}

TEST(Jwt, SignVerifyAndExpiry)
{
    const JwtSigner signer("secret");
    const std::string token = signer.sign({{"sub", "u"}, {"exp", 100}});
    EXPECT_EQ(signer.verify(token, 99).check, JwtSigner::Check::Valid);
    EXPECT_EQ(signer.verify(token, 100).check, JwtSigner::Check::Expired);
    EXPECT_EQ(JwtSigner("other").verify(token, 0).check, JwtSigner::Check::BadSignature);
    EXPECT_EQ(signer.verify("a.b", 0).check, JwtSigner::Check::Malformed);
    EXPECT_EQ(signer.verify("a.b.c.d", 0).check, JwtSigner::Check::Malformed);
    EXPECT_EQ(signer.sign({{"sub", "u"}}).empty(), false);
    EXPECT_EQ(signer.verify(signer.sign({{"sub", "u"}}), 0).check, JwtSigner::Check::Malformed)
        << "no exp, no entry";
}

TEST(Base64, RoundTripsAndRefusesGarbage)
{
    for (const std::string &bytes : {std::string(), std::string("a"), std::string("ab"), std::string("abc"),
             std::string("\0\xff\x10", 3)})
        EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes);
    EXPECT_FALSE(base64Decode("abc"));
    EXPECT_FALSE(base64Decode("a*c="));
}

TEST(Utf8, ValidatesSequences)
{
    EXPECT_TRUE(isValidUtf8("Fiş ü €"));
    EXPECT_FALSE(isValidUtf8("\xff"));
    EXPECT_FALSE(isValidUtf8("\xc5")); // cut short
    EXPECT_FALSE(isValidUtf8("\xc0\xaf")); // overlong "/"
    EXPECT_FALSE(isValidUtf8("\xed\xa0\x80")); // surrogate
}

TEST(RowQueries, ParseTheApplicationsListing)
{
    const httplib::Params params{{"computer_id", "eq.7a79c735-b9a3-47ba-9a39-f2c0980661d7"},
        {"status", "eq.pending"}, {"select", "id,storage_path,original_filename"},
        {"order", "created_at.asc"}, {"limit", "500"}};
    const RowQuery query = parseRowQuery(params);
    EXPECT_EQ(query.select, (std::vector<std::string>{"id", "storage_path", "original_filename"}));
    EXPECT_EQ(query.filters.size(), 2u);
    ASSERT_EQ(query.order.size(), 1u);
    EXPECT_TRUE(query.order[0].ascending);
    EXPECT_EQ(query.limit, 500);

    const RowQuery in
        = parseRowQuery({{"status", "in.(pending,\"downloaded\")"}, {"order", "created_at.desc"}});
    EXPECT_EQ(in.filters.at(0).values, (std::vector<std::string>{"pending", "downloaded"}));
    EXPECT_FALSE(in.order.at(0).ascending);
    EXPECT_THROW(parseRowQuery({{"limit", "-1"}}), PostgrestError);
    EXPECT_THROW(parseRowQuery({{"order", "created_at.sideways"}}), PostgrestError);
    EXPECT_THROW(parseRowQuery({{"id", "eq.1; DROP TABLE x"}}), PostgrestError);
}

TEST(JsonBodies, RefuseDeepNestingAndGarbage)
{
    EXPECT_TRUE(parseJsonBody(R"({"a":[1,{"b":2}]})"));
    EXPECT_TRUE(parseJsonBody(std::string(60, '[') + std::string(60, ']')));
    EXPECT_FALSE(parseJsonBody(std::string(70, '[') + std::string(70, ']')));
    EXPECT_FALSE(parseJsonBody("{\"a\":"));
    EXPECT_FALSE(parseJsonBody(""));
}

TEST(FaultTable, CountsAndFractions)
{
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
