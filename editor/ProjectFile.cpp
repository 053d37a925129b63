#include "editor/ProjectFile.h"

#include <algorithm>
#include <system_error>

namespace sonoprog::editor {

namespace {
constexpr char kSeparator = '>';
bool endsField(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}
}  // namespace

std::string projectLine(std::string_view rate, std::string_view size, std::string_view file) {
    std::string line;
    line.reserve(rate.size() + size.size() + file.size() + 5);
    line.append(rate).push_back(kSeparator);
    line.append(size).push_back(kSeparator);
    line.append(file).push_back(kSeparator);
    line.append("\r\n");
    return line;
}

std::vector<std::string> splitProjectLine(std::string_view line) {
    line = line.substr(0, std::min(line.find('\0'), line.size()));
    std::vector<std::string> fields;
    std::size_t p = 0;
    const std::size_t n = line.size();
    auto skipBlanks = [&] {
        while (p < n && endsField(line[p])) ++p;
    };
    skipBlanks();
    while (p < n) {
        std::size_t start = p;
        while (p < n && !endsField(line[p]) && line[p] != kSeparator) ++p;
        fields.emplace_back(line.substr(start, p - start));
        skipBlanks();
        if (p < n && line[p] == kSeparator) {
            // A separator that closes the line still opens one last, empty field.
            if (p + 1 == n) fields.emplace_back();
            ++p;
            skipBlanks();
        }
    }
    return fields;
}

ProjectRow parseProjectLine(std::string_view line) {
    std::string protectedLine(line);
    std::replace(protectedLine.begin(), protectedLine.end(), ' ', '*');
    std::vector<std::string> fields = splitProjectLine(protectedLine);
    auto field = [&](std::size_t i) {
        std::string f = i < fields.size() ? fields[i] : std::string();
        std::replace(f.begin(), f.end(), '*', ' ');
        return f;
    };
    return {field(0), field(1), field(2)};
}

std::optional<std::string> ProjectLineReader::next() {
    std::string line;
    bool any = false;
    for (;;) {
        int c = std::getc(file_);
        if (c == EOF) break;
        any = true;
        if (c == '\n') break;
        if (line.size() < kProjectLineLimit) line.push_back(static_cast<char>(c));
    }
    if (!any) return std::nullopt;
    return line;
}

std::string resolveWavePath(const std::filesystem::path& projectFile, const std::string& file) {
    if (file.empty()) return file;
    std::filesystem::path p(file);
    if (p.is_absolute()) return file;
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(projectFile, ec).parent_path();
    if (ec) folder = projectFile.parent_path();
    return (folder / p).string();
}

}  // namespace sonoprog::editor
