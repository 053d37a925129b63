#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sonoprog::production {

// The engineer's password as Setup.ini keeps it ([Production]
// EngineerPassword=): "pbkdf2-sha256$<iterations>$<salt hex>$<key hex>",
// a PBKDF2-HMAC-SHA-256 key of a random 16-byte salt. The password itself is
// never stored.
inline constexpr int kPasswordIterations = 200000;

// nullopt when the system's random generator or the key derivation fails.
std::optional<std::string> makePasswordHash(std::string_view password,
                                            int iterations = kPasswordIterations);
// True when the password gives the stored key; false for a wrong password
// and for a stored text that is not such a hash (or empty: no engineer set up).
bool checkPassword(std::string_view password, std::string_view stored);

}  // namespace sonoprog::production
