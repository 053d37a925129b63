#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonoprog::core {

// A tab field read back as a signed 32-bit decimal integer; text that is not
// one (blank, letters, out of range) counts as 0. Blanks around the number
// are allowed.
std::int32_t fieldInt(std::string_view text);

// The same, as the unsigned 32-bit value the operations compute with
// ("-1" becomes 0xFFFFFFFF, as a 32-bit cast would make it).
inline std::uint32_t fieldUInt(std::string_view text) {
    return static_cast<std::uint32_t>(fieldInt(text));
}

// A settings integer: decimal, or hexadecimal behind "0x"/"0X" (and "$" when
// allowDollar), an optional sign, blanks around it. nullopt when it is not a
// number or does not fit 64 bits.
std::optional<std::int64_t> parseSettingInteger(std::string_view text, bool allowDollar);

// Strict unsigned number for command-line options: decimal or 0x-hexadecimal,
// nothing else. nullopt for anything malformed.
std::optional<std::uint64_t> parseOptionNumber(std::string_view text);

// A decimal fraction for command-line options ("-30", "-12.5", "1e-3"); NaN,
// the infinities, hexadecimal and anything malformed give nullopt.
std::optional<double> parseOptionDecimal(std::string_view text);

// 8 upper-case hexadecimal digits with leading zeros.
std::string hex8(std::uint32_t value);
// 6 upper-case hexadecimal digits (Tarn20 page numbers in messages).
std::string hex6(std::uint32_t value);
// 4 upper-case hexadecimal digits.
std::string hex4(std::uint16_t value);

std::string_view trimBlanks(std::string_view text);

}  // namespace sonoprog::core
