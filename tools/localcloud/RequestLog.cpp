#include "RequestLog.h"

#include "Clock.h"
#include "Crypto.h"

#include <algorithm>
#include <cctype>

namespace localcloud {

bool isValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        std::uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        const std::uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (code < minimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

std::int64_t RequestLog::record(const httplib::Request &request, std::int64_t nowMicros)
{
    nlohmann::json headers = nlohmann::json::object();
    for (const auto &[name, value] : request.headers) {
        std::string key = name;
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        // The HTTP library adds the peer's address as pseudo-headers; they were never sent.
        if (key == "remote_addr" || key == "remote_port" || key == "local_addr" || key == "local_port")
            continue;
        if (headers.contains(key))
            headers[key] = headers[key].get<std::string>() + ", " + value;
        else
            headers[key] = value;
    }
    const std::string_view body(request.body.data(), std::min(request.body.size(), maxBodyBytes));
    const bool text = isValidUtf8(body);

    std::lock_guard lock(mutex_);
    const std::int64_t seq = nextSeq_++;
    entries_.push_back(Entry{seq,
        {{"seq", seq}, {"time", formatTimestamptz(nowMicros)}, {"method", request.method},
            {"path", request.target}, {"headers", std::move(headers)},
            {"body", text ? std::string(body) : base64Encode(body)},
            {"bodyEncoding", text ? "utf-8" : "base64"}, {"bodySize", request.body.size()},
            {"bodyTruncated", request.body.size() > maxBodyBytes}, {"status", nullptr}, {"fault", nullptr}}});
    while (entries_.size() > maxEntries)
        entries_.pop_front();
    return seq;
}

void RequestLog::setOutcome(std::int64_t seq, int status, const std::string &fault)
{
    std::lock_guard lock(mutex_);
    // Entries are in sequence order; search from the back, where recent ones are.
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->seq == seq) {
            it->json["status"] = status;
            if (!fault.empty())
                it->json["fault"] = fault;
            return;
        }
        if (it->seq < seq)
            return;
    }
}

void RequestLog::clear()
{
    std::lock_guard lock(mutex_);
    entries_.clear();
}

nlohmann::json RequestLog::entries(std::int64_t since)
{
    std::lock_guard lock(mutex_);
    nlohmann::json out = nlohmann::json::array();
    for (const Entry &e : entries_) {
        if (e.seq > since)
            out.push_back(e.json);
    }
    return out;
}

} // namespace localcloud
