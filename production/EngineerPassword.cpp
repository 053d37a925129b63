#include "production/EngineerPassword.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <vector>

namespace sonoprog::production {

namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kKeyBytes = 32;
constexpr int kMaxIterations = 10000000;

std::string hex(const std::vector<unsigned char>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::optional<std::vector<unsigned char>> unhex(std::string_view text) {
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int value = 0;
        for (char c : text.substr(i, 2)) {
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= c - '0';
            else if (c >= 'a' && c <= 'f')
                value |= c - 'a' + 10;
            else
                return std::nullopt;
        }
        out.push_back(static_cast<unsigned char>(value));
    }
    return out;
}

bool derive(std::string_view password, const std::vector<unsigned char>& salt, int iterations,
            std::vector<unsigned char>& key) {
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                             static_cast<int>(salt.size()), iterations, EVP_sha256(),
                             static_cast<int>(key.size()), key.data()) == 1;
}

}  // namespace

std::optional<std::string> makePasswordHash(std::string_view password, int iterations) {
    std::vector<unsigned char> salt(kSaltBytes);
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) return std::nullopt;
    std::vector<unsigned char> key(kKeyBytes);
    if (!derive(password, salt, iterations, key)) return std::nullopt;
    return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + hex(salt) + "$" +
           hex(key);
}

bool checkPassword(std::string_view password, std::string_view stored) {
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (parts.size() < 4) {
        const std::size_t end = stored.find('$', pos);
        parts.push_back(stored.substr(pos, end == std::string_view::npos ? end : end - pos));
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    if (parts.size() != 4 || parts[0] != kScheme) return false;
    int iterations = 0;
    for (char c : parts[1]) {
        if (c < '0' || c > '9' || iterations > kMaxIterations / 10) return false;
        iterations = iterations * 10 + (c - '0');
    }
    if (iterations < 1 || iterations > kMaxIterations) return false;
    const auto salt = unhex(parts[2]);
    const auto expected = unhex(parts[3]);
    if (!salt || !expected || expected->size() < 16) return false;
    std::vector<unsigned char> key(expected->size());
    if (!derive(password, *salt, iterations, key)) return false;
    return CRYPTO_memcmp(key.data(), expected->data(), key.size()) == 0;
}

}  // namespace sonoprog::production
