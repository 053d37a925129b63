#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/FolderLock.h"
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
    // "new blank Tarn20 chip: DIR/tarn20.bin" for each chip file this opening made.
    std::vector<std::string> notices;
    // The claim on the folder (see FolderLock): taken before anything in the
    // folder is touched, held until the Writer is released, and taken again
    // at each later open.
    std::shared_ptr<FolderLock> lock;
    // The folder's parent does not exist: the name is likely mistyped.
    bool noParent = false;
    // Another process has the folder; nothing in it was touched.
    bool inUse = false;
};

// The virtual Writer of --writer sim:DIR. DIR (made when missing, but only in
// a folder that exists) keeps the chips between runs, one file of plain bytes
// per chip, and writer.ini, read at each start, says what is in the socket and
// how it misbehaves. A missing chip file is a fresh blank chip; one of the
// wrong size is refused. The Writer belongs to one process at a time, from
// this call on; opening the folder clears the chip files half made by runs
// that died.
PersistentWriterResult openPersistentWriter(const std::filesystem::path& dir,
                                            unsigned chipFiles = kAllChipFiles);

}  // namespace sonoprog::sim
