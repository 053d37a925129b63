#include "production/JobScan.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "production/ImageHash.h"

namespace sonoprog::production {

namespace {

constexpr std::size_t kShortHash = 12;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool isHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0; });
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

}  // namespace

bool scanNamesJob(std::string_view scan, std::string_view fileName, std::string_view fileSha256) {
    scan = trimmed(scan);
    if (scan.empty()) return false;
    if (scan == fileName) return true;
    constexpr std::string_view kExtension = ".json";
    if (fileName.size() > kExtension.size() && fileName.ends_with(kExtension) &&
        scan == fileName.substr(0, fileName.size() - kExtension.size()))
        return true;
    return scan.size() >= kShortHash && scan.size() <= fileSha256.size() && isHex(scan) &&
           sameIgnoringCase(scan, fileSha256.substr(0, scan.size()));
}

ScannedJob findScannedJob(std::string_view scan, const std::filesystem::path& jobsFolder) {
    ScannedJob result;
    const std::string shown(trimmed(scan));
    if (jobsFolder.empty()) {
        result.error = "No jobs folder is set ([Production] JobsFolder=).";
        return result;
    }
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(jobsFolder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const auto& path = it->path();
        if (path.extension() != ".json" || !it->is_regular_file(ec)) continue;
        const std::string name = path.filename().string();
        // Only a scan that could be a hash has the file read.
        const bool byName = scanNamesJob(scan, name, {});
        std::optional<std::string> hash;
        if (!byName && shown.size() >= kShortHash && isHex(shown)) hash = sha256File(path);
        if (byName || (hash && scanNamesJob(scan, name, *hash))) found.push_back(path);
    }
    if (ec) {
        result.error = jobsFolder.string() + ": cannot be read";
    } else if (found.empty()) {
        result.error = "No job in " + jobsFolder.string() + " fits the scan " + shown + ".";
    } else if (found.size() > 1) {
        result.error =
            "More than one job in " + jobsFolder.string() + " fits the scan " + shown + ".";
    } else {
        result.file = found.front();
    }
    return result;
}

}  // namespace sonoprog::production
