#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sonoprog::production {

// The engineer's password as Setup.ini keeps it ([Production]
// EngineerPassword=): "pbkdf2-sha256$<iterations>$<salt hex>$<key hex>",
// a PBKDF2-HMAC-SHA-256 key of a random 16-byte salt. The password itself is
// never stored.
// Hashes made with fewer iterations (by earlier versions) keep working and
// are made again at the next successful unlock.
inline constexpr int kPasswordIterations = 600000;

// nullopt when the system's random generator or the key derivation fails.
std::optional<std::string> makePasswordHash(std::string_view password,
                                            int iterations = kPasswordIterations);
// True when the password gives the stored key; false for a wrong password
// and for a stored text that is not such a hash (or empty: no engineer set up).
bool checkPassword(std::string_view password, std::string_view stored);

// After checkPassword() accepted `password`: a new hash of it when `stored`
// has fewer iterations than kPasswordIterations; nullopt when it has enough
// (or the new one cannot be made).
std::optional<std::string> strongerPasswordHash(std::string_view password, std::string_view stored);

// The settings text with [Production] EngineerPassword= set to `hash`; every
// other line stays byte for byte. nullopt when the text holds no such key.
std::optional<std::string> withEngineerPassword(std::string_view iniText, std::string_view hash);

// Setup.ini's EngineerPassword= replaced as above, the file written whole or
// not at all; false when it cannot be read or written.
bool storeEngineerPassword(const std::filesystem::path& setupIni, std::string_view hash);

}  // namespace sonoprog::production
