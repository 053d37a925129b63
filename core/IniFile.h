#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sonoprog::core {

// Read-only INI settings, behaving like the desktop's INI reader: section and
// key names match without regard to case, values are trimmed, the first of
// duplicate keys wins, and a missing file, section or key gives the default
// (a path that is not a regular file, a pipe or a device, counts as missing).
// Lines without "=" and unreadable bytes are passed over; nothing here throws.
class IniFile {
public:
    IniFile() = default;
    static IniFile load(const std::filesystem::path& path);
    static IniFile fromText(std::string_view text);

    bool loaded() const { return loaded_; }
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view fallback = {}) const;
    // Decimal or "0x"/"0X" hexadecimal ("$" too when allowDollar); a missing or
    // non-numeric value gives the fallback.
    std::int64_t readInteger(std::string_view section, std::string_view key, std::int64_t fallback,
                             bool allowDollar = false) const;
    bool hasSection(std::string_view section) const;
    // The key names of a section, in lower case, sorted.
    std::vector<std::string> keyNames(std::string_view section) const;

    // Lines longer than the reader takes: only their start is read.
    struct LongLine {
        int line = 0;     // from 1
        std::string key;  // empty when the part read holds no "="
        int kept = 0;     // characters read
    };
    const std::vector<LongLine>& longLines() const { return longLines_; }
    // One warning per long line, naming the file, the line and the key.
    std::vector<std::string> lineWarnings() const;

private:
    static std::string makeKey(std::string_view section, std::string_view key);
    static int onValue(void* user, const char* section, const char* name, const char* value);
    static int onSection(void* user, const char* section);

    bool loaded_ = false;
    std::map<std::string, std::string> values_;
    std::map<std::string, bool> sections_;
    std::vector<LongLine> longLines_;
    std::string source_ = "(settings text)";
};

}  // namespace sonoprog::core
