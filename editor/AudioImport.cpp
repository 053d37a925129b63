#include "editor/AudioImport.h"

#include <algorithm>
#include <system_error>

#include "editor/WaveFile.h"

namespace sonoprog::editor {

namespace {

constexpr std::uint32_t kUsualRates[] = {4000, 6000, 8000, 11025, 12000, 16000, 22050};

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec)) return true;
    return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

}  // namespace

std::vector<std::uint32_t> offeredRates(std::uint32_t highestRate) {
    std::vector<std::uint32_t> rates;
    for (std::uint32_t r : kUsualRates)
        if (rateInRange(r)) rates.push_back(r);
    if (rateInRange(highestRate) &&
        std::find(rates.begin(), rates.end(), highestRate) == rates.end()) {
        rates.push_back(highestRate);
        std::sort(rates.begin(), rates.end());
    }
    return rates;
}

std::uint32_t defaultImportRate(std::uint32_t highestRate) {
    return rateInRange(highestRate) ? highestRate : kDefaultImportRate;
}

std::filesystem::path convertedFolder(const std::filesystem::path& projectFile) {
    if (projectFile.empty()) return {};
    return std::filesystem::absolute(projectFile).parent_path() / "converted";
}

std::filesystem::path convertedTarget(const std::filesystem::path& source,
                                      const std::filesystem::path& folder,
                                      const std::vector<std::string>& sources) {
    std::filesystem::path target = folder / source.stem();
    target += ".wav";
    auto isSource = [&target](const std::string& s) { return sameFile(target, s); };
    if (std::any_of(sources.begin(), sources.end(), isSource)) {
        target = folder / source.stem();
        target += "-8bit.wav";
    }
    return target;
}

std::vector<std::filesystem::path> convertedTargets(const std::vector<std::string>& sources,
                                                    const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> targets;
    auto taken = [&](const std::filesystem::path& t) {
        for (const auto& earlier : targets)
            if (earlier.filename() == t.filename()) return true;
        for (const auto& s : sources)
            if (sameFile(t, s)) return true;
        return false;
    };
    for (const auto& source : sources) {
        const std::filesystem::path first = convertedTarget(source, folder, sources);
        std::filesystem::path target = first;
        for (int n = 2; taken(target); ++n)
            target = folder / (first.stem().string() + "-" + std::to_string(n) + ".wav");
        targets.push_back(target);
    }
    return targets;
}

std::uint64_t sectionBytesOnChip(std::uint64_t chipBytes) {
    // The header page and the sixteen pages of the section table.
    const std::uint64_t info = std::uint64_t{17} * kPageSize;
    return chipBytes > info ? (chipBytes - info) / kPageSize * kPageSize : 0;
}

}  // namespace sonoprog::editor
