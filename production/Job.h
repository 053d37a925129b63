#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ivr/IvrKeys.h"

namespace sonoprog::production {

enum class Target { Tarn20, SerialFlash, Kiva300 };

// "tarn20", "serialflash", "kiva300": the names the job file and the records use.
std::string_view targetName(Target target);
std::optional<Target> parseTarget(std::string_view name);

// Everything a unit needs, fixed by the engineer who prepared the work.
struct Job {
    std::string name;
    Target target = Target::Tarn20;
    std::string device;  // the serial flash device (a section of Setup.ini)
    // The image as the job file names it: relative to the job file's folder
    // unless absolute. A .bin for the Tarn20 and serial flash, a .dat for the Kiva300.
    std::string image;
    std::string imageSha256;  // 64 lower-case hex digits
    std::string checkSum;     // 8 hex digits, or the Kiva300 check word (4)
    // Steps. Tarn20: write then verify with these fields; serial flash and
    // Kiva300: an optional blank check, then the write (which verifies).
    bool blankCheck = false;
    std::uint32_t startPage = 0;   // Start Page
    std::uint32_t writePages = 0;  // Write Page
    std::uint32_t infoPage = 17;   // Info Page
    std::uint32_t allowError = 3;  // Allow Error

    friend bool operator==(const Job&, const Job&) = default;
};

// The image's path for a job read from `jobFile`.
std::filesystem::path imagePath(const Job& job, const std::filesystem::path& jobFile);

// The job file's text (indented JSON, a line break at its end).
std::string jobToJson(const Job& job);
// One line of JSON with the same fields (job show --json).
std::string jobToJsonLine(const Job& job);
// Reads a job; nullopt with `error` set when the text is not a complete,
// consistent job (unknown target, a device only for serial flash, hash and
// check sum in their forms, ...).
std::optional<Job> jobFromJson(std::string_view text, std::string& error);

// A job file read from disk with the SHA-256 of its bytes (the records carry it).
struct LoadedJob {
    Job job;
    std::filesystem::path file;
    std::string fileSha256;
};
std::optional<LoadedJob> loadJob(const std::filesystem::path& file, std::string& error);

// The largest image a run reads into memory: the largest chip (the Tarn20's
// user area). A larger file fits no chip.
std::uint64_t largestImageBytes();

// Holds the job against its image's bytes as the chip's operations would:
// the check sum (the Kiva300 check word) must be the image's, a Tarn20 job's
// pages must lie within the image, and a serial flash job's device (as
// `setupIni` describes it) must be one the Writer can take and hold the
// image. nullopt when they agree; why not otherwise.
std::optional<std::string> imageMismatch(const Job& job, std::span<const std::uint8_t> image,
                                         const ivr::IvrKeys& keys,
                                         const std::filesystem::path& setupIni);

// Reads the job's image as a run does and holds the job against it: its
// SHA-256, then imageMismatch. nullopt when they agree; why not otherwise.
std::optional<std::string> jobImageProblem(const LoadedJob& loaded, const ivr::IvrKeys& keys,
                                           const std::filesystem::path& setupIni);

// The human-readable lines of job show.
std::string jobDescription(const LoadedJob& loaded);

}  // namespace sonoprog::production

namespace sonoprog::production {

// What `job new` is asked for; unset numbers take the Tarn20 tab's defaults
// (Start Page 0, Write Page the image's pages, Info Page 17, Allow Error 3).
struct JobRequest {
    std::string name;  // empty: the job file's name without its extension
    Target target = Target::Tarn20;
    std::string device;
    std::filesystem::path image;
    bool blankCheck = false;
    std::optional<std::uint32_t> startPage, writePages, infoPage, allowError;
};

enum class JobError { None, Usage, Image };

// Makes the job: checks the request is consistent (a usage error otherwise),
// reads the image for its SHA-256 and its check sum (or, for the Kiva300,
// converts it for its check word), and names the image relative to the job
// file's folder. `setupIni` lists the serial flash devices.
std::optional<Job> buildJob(const JobRequest& request, const std::filesystem::path& jobFile,
                            const std::filesystem::path& setupIni, const ivr::IvrKeys& keys,
                            JobError& kind, std::string& error);

}  // namespace sonoprog::production
