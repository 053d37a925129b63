#include "sim/WriterSettings.h"

#include "core/NumberText.h"

namespace sonoprog::sim {

namespace {

class Reader {
public:
    Reader(const core::IniFile& ini, WriterSettings& out) : ini_(ini), out_(out) {}

    // The key's number when present and within 0..max; a warning otherwise.
    std::optional<std::uint64_t> number(const char* section, const char* key, std::uint64_t min,
                                        std::uint64_t max) {
        std::string text = ini_.readString(section, key);
        if (text.empty()) return std::nullopt;
        auto value = core::parseSettingInteger(text, false);
        if (!value || *value < 0 || static_cast<std::uint64_t>(*value) < min ||
            static_cast<std::uint64_t>(*value) > max) {
            warn(section, key, text, min, max);
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(*value);
    }

    std::optional<std::uint8_t> byte(const char* section, const char* key) {
        auto v = number(section, key, 0, 0xFF);
        if (!v) return std::nullopt;
        return static_cast<std::uint8_t>(*v);
    }

    void pageList(const char* section, const char* key, std::vector<std::uint32_t>& pages) {
        numberList(section, key, 0, kTarnPageCount - 1, pages);
    }

    // A comma-separated list of numbers within min..max; others are passed over.
    void numberList(const char* section, const char* key, std::uint32_t min, std::uint32_t max,
                    std::vector<std::uint32_t>& out) {
        std::string text = ini_.readString(section, key);
        std::string_view rest = text;
        while (!rest.empty()) {
            auto comma = rest.find(',');
            std::string_view item = core::trimBlanks(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
            if (item.empty()) continue;
            // "100-6999": every number from the first to the last, so that one
            // short line can spoil a whole stretch (the spare area included).
            const auto dash = item.find('-', 1);
            const auto first = listNumber(item.substr(0, dash), min, max);
            const auto last = dash == std::string_view::npos
                                  ? first
                                  : listNumber(item.substr(dash + 1), min, max);
            if (!first || !last || *last < *first) {
                warn(section, key, std::string(item), min, max);
                continue;
            }
            for (std::uint32_t n = *first; n <= *last; ++n) out.push_back(n);
        }
    }

private:
    static std::optional<std::uint32_t> listNumber(std::string_view text, std::uint32_t min,
                                                   std::uint32_t max) {
        auto value = core::parseSettingInteger(core::trimBlanks(text), false);
        if (!value || *value < min || *value > max) return std::nullopt;
        return static_cast<std::uint32_t>(*value);
    }

    void warn(const char* section, const char* key, const std::string& text, std::uint64_t min,
              std::uint64_t max) {
        out_.warnings.push_back("writer.ini: [" + std::string(section) + "] " + key + ": \"" +
                                text + "\" is not a number from " + std::to_string(min) + " to " +
                                std::to_string(max) + "; passed over");
    }

    const core::IniFile& ini_;
    WriterSettings& out_;
};

}  // namespace

WriterSettings readWriterSettings(const core::IniFile& ini) {
    WriterSettings s;
    Reader r(ini, s);
    r.pageList("Tarn20", "BadPages", s.tarnBadPages);
    s.tarnDetectStatus = r.byte("Tarn20", "DetectStatus");
    s.serialFlashMid = r.byte("Series Flash", "MID");
    s.serialFlashDid = r.byte("Series Flash", "DID");
    if (auto size = r.number("Series Flash", "Size", 1, kMaxSerialFlashSize))
        s.serialFlashSize = static_cast<std::uint32_t>(*size);
    s.serialFlashDetectStatus = r.byte("Series Flash", "DetectStatus");
    s.kivaDetectStatus = r.byte("Kiva300", "DetectStatus");
    s.failFrom = r.number("Writer", "FailFrom", 0, UINT64_MAX >> 1).value_or(0);
    s.roundTripUs = static_cast<std::uint32_t>(
        r.number("Writer", "RoundTripUs", 0, kMaxRoundTripUs).value_or(0));
    if (ini.hasSection("Socket")) {
        SocketScript socket;
        socket.units =
            static_cast<std::uint32_t>(r.number("Socket", "Units", 0, kMaxSocketUnits).value_or(0));
        std::vector<std::uint32_t> bad;
        r.numberList("Socket", "Bad", 1, kMaxSocketUnits, bad);
        socket.bad.insert(bad.begin(), bad.end());
        socket.swap =
            std::chrono::milliseconds(r.number("Socket", "SwapMs", 0, kMaxSwapMs).value_or(0));
        s.socket = socket;
    }
    return s;
}

WriterSettings readWriterSettings(const std::filesystem::path& file) {
    const core::IniFile ini = core::IniFile::load(file);
    WriterSettings settings = readWriterSettings(ini);
    for (auto& w : ini.lineWarnings()) settings.warnings.push_back(std::move(w));
    return settings;
}

}  // namespace sonoprog::sim
