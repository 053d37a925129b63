#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/VirtualWriter.h"
#include "sim/WriterSettings.h"

namespace sonoprog::sim {

// Which chips keep their contents in the folder; a run needs only its own.
enum ChipFiles : unsigned {
    kTarn20File = 1u << 0,       // tarn20.bin
    kSerialFlashFile = 1u << 1,  // serialflash.bin
    kKiva300File = 1u << 2,      // kiva300.bin
    kAllChipFiles = kTarn20File | kSerialFlashFile | kKiva300File,
};

inline constexpr const char* kTarn20FileName = "tarn20.bin";
inline constexpr const char* kSerialFlashFileName = "serialflash.bin";
inline constexpr const char* kKiva300FileName = "kiva300.bin";
inline constexpr const char* kWriterSettingsFileName = "writer.ini";

struct PersistentWriterResult {
    std::unique_ptr<VirtualWriter> writer;  // null when the folder cannot be used
    std::string error;
    std::vector<std::string> warnings;  // writer.ini values passed over
};

// The virtual Writer of --writer sim:DIR. DIR (made when missing) keeps the
// chips between runs, one file of plain bytes per chip, and writer.ini, read
// at each start, says what is in the socket and how it misbehaves. A missing
// chip file is a fresh blank chip; one of the wrong size is refused.
PersistentWriterResult openPersistentWriter(const std::filesystem::path& dir,
                                            unsigned chipFiles = kAllChipFiles);

}  // namespace sonoprog::sim
