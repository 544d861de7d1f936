#include "Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <uuid/uuid.h>

#include <array>
#include <stdexcept>

namespace localcloud {

namespace {

void randomBytes(unsigned char *out, size_t n)
{
    if (RAND_bytes(out, static_cast<int>(n)) != 1)
        throw std::runtime_error("random generator failed");
}

std::string toBase64Url(std::string_view bytes)
{
    std::string text = base64Encode(bytes);
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    for (char &c : text) {
        if (c == '+')
            c = '-';
        else if (c == '/')
            c = '_';
    }
    return text;
}

std::optional<std::string> fromBase64Url(std::string_view text)
{
    std::string standard(text);
    for (char &c : standard) {
        if (c == '-')
            c = '+';
        else if (c == '_')
            c = '/';
        else if (c == '+' || c == '/' || c == '=')
            return std::nullopt;
    }
    while (standard.size() % 4 != 0)
        standard.push_back('=');
    return base64Decode(standard);
}

std::string hmacSha256(std::string_view key, std::string_view data)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> out{};
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
            reinterpret_cast<const unsigned char *>(data.data()), data.size(), out.data(), &length))
        throw std::runtime_error("HMAC failed");
    return std::string(reinterpret_cast<const char *>(out.data()), length);
}

} // namespace

std::string randomText(size_t length, std::string_view alphabet)
{
    std::string out;
    out.reserve(length);
    // Rejection sampling keeps every character equally likely.
    const unsigned limit = 256 - (256 % alphabet.size());
    while (out.size() < length) {
        std::array<unsigned char, 64> buffer{};
        randomBytes(buffer.data(), buffer.size());
        for (unsigned char b : buffer) {
            if (b < limit && out.size() < length)
                out.push_back(alphabet[b % alphabet.size()]);
        }
    }
    return out;
}

std::string randomAlphanumeric(size_t length)
{
    return randomText(length, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
}

std::string newUuid()
{
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_lower(id, text);
    return text;
}

bool isUuid(std::string_view text)
{
    if (text.size() != 36)
        return false;
    const std::string copy(text);
    uuid_t id;
    return uuid_parse(copy.c_str(), id) == 0;
}

std::string base64Encode(std::string_view bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3), '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
        reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    if (text.empty())
        return std::string();
    std::string out(3 * text.size() / 4, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(out.data()),
        reinterpret_cast<const unsigned char *>(text.data()), static_cast<int>(text.size()));
    if (n < 0)
        return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes; take them off again.
    size_t length = static_cast<size_t>(n);
    for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i)
        --length;
    out.resize(length);
    return out;
}

std::string sha256Hex(std::string_view bytes)
{
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), digest.data());
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out.push_back(hex[b >> 4]);
        out.push_back(hex[b & 15]);
    }
    return out;
}

std::string JwtSigner::sign(const nlohmann::json &claims) const
{
    const std::string signingInput
        = toBase64Url(R"({"alg":"HS256","typ":"JWT"})") + "." + toBase64Url(claims.dump());
    return signingInput + "." + toBase64Url(hmacSha256(secret_, signingInput));
}

JwtSigner::Verified JwtSigner::verify(std::string_view token, long long nowSeconds) const
{
    Verified result;
    const size_t first = token.find('.');
    const size_t second = first == std::string_view::npos ? first : token.find('.', first + 1);
    if (second == std::string_view::npos || token.find('.', second + 1) != std::string_view::npos)
        return result;
    const auto signature = fromBase64Url(token.substr(second + 1));
    const auto payload = fromBase64Url(token.substr(first + 1, second - first - 1));
    if (!signature || !payload)
        return result;
    const std::string expected = hmacSha256(secret_, token.substr(0, second));
    if (expected.size() != signature->size()
        || CRYPTO_memcmp(expected.data(), signature->data(), expected.size()) != 0) {
        result.check = Check::BadSignature;
        return result;
    }
    result.claims = nlohmann::json::parse(*payload, nullptr, false);
    if (!result.claims.is_object() || !result.claims.contains("exp")
        || !result.claims["exp"].is_number_integer())
        return result;
    result.check = result.claims["exp"].get<long long>() <= nowSeconds ? Check::Expired : Check::Valid;
    return result;
}

} // namespace localcloud
