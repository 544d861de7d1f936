#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace localcloud {

// Wall-clock time in microseconds since the Unix epoch. Tests may move it forward, so expiry
// of tokens, links and pairing codes can be checked without sleeping.
class Clock
{
public:
    std::int64_t nowMicros() const;
    std::int64_t nowSeconds() const { return nowMicros() / 1000000; }
    void setOffsetSeconds(std::int64_t seconds) { offsetMicros_ = seconds * 1000000; }
    std::int64_t offsetSeconds() const { return offsetMicros_ / 1000000; }

private:
    std::atomic<std::int64_t> offsetMicros_{0};
};

// "2024-03-01T09:15:02.5+00:00", the form Postgres gives timestamptz values in JSON.
std::string formatTimestamptz(std::int64_t micros);
// "2024-03-01T09:15:02.500Z", the form JavaScript's toISOString gives.
std::string formatIsoMillis(std::int64_t micros);
// Accepts "YYYY-MM-DD[T ]HH:MM:SS[.fraction][Z|+HH[:MM]|-HH[:MM]]"; nullopt for anything else.
std::optional<std::int64_t> parseTimestamp(std::string_view text);

} // namespace localcloud
