#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sonoprog::editor {

inline constexpr std::size_t kProjectLineLimit = 1023;  // characters kept of one line
inline constexpr int kProjectSections = 1024;           // section lines of a project

// "8000>1500>/voice/hello.wav>" + CR LF
std::string projectLine(std::string_view rate, std::string_view size, std::string_view file);

// A line split at ">" the way the project reader does it: blanks and control
// characters end a field too and are dropped (hence the "*" protection of
// blanks), so a tab in a field starts a new field; a NUL ends the line.
std::vector<std::string> splitProjectLine(std::string_view line);

struct ProjectRow {
    std::string rate;
    std::string size;
    std::string file;
};

// One section line as the table takes it: blanks protected as "*" while
// splitting, the first three fields, every "*" turned back into a blank.
// Missing fields stay empty.
ProjectRow parseProjectLine(std::string_view line);

// Reads the lines of a project file: a line ends at a line feed, which is
// consumed and not kept; of a longer line the first 1,023 characters are kept
// and the rest is passed over, so that one long line never spills into the
// next section. nullopt at the end of the file.
class ProjectLineReader {
public:
    explicit ProjectLineReader(std::FILE* file) : file_(file) {}
    std::optional<std::string> next();

private:
    std::FILE* file_;
};

// Whether a file that opens holds a project as the Sound Editor saves it: up to
// 1,024 section lines "RATE>SIZE>FILE>" (rate and size decimal or empty, no
// control character but the CR before the line feed), then at most the
// closing stamp. The reason when it does not (a WAV, a text, an empty file);
// nullopt when it does, or when it cannot be opened (the load says so).
std::optional<std::string> notAProject(const std::filesystem::path& file);

// A relative WAV path of a project is taken from the project file's folder.
std::string resolveWavePath(const std::filesystem::path& projectFile, const std::string& file);

}  // namespace sonoprog::editor
