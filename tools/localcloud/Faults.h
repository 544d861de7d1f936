#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace localcloud {

// What a test asked to go wrong with matching requests.
struct FaultRule {
    enum class Kind {
        Status, // answer `status` with `body` instead of the real answer
        Delay, // wait `delayMs`, then answer normally
        Drop, // close the connection without any answer
        Malformed, // answer `status` (200 unless given) with a body that is not JSON
        Truncate, // send the real answer's headers, then only part of its body, then close
        Silent, // never answer (a push event: no reply, no push); an HTTP request is dropped
        Endless, // answer `status` (200 unless given) with `body`, then filler bytes without end
        Trickle, // answer `status` (200 unless given) with `body` repeated, one byte per `intervalMs`,
                 // without end
    };
    Kind kind = Kind::Status;
    std::string method = "*"; // or an exact method
    std::string pathPrefix; // matched against the raw path and query as sent
    int status = 500;
    std::string body;
    std::string contentType = "application/json";
    int delayMs = 0; // also applied before the other kinds
    int intervalMs = 1000; // between two bytes of a trickle
    std::optional<int> times; // how many requests to hit; unset with a fraction means no end
    double fraction = 0; // hit every request k where floor((k+1)f) > floor(kf)
    double probability = 0; // hit each request with this chance, drawn from `seed`
    std::uint64_t seed = 1;
};

// Reads a rule from its JSON form (see the README); throws std::invalid_argument when malformed.
FaultRule faultFromJson(const nlohmann::json &input);

class FaultTable
{
public:
    int add(FaultRule rule);
    void clear();
    // The fault this request gets, if any; counts the request against the first matching rule.
    std::optional<FaultRule> take(const std::string &method, const std::string &target);
    nlohmann::json describe();

private:
    struct Entry {
        int id;
        FaultRule rule;
        std::int64_t seen = 0;
        std::int64_t injected = 0;
        std::mt19937_64 random{};
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    int nextId_ = 1;
};

} // namespace localcloud
