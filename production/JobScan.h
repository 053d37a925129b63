#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sonoprog::production {

// The job a barcode names, from the jobs folder ([Production] JobsFolder=):
// a scan is a job file's name (with or without ".json") or the first 12 or
// more hex digits of the job file's SHA-256 (as the records carry it), in
// either case. A scan that fits no job, or more than one, opens none.
struct ScannedJob {
    std::optional<std::filesystem::path> file;
    std::string error;  // why none, when file is empty
};
ScannedJob findScannedJob(std::string_view scan, const std::filesystem::path& jobsFolder);

// Whether `scan` names the job file called `fileName` whose bytes hash to `fileSha256`.
bool scanNamesJob(std::string_view scan, std::string_view fileName, std::string_view fileSha256);

}  // namespace sonoprog::production
