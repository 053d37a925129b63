#include "editor/ProjectFile.h"

#include <algorithm>
#include <system_error>

#include "core/FileHandle.h"
#include "core/NumberText.h"

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

std::optional<std::string> notAProject(const std::filesystem::path& file) {
    core::FilePtr in = core::openForReading(file);
    if (!in) return std::nullopt;
    const std::string refusal = file.string() + " is not a Sound Editor project";
    auto digitsOrEmpty = [](std::string_view field) {
        field = core::trimBlanks(field);
        return std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    ProjectLineReader reader(in.get());
    int sections = 0;
    while (std::optional<std::string> line = reader.next()) {
        std::string_view text = *line;
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        // The loader reads no further than the sections.
        if (sections == kProjectSections) return std::nullopt;
        const int after = std::getc(in.get());
        const bool last = after == EOF;
        if (!last) std::ungetc(after, in.get());
        // The stamp closes the file, on a line of its own.
        if (last && sections > 0 && text.find(kSeparator) == std::string_view::npos &&
            std::none_of(text.begin(), text.end(), endsField))
            return std::nullopt;
        const std::size_t rateEnd = text.find(kSeparator);
        const std::size_t sizeEnd =
            rateEnd == std::string_view::npos ? rateEnd : text.find(kSeparator, rateEnd + 1);
        const bool controls = std::any_of(text.begin(), text.end(), [](char c) {
            return static_cast<unsigned char>(c) < ' ' && c != '\t';
        });
        if (sizeEnd == std::string_view::npos || controls ||
            !digitsOrEmpty(text.substr(0, rateEnd)) ||
            !digitsOrEmpty(text.substr(rateEnd + 1, sizeEnd - rateEnd - 1)))
            return refusal + " (line " + std::to_string(sections + 1) + ")";
        ++sections;
    }
    if (sections == 0) return refusal + " (it is empty)";
    return std::nullopt;
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
