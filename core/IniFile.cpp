#include "core/IniFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/FileHandle.h"
#include "core/NumberText.h"

namespace sonoprog::core {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// Line reader for ini_parse_stream: hands inih whole lines, each cut to the
// buffer, and drops the rest of an over-long line so that its tail never turns
// into a key of its own. NUL bytes end nothing and are dropped.
struct LineSource {
    std::FILE* file = nullptr;
    std::string_view text;
    std::size_t pos = 0;
    bool fromText = false;
    int lineNumber = 0;
    std::vector<IniFile::LongLine>* longLines = nullptr;

    int next() {
        if (fromText) return pos < text.size() ? static_cast<unsigned char>(text[pos++]) : EOF;
        return std::fgetc(file);
    }
};

char* readLine(char* buf, int size, void* stream) {
    auto* src = static_cast<LineSource*>(stream);
    int c = src->next();
    if (c == EOF) return nullptr;
    int used = 0;
    bool cut = false;
    ++src->lineNumber;
    // A line indented with blanks is a key line of its own, as the desktop
    // reader takes it, not the continuation of the previous value.
    while (c == ' ' || c == '\t') c = src->next();
    while (c != EOF) {
        if (c == '\n') break;
        if (c != '\0') {
            if (used < size - 2)
                buf[used++] = static_cast<char>(c);
            else
                cut = true;
        }
        c = src->next();
    }
    // The reader's line buffer is fixed; a cut line is told, never silent.
    if (cut && src->longLines) {
        const std::string_view kept(buf, static_cast<std::size_t>(used));
        const auto eq = kept.find('=');
        src->longLines->push_back({src->lineNumber,
                                   eq == std::string_view::npos
                                       ? std::string()
                                       : std::string(trimBlanks(kept.substr(0, eq))),
                                   used});
    }
    buf[used++] = '\n';
    buf[used] = '\0';
    return buf;
}

}  // namespace

std::string IniFile::makeKey(std::string_view section, std::string_view key) {
    return lower(section) + '\x1f' + lower(key);
}

int IniFile::onValue(void* user, const char* section, const char* name, const char* value) {
    auto* self = static_cast<IniFile*>(user);
    if (!name) return onSection(user, section);
    self->sections_.emplace(lower(section), true);
    // First occurrence wins; continuation lines of a value are passed over.
    self->values_.emplace(makeKey(section, name), trimBlanks(value));
    return 1;
}

int IniFile::onSection(void* user, const char* section) {
    static_cast<IniFile*>(user)->sections_.emplace(lower(section), true);
    return 1;
}

IniFile IniFile::load(const std::filesystem::path& path) {
    IniFile ini;
    // Settings come from a regular file only: opening a named pipe would wait
    // for a writer, and a device such as /dev/zero never ends.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ini;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ini;
    }
    FilePtr f(::fdopen(fd, "rb"));
    if (!f) {
        ::close(fd);
        return ini;
    }
    LineSource src;
    src.file = f.get();
    src.longLines = &ini.longLines_;
    ini.source_ = path.string();
    ini.loaded_ = true;
    ini_parse_stream(readLine, &src, &IniFile::onValue, &ini);
    return ini;
}

IniFile IniFile::fromText(std::string_view text) {
    IniFile ini;
    LineSource src;
    src.fromText = true;
    src.text = text;
    src.longLines = &ini.longLines_;
    ini.loaded_ = true;
    ini_parse_stream(readLine, &src, &IniFile::onValue, &ini);
    return ini;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
    auto it = values_.find(makeKey(section, key));
    if (it == values_.end()) return std::string(fallback);
    return it->second;
}

std::int64_t IniFile::readInteger(std::string_view section, std::string_view key,
                                  std::int64_t fallback, bool allowDollar) const {
    auto it = values_.find(makeKey(section, key));
    if (it == values_.end()) return fallback;
    auto value = parseSettingInteger(it->second, allowDollar);
    return value ? *value : fallback;
}

std::vector<std::string> IniFile::lineWarnings() const {
    std::vector<std::string> out;
    for (const LongLine& l : longLines_)
        out.push_back(source_ + ": line " + std::to_string(l.line) +
                      (l.key.empty() ? std::string() : " (key " + l.key + ")") +
                      " is longer than the " + std::to_string(l.kept) +
                      " characters that are read; the rest of it is passed over");
    return out;
}

bool IniFile::hasSection(std::string_view section) const {
    return sections_.count(lower(section)) != 0;
}

std::vector<std::string> IniFile::keyNames(std::string_view section) const {
    const std::string prefix = lower(section) + '\x1f';
    std::vector<std::string> names;
    for (auto it = values_.lower_bound(prefix);
         it != values_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        names.push_back(it->first.substr(prefix.size()));
    return names;
}

}  // namespace sonoprog::core
