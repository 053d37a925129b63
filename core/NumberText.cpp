#include "core/NumberText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace sonoprog::core {

std::string_view trimBlanks(std::string_view text) {
    const char* blanks = " \t\r\n\f\v";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

namespace {

// Parses [sign]digits in the given base; the whole text must be consumed.
std::optional<std::int64_t> parseSigned(std::string_view text, int base, bool allowPrefix,
                                        bool allowDollar) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (allowPrefix && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (allowDollar && text.size() > 1 && text[0] == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (magnitude > kMax + (negative ? 1 : 0)) return std::nullopt;
    if (negative) return static_cast<std::int64_t>(0 - magnitude);
    return static_cast<std::int64_t>(magnitude);
}

}  // namespace

std::int32_t fieldInt(std::string_view text) {
    auto value = parseSigned(trimBlanks(text), 10, false, false);
    if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
        *value > std::numeric_limits<std::int32_t>::max())
        return 0;
    return static_cast<std::int32_t>(*value);
}

std::optional<std::int64_t> parseSettingInteger(std::string_view text, bool allowDollar) {
    return parseSigned(trimBlanks(text), 10, true, allowDollar);
}

std::optional<std::uint64_t> parseOptionNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> parseOptionDecimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    // from_chars takes no "+", but reads "nan" and "inf", refused below.
    double value = 0;
    auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string hex8(std::uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(value));
    return buf;
}

std::string hex6(std::uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06X", static_cast<unsigned>(value));
    return buf;
}

std::string hex4(std::uint16_t value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(value));
    return buf;
}

}  // namespace sonoprog::core
