#include "update/VersionOrder.h"

#include <gtest/gtest.h>

namespace {

int sign(int value)
{
    return (value > 0) - (value < 0);
}

TEST(VersionOrder, OrdersDigitRunsByValueAndPrefixesFirst)
{
    // The order itself (total, transitive) is the fuzzer's; these are the values.
    const std::tuple<const char *, const char *, int> rows[] = {
        {"1.1.10", "1.1.2", 1}, // runs by value, not by character
        {"1.2.0", "1.2", 1}, // the shorter text orders first
        {"1.02", "1.2", 0}, // leading zeros do not change a run's value
        {"1.1.2-beta", "1.1.2", 1}, // other characters by their code
        {"1.a", "1.9", 1}, // 'a' after '9'
        {"", "1", -1}, {"123456789012345678901234567890", "123456789012345678901234567889", 1}, // no overflow
    };
    for (const auto &[left, right, expected] : rows) {
        const QString a = QString::fromLatin1(left), b = QString::fromLatin1(right);
        EXPECT_EQ(sign(compareVersions(a, b)), expected) << left << " vs " << right;
        EXPECT_EQ(sign(compareVersions(b, a)), -expected) << right << " vs " << left;
    }
}

} // namespace
