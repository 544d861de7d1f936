#include "Clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace localcloud {

namespace {

struct Split {
    std::tm tm{};
    std::int64_t fraction = 0; // microseconds
};

Split split(std::int64_t micros)
{
    Split s;
    std::int64_t seconds = micros / 1000000;
    s.fraction = micros % 1000000;
    if (s.fraction < 0) {
        s.fraction += 1000000;
        --seconds;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    gmtime_r(&t, &s.tm);
    return s;
}

std::string dateTime(const std::tm &tm)
{
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
        tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buffer;
}

bool digits(std::string_view text, size_t at, size_t count, int &out)
{
    if (at + count > text.size())
        return false;
    out = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

std::int64_t Clock::nowMicros() const
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::microseconds>(now).count() + offsetMicros_.load();
}

std::string formatTimestamptz(std::int64_t micros)
{
    const Split s = split(micros);
    std::string out = dateTime(s.tm);
    if (s.fraction != 0) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, ".%06lld", static_cast<long long>(s.fraction));
        std::string fraction = buffer;
        while (fraction.back() == '0')
            fraction.pop_back();
        out += fraction;
    }
    return out + "+00:00";
}

std::string formatIsoMillis(std::int64_t micros)
{
    const Split s = split(micros);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, ".%03lld", static_cast<long long>(s.fraction / 1000));
    return dateTime(s.tm) + buffer + "Z";
}

std::optional<std::int64_t> parseTimestamp(std::string_view text)
{
    int year, month, day, hour, minute, second;
    if (!digits(text, 0, 4, year) || text.size() < 19 || text[4] != '-' || !digits(text, 5, 2, month)
        || text[7] != '-' || !digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != ' ')
        || !digits(text, 11, 2, hour) || text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':'
        || !digits(text, 17, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;

    size_t at = 19;
    std::int64_t fraction = 0;
    if (at < text.size() && text[at] == '.') {
        ++at;
        std::int64_t scale = 100000;
        const size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            fraction += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == start)
            return std::nullopt;
    }

    std::int64_t offsetSeconds = 0;
    if (at < text.size()) {
        if (text[at] == 'Z' || text[at] == 'z') {
            ++at;
        } else if (text[at] == '+' || text[at] == '-') {
            const int sign = text[at] == '+' ? 1 : -1;
            int oh = 0, om = 0;
            if (!digits(text, at + 1, 2, oh))
                return std::nullopt;
            at += 3;
            if (at < text.size() && text[at] == ':')
                ++at;
            if (at < text.size()) {
                if (!digits(text, at, 2, om))
                    return std::nullopt;
                at += 2;
            }
            offsetSeconds = sign * (oh * 3600 + om * 60);
        } else {
            return std::nullopt;
        }
    }
    if (at != text.size())
        return std::nullopt;

    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const std::time_t t = timegm(&tm);
    // timegm normalises 31 February into March; such a date is not a date.
    std::tm check{};
    gmtime_r(&t, &check);
    if (check.tm_mday != day && second != 60)
        return std::nullopt;
    return (static_cast<std::int64_t>(t) - offsetSeconds) * 1000000 + fraction;
}

} // namespace localcloud
