#include "Faults.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace localcloud {

namespace {

FaultRule::Kind kindFromText(const std::string &text)
{
    if (text == "status")
        return FaultRule::Kind::Status;
    if (text == "delay")
        return FaultRule::Kind::Delay;
    if (text == "drop")
        return FaultRule::Kind::Drop;
    if (text == "malformed")
        return FaultRule::Kind::Malformed;
    if (text == "truncate")
        return FaultRule::Kind::Truncate;
    if (text == "silent")
        return FaultRule::Kind::Silent;
    if (text == "endless")
        return FaultRule::Kind::Endless;
    if (text == "trickle")
        return FaultRule::Kind::Trickle;
    throw std::invalid_argument("unknown fault kind: " + text);
}

const char *kindText(FaultRule::Kind kind)
{
    switch (kind) {
    case FaultRule::Kind::Status:
        return "status";
    case FaultRule::Kind::Delay:
        return "delay";
    case FaultRule::Kind::Drop:
        return "drop";
    case FaultRule::Kind::Malformed:
        return "malformed";
    case FaultRule::Kind::Truncate:
        return "truncate";
    case FaultRule::Kind::Silent:
        return "silent";
    case FaultRule::Kind::Endless:
        return "endless";
    case FaultRule::Kind::Trickle:
        return "trickle";
    }
    return "?";
}

template <typename T> T field(const nlohmann::json &input, const char *name, T fallback)
{
    if (!input.contains(name))
        return fallback;
    try {
        return input.at(name).get<T>();
    } catch (const nlohmann::json::exception &) {
        throw std::invalid_argument(std::string("bad type for ") + name);
    }
}

} // namespace

FaultRule faultFromJson(const nlohmann::json &input)
{
    if (!input.is_object())
        throw std::invalid_argument("a fault is a JSON object");
    FaultRule rule;
    rule.kind = kindFromText(field<std::string>(input, "kind", "status"));
    rule.method = field<std::string>(input, "method", "*");
    rule.pathPrefix = field<std::string>(input, "path", "");
    const bool streams = rule.kind == FaultRule::Kind::Endless || rule.kind == FaultRule::Kind::Trickle;
    if (rule.kind == FaultRule::Kind::Malformed || streams)
        rule.status = 200;
    rule.status = field<int>(input, "status", rule.status);
    rule.body = field<std::string>(input, "body",
        rule.kind == FaultRule::Kind::Malformed ? "{\"unterminated\": [1, 2"
            : streams                           ? "%PDF-1.7\n"
                                                : "");
    if (streams && rule.contentType == "application/json" && !input.contains("contentType"))
        rule.contentType = "application/octet-stream";
    rule.contentType = field<std::string>(input, "contentType", rule.contentType);
    rule.delayMs = field<int>(input, "delayMs", 0);
    rule.intervalMs = std::max(1, field<int>(input, "intervalMs", rule.intervalMs));
    rule.fraction = field<double>(input, "fraction", 0.0);
    rule.probability = field<double>(input, "probability", 0.0);
    rule.seed = field<std::uint64_t>(input, "seed", 1);
    if (input.contains("times"))
        rule.times = field<int>(input, "times", 1);
    else if (rule.fraction == 0 && rule.probability == 0)
        rule.times = 1;
    if (rule.status < 100 || rule.status > 599)
        throw std::invalid_argument("status must be from 100 to 599");
    if (rule.delayMs < 0 || rule.delayMs > 600000)
        throw std::invalid_argument("delayMs must be from 0 to 600000");
    if (rule.fraction < 0 || rule.fraction > 1 || std::isnan(rule.fraction))
        throw std::invalid_argument("fraction must be from 0 to 1");
    if (rule.probability < 0 || rule.probability > 1 || std::isnan(rule.probability))
        throw std::invalid_argument("probability must be from 0 to 1");
    if (rule.fraction > 0 && rule.probability > 0)
        throw std::invalid_argument("a rule has a fraction or a probability, not both");
    if (rule.times && *rule.times < 1)
        throw std::invalid_argument("times must be at least 1");
    if (rule.pathPrefix.empty() || rule.pathPrefix.front() != '/')
        throw std::invalid_argument("path must begin with /");
    return rule;
}

int FaultTable::add(FaultRule rule)
{
    std::lock_guard lock(mutex_);
    const std::uint64_t seed = rule.seed;
    entries_.push_back(Entry{nextId_, std::move(rule), 0, 0, std::mt19937_64(seed)});
    return nextId_++;
}

void FaultTable::clear()
{
    std::lock_guard lock(mutex_);
    entries_.clear();
}

std::optional<FaultRule> FaultTable::take(const std::string &method, const std::string &target)
{
    std::lock_guard lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        const FaultRule &rule = it->rule;
        if ((rule.method != "*" && rule.method != method) || target.rfind(rule.pathPrefix, 0) != 0)
            continue;
        const std::int64_t k = it->seen++;
        bool hit = true;
        if (rule.fraction > 0) {
            // Deterministic spacing: a fraction of 0.25 hits the 4th, 8th, 12th ... request.
            hit = std::floor(static_cast<double>(k + 1) * rule.fraction)
                > std::floor(static_cast<double>(k) * rule.fraction);
        } else if (rule.probability > 0) {
            // Seeded, so that a soak that found something can be run again the same way.
            hit = std::uniform_real_distribution<double>(0.0, 1.0)(it->random) < rule.probability;
        }
        if (!hit)
            continue;
        FaultRule chosen = rule;
        ++it->injected;
        if (rule.times && it->injected >= *rule.times)
            entries_.erase(it);
        return chosen;
    }
    return std::nullopt;
}

nlohmann::json FaultTable::describe()
{
    std::lock_guard lock(mutex_);
    nlohmann::json out = nlohmann::json::array();
    for (const Entry &e : entries_) {
        out.push_back({{"id", e.id}, {"kind", kindText(e.rule.kind)}, {"method", e.rule.method},
            {"path", e.rule.pathPrefix}, {"status", e.rule.status}, {"delayMs", e.rule.delayMs},
            {"fraction", e.rule.fraction}, {"probability", e.rule.probability},
            {"times", e.rule.times ? nlohmann::json(*e.rule.times) : nlohmann::json(nullptr)},
            {"seen", e.seen}, {"injected", e.injected}});
    }
    return out;
}

} // namespace localcloud
