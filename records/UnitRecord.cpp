#include "records/UnitRecord.h"

#include <openssl/rand.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

namespace sonoprog::records {

namespace {

// Reads `width` decimal digits at `pos`; nullopt when they are not all digits.
std::optional<int> digits(std::string_view text, std::size_t pos, std::size_t width) {
    if (pos + width > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = pos; i < pos + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::string formatUtc(std::time_t seconds, int millis) {
    std::tm t{};
    gmtime_r(&seconds, &t);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis);
    return buffer;
}

std::optional<std::uint32_t> hexPage(std::string_view text) {
    if (text.size() < 3 || text.substr(0, 2) != "0x") return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text.substr(2)) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return std::nullopt;
        if (value > 0x0FFFFFFFu) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return value;
}

}  // namespace

std::string yieldText(const Counters& counters) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.1f", counters.yield());
    return buffer;
}

std::string newRecordId() {
    std::array<unsigned char, 16> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        // The secure generator is unavailable (it practically never is); the
        // system's random device still makes collisions out of reach.
        std::random_device device;
        for (auto& b : bytes) b = static_cast<unsigned char>(device());
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

std::string utcTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    return formatUtc(static_cast<std::time_t>(ms / 1000), static_cast<int>(ms % 1000));
}

std::string stationName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
    return name;
}

std::string mirroredText(const std::vector<MirroredPage>& pages) {
    std::string out;
    char buffer[32];
    for (const auto& p : pages) {
        std::snprintf(buffer, sizeof buffer, "0x%06X>0x%06X", p.page, p.spare);
        if (!out.empty()) out += ' ';
        out += buffer;
    }
    return out;
}

std::optional<std::vector<MirroredPage>> parseMirrored(std::string_view text) {
    std::vector<MirroredPage> pages;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(' ', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view item = text.substr(pos, end - pos);
        const std::size_t arrow = item.find('>');
        if (arrow == std::string_view::npos) return std::nullopt;
        const auto page = hexPage(item.substr(0, arrow));
        const auto spare = hexPage(item.substr(arrow + 1));
        if (!page || !spare) return std::nullopt;
        pages.push_back({*page, *spare});
        pos = end + 1;
    }
    return pages;
}

std::optional<std::string> normaliseUtcTime(std::string_view text) {
    const auto year = digits(text, 0, 4);
    const auto month = digits(text, 5, 2);
    const auto day = digits(text, 8, 2);
    if (!year || !month || !day || text[4] != '-' || text[7] != '-') return std::nullopt;
    std::tm t{};
    t.tm_year = *year - 1900;
    t.tm_mon = *month - 1;
    t.tm_mday = *day;
    int millis = 0;
    std::size_t pos = 10;
    if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
        const auto hour = digits(text, pos + 1, 2);
        const auto minute = digits(text, pos + 4, 2);
        if (!hour || !minute || text[pos + 3] != ':') return std::nullopt;
        t.tm_hour = *hour;
        t.tm_min = *minute;
        pos += 6;
        if (pos < text.size() && text[pos] == ':') {
            const auto second = digits(text, pos + 1, 2);
            if (!second) return std::nullopt;
            t.tm_sec = *second;
            pos += 3;
            if (pos < text.size() && text[pos] == '.') {
                ++pos;
                int scale = 100;
                const std::size_t first = pos;
                while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
                    millis += (text[pos] - '0') * scale;
                    scale /= 10;
                    ++pos;
                }
                if (pos == first) return std::nullopt;
            }
        }
    }
    long offsetSeconds = 0;
    if (pos < text.size()) {
        if (text[pos] == 'Z' && pos + 1 == text.size()) {
            ++pos;
        } else if ((text[pos] == '+' || text[pos] == '-') && pos + 6 == text.size()) {
            const auto oh = digits(text, pos + 1, 2);
            const auto om = digits(text, pos + 4, 2);
            if (!oh || !om || text[pos + 3] != ':') return std::nullopt;
            offsetSeconds = (*oh * 3600L + *om * 60L) * (text[pos] == '+' ? 1 : -1);
            pos += 6;
        } else {
            return std::nullopt;
        }
    }
    if (t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
        t.tm_sec > 60)
        return std::nullopt;
    const std::time_t seconds = timegm(&t);
    if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
    return formatUtc(seconds - offsetSeconds, millis);
}

}  // namespace sonoprog::records
