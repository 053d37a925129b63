#include "production/Job.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/FileHandle.h"
#include "core/ImageSnapshot.h"
#include "core/ImageSum.h"
#include "core/IniFile.h"
#include "core/LineSafe.h"
#include "core/NumberText.h"
#include "core/YieldHook.h"
#include "ivr/Ivr2bin.h"
#include "kiva/KivaCommands.h"
#include "production/ImageHash.h"
#include "serialflash/SerialFlashDevices.h"
#include "tarn/TarnCommands.h"

namespace sonoprog::production {

namespace {

using nlohmann::ordered_json;

bool isHex(std::string_view text, std::size_t length) {
    if (text.size() != length) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

bool isLowerHex(std::string_view text, std::size_t length) {
    if (!isHex(text, length)) return false;
    for (char c : text)
        if (c >= 'A' && c <= 'F') return false;
    return true;
}

// The Tarn20 page fields as the write checks its range, in 64 bits so that
// nothing wraps back into the user area or past the pages held exactly.
std::optional<std::string> pageFieldsProblem(const Job& job) {
    if (job.writePages == 0 ||
        std::uint64_t{job.startPage} + job.writePages - 1 >= tarn::kUserPages)
        return "\"start_page\" and \"write_pages\" leave the chip's user area";
    if (job.infoPage > tarn::kUserPages) return "\"info_page\" is beyond the chip's pages";
    return std::nullopt;
}

// A serial flash image held to the job's device as this station's Setup.ini
// describes it, as the write holds it: a device the Writer can address and
// detect, as large as the image at least, and an image that is not empty.
std::optional<std::string> deviceProblem(const std::string& name, std::uint64_t imageBytes,
                                         const std::filesystem::path& setupIni) {
    const auto device = serialflash::readDevice(core::IniFile::load(setupIni), name);
    if (device.refusedSize != 0) return serialflash::refusalText(device);
    if (device.size <= 0 || !device.idsConfigured())
        return "no serial flash device \"" + core::lineSafe(name) + "\" in " + setupIni.string();
    if (imageBytes == 0) return "the image is empty";
    if (imageBytes > static_cast<std::uint64_t>(device.size))
        return "the image's " + std::to_string(imageBytes) + " bytes do not fit " +
               core::lineSafe(name) + " (" + std::to_string(device.size) + " bytes)";
    return std::nullopt;
}

// Whether the text stays itself in a JSON string (valid UTF-8).
bool fitsJson(const std::string& text) {
    const std::string dumped =
        nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::ignore);
    return nlohmann::json::parse(dumped).get_ref<const std::string&>() == text;
}

// Never throws: the texts of a job read from JSON are valid UTF-8 already, and
// buildJob refuses others.
std::string dumpJson(const ordered_json& j, int indent) {
    return j.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

ordered_json toJson(const Job& job) {
    ordered_json j;
    j["name"] = job.name;
    j["target"] = std::string(targetName(job.target));
    if (job.target == Target::SerialFlash) j["device"] = job.device;
    j["image"] = {{"path", job.image}, {"sha256", job.imageSha256}, {"checksum", job.checkSum}};
    ordered_json steps;
    if (job.target == Target::Tarn20) {
        steps["write"] = true;
        steps["verify"] = true;
        steps["start_page"] = job.startPage;
        steps["write_pages"] = job.writePages;
        steps["info_page"] = job.infoPage;
        steps["allow_error"] = job.allowError;
    } else {
        steps["blank_check"] = job.blankCheck;
        steps["write"] = true;
    }
    j["steps"] = steps;
    return j;
}

}  // namespace

namespace {

// The file's long name of each target, and the command line's short one.
struct TargetName {
    Target target;
    std::string_view name;
    std::string_view shortName;
};
constexpr TargetName kTargetNames[] = {
    {Target::Tarn20, "tarn20", "tarn"},
    {Target::SerialFlash, "serialflash", "nor"},
    {Target::Kiva300, "kiva300", "kiva"},
};

}  // namespace

std::string_view targetName(Target target) {
    for (const auto& row : kTargetNames)
        if (row.target == target) return row.name;
    return kTargetNames[0].name;
}

std::optional<Target> parseTarget(std::string_view name) {
    for (const auto& row : kTargetNames)
        if (name == row.name || name == row.shortName) return row.target;
    return std::nullopt;
}

std::filesystem::path imagePath(const Job& job, const std::filesystem::path& jobFile) {
    const std::filesystem::path image(job.image);
    if (image.is_absolute()) return image;
    return jobFile.parent_path() / image;
}

std::string jobToJson(const Job& job) {
    return dumpJson(toJson(job), 2) + "\n";
}

std::string jobToJsonLine(const Job& job) {
    return dumpJson(toJson(job), -1);
}

std::optional<Job> jobFromJson(std::string_view text, std::string& error) {
    const auto j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded()) {
        error = "not JSON";
        return std::nullopt;
    }
    if (!j.is_object()) {
        error = "not a job (a JSON object)";
        return std::nullopt;
    }
    Job job;
    auto text_ = [&](const nlohmann::json& o, const char* key, std::string& into) {
        const auto it = o.find(key);
        if (it == o.end() || !it->is_string()) {
            error = std::string("\"") + key + "\" missing or not a text";
            return false;
        }
        into = it->get<std::string>();
        return true;
    };
    auto number = [&](const nlohmann::json& o, const char* key, std::uint32_t& into) {
        const auto it = o.find(key);
        if (it == o.end()) return true;  // the field's default
        if (!it->is_number_unsigned() || it->get<std::uint64_t>() > 0xFFFFFFFFu) {
            error = std::string("\"") + key + "\" is not a number from 0 to 4294967295";
            return false;
        }
        into = static_cast<std::uint32_t>(it->get<std::uint64_t>());
        return true;
    };
    auto flag = [&](const nlohmann::json& o, const char* key, bool& into) {
        const auto it = o.find(key);
        if (it == o.end()) return true;
        if (!it->is_boolean()) {
            error = std::string("\"") + key + "\" is not true or false";
            return false;
        }
        into = it->get<bool>();
        return true;
    };
    std::string target;
    if (!text_(j, "name", job.name) || !text_(j, "target", target)) return std::nullopt;
    const auto parsed = parseTarget(target);
    if (!parsed) {
        error = "unknown target \"" + target + "\" (tarn20, serialflash or kiva300)";
        return std::nullopt;
    }
    job.target = *parsed;
    if (job.target == Target::SerialFlash) {
        if (!text_(j, "device", job.device)) return std::nullopt;
        if (job.device.empty()) {
            error = "a serial flash job needs a device";
            return std::nullopt;
        }
    } else if (j.contains("device")) {
        error = "only a serial flash job names a device";
        return std::nullopt;
    }
    const auto image = j.find("image");
    if (image == j.end() || !image->is_object()) {
        error = "\"image\" missing";
        return std::nullopt;
    }
    if (!text_(*image, "path", job.image) || !text_(*image, "sha256", job.imageSha256) ||
        !text_(*image, "checksum", job.checkSum))
        return std::nullopt;
    if (job.image.empty()) {
        error = "the image has no path";
        return std::nullopt;
    }
    if (!isLowerHex(job.imageSha256, 64)) {
        error = "the image's sha256 is not 64 lower-case hex digits";
        return std::nullopt;
    }
    const std::size_t sumDigits = job.target == Target::Kiva300 ? 4 : 8;
    if (!isHex(job.checkSum, sumDigits)) {
        error = "the image's checksum is not " + std::to_string(sumDigits) + " hex digits";
        return std::nullopt;
    }
    const auto steps = j.find("steps");
    if (steps != j.end()) {
        if (!steps->is_object()) {
            error = "\"steps\" is not an object";
            return std::nullopt;
        }
        bool write = true, verify = true;
        if (!flag(*steps, "write", write) || !flag(*steps, "verify", verify)) return std::nullopt;
        if (!write || (job.target == Target::Tarn20 && !verify)) {
            error = "a job writes every unit (the Tarn20 writes and verifies)";
            return std::nullopt;
        }
        if (job.target == Target::Tarn20) {
            if (steps->contains("blank_check")) {
                error = "a Tarn20 job has no blank check";
                return std::nullopt;
            }
            if (!number(*steps, "start_page", job.startPage) ||
                !number(*steps, "write_pages", job.writePages) ||
                !number(*steps, "info_page", job.infoPage) ||
                !number(*steps, "allow_error", job.allowError))
                return std::nullopt;
            if (auto problem = pageFieldsProblem(job)) {
                error = *problem;
                return std::nullopt;
            }
        } else {
            for (const char* key : {"start_page", "write_pages", "info_page", "allow_error"}) {
                if (steps->contains(key)) {
                    error = std::string("\"") + key + "\" belongs to a Tarn20 job only";
                    return std::nullopt;
                }
            }
            if (!flag(*steps, "blank_check", job.blankCheck)) return std::nullopt;
        }
    }
    return job;
}

std::optional<LoadedJob> loadJob(const std::filesystem::path& file, std::string& error) {
    // A pipe or a device would never end; refused at once with what it is.
    core::FilePtr in = core::openForReading(file, error);
    if (!in) return std::nullopt;
    std::string bytes;
    char block[65536];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, in.get())) > 0;)
        bytes.append(block, n);
    if (std::ferror(in.get())) {
        error = file.string() + ": cannot be read";
        return std::nullopt;
    }
    std::string why;
    auto job = jobFromJson(bytes, why);
    if (!job) {
        error = file.string() + ": " + why;
        return std::nullopt;
    }
    return LoadedJob{std::move(*job), file, sha256Hex(bytes)};
}

std::uint64_t largestImageBytes() {
    return std::uint64_t{tarn::kUserPages} * tarn::kPageSize;
}

std::optional<std::string> imageMismatch(const Job& job, std::span<const std::uint8_t> image,
                                         const ivr::IvrKeys& keys,
                                         const std::filesystem::path& setupIni) {
    auto sameHex = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::toupper(static_cast<unsigned char>(x)) ==
                          std::toupper(static_cast<unsigned char>(y));
               });
    };
    if (job.target == Target::Kiva300) {
        std::vector<std::uint8_t> converted(kiva::kKivaSize);
        core::FilePtr stream;
        if (!image.empty())
            stream.reset(::fmemopen(const_cast<std::uint8_t*>(image.data()), image.size(), "rb"));
        if (ivr::IvrStreamToImage(stream.get(), converted.data(), converted.size(), keys) !=
            ivr::kIvrOk)
            return "the image is not a Kiva300 DAT file";
        const std::string word =
            core::hex4(static_cast<std::uint16_t>(converted[14] | (converted[15] << 8)));
        if (!sameHex(word, job.checkSum))
            return "the job's check word " + job.checkSum + " is not the image's (" + word + ")";
        return std::nullopt;
    }
    const std::string sum = core::hex8(core::sumBytes(image.data(), image.size()));
    if (!sameHex(sum, job.checkSum))
        return "the job's check sum " + job.checkSum + " is not the image's (" + sum + ")";
    if (job.target == Target::SerialFlash) return deviceProblem(job.device, image.size(), setupIni);
    if (job.target == Target::Tarn20) {
        // What Load File and the write hold the fields to.
        const std::uint64_t pages = image.size() / tarn::kPageSize;
        if (pages == 0 || image.size() % tarn::kPageSize != 0)
            return "the image is not whole 1,024-byte pages";
        if (job.writePages > pages)
            return "the job writes " + std::to_string(job.writePages) + " pages of an image of " +
                   std::to_string(pages);
        if (job.infoPage > pages)
            return "the job's info page " + std::to_string(job.infoPage) +
                   " lies beyond the image's " + std::to_string(pages) + " pages";
    }
    return std::nullopt;
}

std::optional<std::string> jobImageProblem(const LoadedJob& loaded, const ivr::IvrKeys& keys,
                                           const std::filesystem::path& setupIni) {
    std::string error;
    const auto image =
        core::ImageSnapshot::read(imagePath(loaded.job, loaded.file), largestImageBytes(), error);
    if (!image) return error;
    const auto bytes = image->bytes();
    if (sha256Hex({reinterpret_cast<const char*>(bytes.data()), bytes.size()}) !=
        loaded.job.imageSha256)
        return image->path().string() + ": not the image the job was made from (SHA-256)";
    return imageMismatch(loaded.job, bytes, keys, setupIni);
}

std::string jobDescription(const LoadedJob& loaded) {
    const Job& job = loaded.job;
    std::ostringstream out;
    // Names and paths come from the job file: shown escaped, they cannot forge a line.
    out << "Job:       " << core::lineSafe(job.name) << "\n";
    out << "Target:    " << targetName(job.target);
    if (job.target == Target::SerialFlash) out << " " << core::lineSafe(job.device);
    out << "\n";
    out << "Image:     " << core::lineSafe(imagePath(job, loaded.file).string()) << "\n";
    out << "SHA-256:   " << job.imageSha256 << "\n";
    out << (job.target == Target::Kiva300 ? "Check word: " : "Check sum: ") << job.checkSum << "\n";
    if (job.target == Target::Tarn20) {
        out << "Steps:     write, verify\n";
        out << "Start Page: " << job.startPage << "\n";
        out << "Write Page: " << job.writePages << "\n";
        out << "Info Page:  " << job.infoPage << "\n";
        out << "Allow Error: " << job.allowError << "\n";
    } else {
        out << "Steps:     " << (job.blankCheck ? "blank check, " : "") << "write"
            << (job.target == Target::SerialFlash ? " (erase, write, verify)" : " (write, verify)")
            << "\n";
    }
    out << "Job file SHA-256: " << loaded.fileSha256 << "\n";
    return out.str();
}

std::optional<Job> buildJob(const JobRequest& request, const std::filesystem::path& jobFile,
                            const std::filesystem::path& setupIni, const ivr::IvrKeys& keys,
                            JobError& kind, std::string& error) {
    auto usage = [&](std::string message) -> std::optional<Job> {
        kind = JobError::Usage;
        error = std::move(message);
        return std::nullopt;
    };
    auto imageError = [&](std::string message) -> std::optional<Job> {
        kind = JobError::Image;
        error = request.image.string() + ": " + std::move(message);
        return std::nullopt;
    };
    kind = JobError::None;
    const bool tarn = request.target == Target::Tarn20;
    if (request.target == Target::SerialFlash && request.device.empty())
        return usage("a serialflash job needs --device");
    if (request.target != Target::SerialFlash && !request.device.empty())
        return usage("--device belongs to a serialflash job only");
    if (tarn && request.blankCheck) return usage("a tarn20 job has no blank check (--blank)");
    if (!tarn &&
        (request.startPage || request.writePages || request.infoPage || request.allowError))
        return usage("--start, --count, --info-page and --allow-error belong to a tarn20 job only");
    if (request.target == Target::SerialFlash) {
        const auto device = serialflash::readDevice(core::IniFile::load(setupIni), request.device);
        if (device.refusedSize != 0) return usage(serialflash::refusalText(device));
        if (device.size <= 0)
            return usage("no serial flash device \"" + request.device + "\" in " +
                         setupIni.string());
    }

    Job job;
    job.target = request.target;
    job.device = request.device;
    job.blankCheck = request.blankCheck;
    job.name = request.name.empty() ? jobFile.stem().string() : request.name;
    // A pipe or a device would never end; refused at once with what it is.
    std::string notRegular;
    if (!core::openForReading(request.image, notRegular)) {
        kind = JobError::Image;
        error = notRegular;
        return std::nullopt;
    }
    const auto sha = sha256File(request.image);
    if (!sha) return imageError("cannot be read");
    job.imageSha256 = *sha;

    if (request.target == Target::Kiva300) {
        std::vector<std::uint8_t> image(kiva::kKivaSize);
        if (ivr::IvrToImage(request.image.string(), image.data(), image.size(), keys) !=
            ivr::kIvrOk)
            return imageError("not a Kiva300 DAT file");
        job.checkSum = core::hex4(static_cast<std::uint16_t>(image[14] | (image[15] << 8)));
    } else {
        core::FilePtr file = core::openForReading(request.image.string());
        if (!file) return imageError("cannot be read");
        core::NoYield yield;
        const auto sum = core::sumImageStream(file.get(), yield);
        if (!sum.ok) return imageError("cannot be read");
        job.checkSum = core::hex8(sum.sum);
        if (request.target == Target::SerialFlash) {
            if (auto problem = deviceProblem(request.device, sum.bytes, setupIni))
                return usage(*problem);
        }
        if (tarn) {
            const std::uint64_t pages = sum.bytes / tarn::kPageSize;
            if (sum.bytes == 0 || sum.bytes % tarn::kPageSize != 0)
                return imageError("not whole 1,024-byte pages");
            job.startPage = request.startPage.value_or(0);
            job.writePages = request.writePages.value_or(static_cast<std::uint32_t>(pages));
            job.infoPage = request.infoPage.value_or(17);
            job.allowError = request.allowError.value_or(3);
            if (job.writePages == 0) return usage("--count must be at least 1");
            if (job.writePages > pages) return usage("--count is larger than the image's pages");
            if (job.infoPage > pages) return usage("--info-page is larger than the image's pages");
            if (pageFieldsProblem(job))
                return usage("--start and --count leave the chip's user area");
        }
    }
    // Relative to the job file's folder, so the job and its image move together.
    std::error_code ec;
    const auto jobDir = std::filesystem::absolute(jobFile, ec).parent_path();
    const auto image = std::filesystem::absolute(request.image, ec);
    job.image = std::filesystem::proximate(image, jobDir, ec).generic_string();
    if (ec || job.image.empty()) job.image = image.generic_string();
    // A job file is JSON, whose texts are UTF-8: other bytes could only be
    // replaced, and a replaced image path would name another file.
    if (!fitsJson(job.name)) return usage("the job's name is not valid UTF-8 text");
    if (!fitsJson(job.image))
        return usage(core::lineSafe(job.image) + ": the image's path is not valid UTF-8 text");
    return job;
}

}  // namespace sonoprog::production
