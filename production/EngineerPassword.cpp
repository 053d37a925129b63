#include "production/EngineerPassword.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/AtomicFile.h"

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

struct StoredHash {
    int iterations = 0;
    std::vector<unsigned char> salt;
    std::vector<unsigned char> key;
};

std::optional<StoredHash> parseStored(std::string_view stored) {
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (parts.size() < 4) {
        const std::size_t end = stored.find('$', pos);
        parts.push_back(stored.substr(pos, end == std::string_view::npos ? end : end - pos));
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    if (parts.size() != 4 || parts[0] != kScheme) return std::nullopt;
    StoredHash hash;
    for (char c : parts[1]) {
        if (c < '0' || c > '9' || hash.iterations > kMaxIterations / 10) return std::nullopt;
        hash.iterations = hash.iterations * 10 + (c - '0');
    }
    if (hash.iterations < 1 || hash.iterations > kMaxIterations) return std::nullopt;
    auto salt = unhex(parts[2]);
    auto key = unhex(parts[3]);
    if (!salt || !key || key->size() < 16) return std::nullopt;
    hash.salt = std::move(*salt);
    hash.key = std::move(*key);
    return hash;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
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
    const auto hash = parseStored(stored);
    if (!hash) return false;
    std::vector<unsigned char> key(hash->key.size());
    if (!derive(password, hash->salt, hash->iterations, key)) return false;
    return CRYPTO_memcmp(key.data(), hash->key.data(), key.size()) == 0;
}

std::optional<std::string> strongerPasswordHash(std::string_view password,
                                                std::string_view stored) {
    const auto hash = parseStored(stored);
    if (!hash || hash->iterations >= kPasswordIterations) return std::nullopt;
    return makePasswordHash(password);
}

std::optional<std::string> withEngineerPassword(std::string_view iniText, std::string_view hash) {
    // The reader takes the first of duplicate keys: that one is replaced.
    bool inProduction = false;
    for (std::size_t start = 0; start < iniText.size();) {
        auto end = iniText.find('\n', start);
        if (end == std::string_view::npos) end = iniText.size();
        const std::string_view line = iniText.substr(start, end - start);
        const std::string_view text = trimmed(line);
        if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
            inProduction = sameName(trimmed(text.substr(1, text.size() - 2)), "Production");
        } else if (const auto eq = line.find('=');
                   inProduction && eq != std::string_view::npos &&
                   sameName(trimmed(line.substr(0, eq)), "EngineerPassword")) {
            // Everything around the value (a line's \r) stays.
            const auto valueEnd = line.back() == '\r' ? line.size() - 1 : line.size();
            std::string out(iniText.substr(0, start + eq + 1));
            out += hash;
            out += iniText.substr(start + valueEnd);
            return out;
        }
        start = end + 1;
    }
    return std::nullopt;
}

bool storeEngineerPassword(const std::filesystem::path& setupIni, std::string_view hash) {
    std::ifstream in(setupIni, std::ios::binary);
    if (!in) return false;
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return false;
    const auto updated = withEngineerPassword(text, hash);
    return updated && core::writeFileAtomically(setupIni, updated->data(), updated->size());
}

}  // namespace sonoprog::production
