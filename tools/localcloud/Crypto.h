#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace localcloud {

// Text of `length` characters drawn uniformly from `alphabet` with the OpenSSL generator.
std::string randomText(size_t length, std::string_view alphabet);
std::string randomAlphanumeric(size_t length);
// A random (version 4) UUID in lower case, as Postgres prints it.
std::string newUuid();
bool isUuid(std::string_view text);

std::string base64Encode(std::string_view bytes);
// nullopt when the text is not valid base64.
std::optional<std::string> base64Decode(std::string_view text);

std::string sha256Hex(std::string_view bytes);

// HS256 tokens: access tokens and signed-link tokens share the project secret.
class JwtSigner
{
public:
    explicit JwtSigner(std::string secret)
        : secret_(std::move(secret))
    {
    }

    std::string sign(const nlohmann::json &claims) const;

    enum class Check { Valid, Malformed, BadSignature, Expired };
    struct Verified {
        Check check = Check::Malformed;
        nlohmann::json claims;
    };
    // `nowSeconds` decides expiry from the "exp" claim.
    Verified verify(std::string_view token, long long nowSeconds) const;

private:
    std::string secret_;
};

} // namespace localcloud
