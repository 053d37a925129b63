#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sonoprog::editor {

// What Import Audio asks before converting: the rate of the result, how the
// channels become one, peak normalising and silence trimming, and the folder
// the converted WAV files go to.
struct ImportSettings {
    std::uint32_t rate = 8000;
    bool mixChannels = false;  // off: the first channel alone
    bool normalize = true;     // peak at -1 dBFS
    std::optional<double> trimDb;
    // Empty: the "converted" folder beside the project file.
    std::string outDir;
};

// What the settings dialog starts from.
struct ImportOffer {
    std::vector<std::uint32_t> rates;  // only rates with a valid sample period
    std::uint32_t defaultRate = 8000;
    // The "converted" folder beside the project; empty when the project was
    // never saved or loaded, so the operator has to pick one.
    std::string outDir;
};

// The window's small dialog; the command line has its settings on the line.
class ImportDialog {
public:
    virtual ~ImportDialog() = default;
    // nullopt: cancelled.
    virtual std::optional<ImportSettings> askImportSettings(const ImportOffer& offer) = 0;
};

inline constexpr std::uint32_t kDefaultImportRate = 8000;

// The usual rates from 4,000 to 22,050 Hz and the project's highest rate, in
// ascending order, all giving a sample period the section entry can hold.
std::vector<std::uint32_t> offeredRates(std::uint32_t highestRate);
// The project's highest rate when it is a valid one, otherwise 8,000 Hz.
std::uint32_t defaultImportRate(std::uint32_t highestRate);

// The files the open dialog offers for import.
inline constexpr const char* kImportFilter =
    "Audio file|*.wav *.flac *.ogg *.oga *.opus *.mp3 *.aif *.aiff *.aifc *.au *.caf *.w64";

// "converted" beside the project file; empty without one.
std::filesystem::path convertedFolder(const std::filesystem::path& projectFile);

// Where a source's converted WAV goes: its name with ".wav" in `folder`. When
// that is one of the sources of the import (a WAV converted into its own
// folder), "-8bit" is added to the name, so no source is ever written over.
std::filesystem::path convertedTarget(const std::filesystem::path& source,
                                      const std::filesystem::path& folder,
                                      const std::vector<std::string>& sources);

// The targets of one import, in the order of its sources: each as above, and
// no two the same, so that sources of one base name from different folders
// ("a/hello.wav", "b/hello.flac") keep their own sounds ("hello.wav",
// "hello-2.wav").
std::vector<std::filesystem::path> convertedTargets(const std::vector<std::string>& sources,
                                                    const std::filesystem::path& folder);

// The bytes of sound one section may hold on a chip of `chipBytes`: what the
// information pages leave, in whole pages.
std::uint64_t sectionBytesOnChip(std::uint64_t chipBytes);

}  // namespace sonoprog::editor
