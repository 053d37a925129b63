#include "records/UnitRecord.h"

#include <pthread.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
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

namespace {

// Kernel randomness is read a block at a time and handed out 16 bytes per id:
// one system call per sixteen units rather than one per unit. A forked child
// drops what its parent had left, so parent and child never hand out the same
// bytes (a child started with exec begins afresh anyway).
struct RandomPool {
    std::array<unsigned char, 256> bytes{};
    std::size_t used = 256;
    unsigned generation = 0;
};
std::atomic<unsigned> forkGeneration{0};
thread_local RandomPool pool;

void nextRandom(std::array<unsigned char, 16>& out) {
    static std::once_flag registered;
    std::call_once(registered,
                   [] { ::pthread_atfork(nullptr, nullptr, [] { forkGeneration.fetch_add(1); }); });
    const unsigned generation = forkGeneration.load();
    if (pool.generation != generation) {
        pool.used = pool.bytes.size();
        pool.generation = generation;
    }
    if (pool.used + out.size() > pool.bytes.size()) {
        if (::getrandom(pool.bytes.data(), pool.bytes.size(), 0) !=
            static_cast<ssize_t>(pool.bytes.size())) {
            // Not there (an old kernel) or cut short by a signal: the random
            // device still makes collisions out of reach.
            std::random_device device;
            for (auto& b : pool.bytes) b = static_cast<unsigned char>(device());
        }
        pool.used = 0;
    }
    std::memcpy(out.data(), pool.bytes.data() + pool.used, out.size());
    pool.used += out.size();
}

}  // namespace

std::string newRecordId() {
    std::array<unsigned char, 16> bytes{};
    nextRandom(bytes);
    // The first 48 bits are the Unix time in milliseconds, big-endian: ids
    // made one after another sort together, so the id index takes each new
    // record at its right edge instead of on a random leaf of a large tree.
    const auto ms =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
    for (int i = 0; i < 6; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(ms >> (8 * (5 - i)));
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x70);  // version 7
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    // 8-4-4-4-12 hex digits.
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
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
