#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace localcloud {

// Every request the application made, for tests to look at afterwards. Bounded, so a long
// benchmark cannot exhaust memory: the oldest entries go first.
class RequestLog
{
public:
    // Returns the entry's sequence number, used to record the answer later.
    std::int64_t record(const httplib::Request &request, std::int64_t nowMicros);
    // The status sent back; 0 means the connection was dropped without an answer.
    void setOutcome(std::int64_t seq, int status, const std::string &fault);
    void clear();
    nlohmann::json entries(std::int64_t since);

    static constexpr size_t maxEntries = 20000;
    static constexpr size_t maxBodyBytes = 64 * 1024;

private:
    struct Entry {
        std::int64_t seq;
        nlohmann::json json;
    };
    std::mutex mutex_;
    std::deque<Entry> entries_;
    std::int64_t nextSeq_ = 1;
};

bool isValidUtf8(std::string_view text);

} // namespace localcloud
