#include "sim/PersistentWriter.h"

#include <unistd.h>
#include <system_error>

#include "sim/ChipFile.h"
#include "sim/KivaChip.h"
#include "sim/SerialFlashChip.h"
#include "sim/StandardWriter.h"
#include "sim/TarnChip.h"

namespace sonoprog::sim {

namespace {

constexpr std::uint8_t kSerialFlashDetect = 0x30;

void configure(StandardChips& chips, const WriterSettings& s, std::vector<std::string>& warnings) {
    for (std::uint32_t page : s.tarnBadPages) chips.tarn->setBadPage(page);
    if (s.tarnDetectStatus) chips.tarn->setDetectStatus(*s.tarnDetectStatus);

    // The size first: a new size is a new, blank array.
    chips.serialFlash->setSize(s.serialFlashSize.value_or(kDefaultSerialFlashSize));
    if (s.serialFlashMid && s.serialFlashDid)
        chips.serialFlash->setIds(*s.serialFlashMid, *s.serialFlashDid);
    else if (s.serialFlashMid || s.serialFlashDid)
        warnings.push_back(
            "writer.ini: [Series Flash] MID and DID go together; the chip answers to any ids");
    if (s.serialFlashDetectStatus && *s.serialFlashDetectStatus != 0)
        chips.serialFlash->statuses().failAll(kSerialFlashDetect, *s.serialFlashDetectStatus);

    if (s.kivaDetectStatus) chips.kiva->setDetectStatus(*s.kivaDetectStatus);
}

// The chip's array from now on lives in its file in the folder.
bool attach(ChipMemory& memory, const std::filesystem::path& file, const std::string& chipName,
            PersistentWriterResult& result) {
    bool created = false;
    if (auto refused = ensureChipFile(file, memory.size(), chipName, &created)) {
        result.error = *refused;
        return false;
    }
    if (created) result.notices.push_back("new blank " + chipName + " chip: " + file.string());
    return memory.attachFile(file, result.error);
}

}  // namespace

PersistentWriterResult openPersistentWriter(const std::filesystem::path& dir, unsigned chipFiles) {
    PersistentWriterResult result;
    std::error_code ec;
    // Only the last folder is made: a mistyped path must not grow a tree.
    std::filesystem::path parent = dir.parent_path();
    if (parent.empty()) parent = ".";
    if (!std::filesystem::is_directory(dir, ec) && !std::filesystem::is_directory(parent, ec)) {
        result.noParent = true;
        result.error = dir.string() + ": cannot be used as the virtual Writer's folder (" +
                       parent.string() + " is no folder)";
        return result;
    }
    std::filesystem::create_directory(dir, ec);
    if (!std::filesystem::is_directory(dir, ec)) {
        result.error = dir.string() + ": cannot be used as the virtual Writer's folder";
        return result;
    }
    // The claim comes before anything in the folder is read, removed or made:
    // a run that starts while another has the folder leaves it alone, chips,
    // half-made chip files and all. It is held from here on, through the open,
    // until the Writer is released.
    result.lock = std::make_shared<FolderLock>(dir);
    if (!result.lock->acquire()) {
        const auto pid = result.lock->holder();
        result.inUse = true;
        result.error = "the virtual Writer in " + dir.string() + " is in use by another process" +
                       (pid ? " (PID " + std::to_string(*pid) + ")" : std::string());
        return result;
    }
    removeStaleChipFiles(dir);
    const auto iniPath = dir / kWriterSettingsFileName;
    WriterSettings settings;
    if (std::filesystem::exists(iniPath, ec)) {
        if (std::filesystem::is_directory(iniPath, ec) || ::access(iniPath.c_str(), R_OK) != 0)
            result.warnings.push_back(iniPath.string() + " cannot be read; using the defaults");
        else
            settings = readWriterSettings(iniPath);
    }
    result.warnings.insert(result.warnings.end(), settings.warnings.begin(),
                           settings.warnings.end());

    StandardChips chips;
    auto writer = makeStandardWriter(chips);
    configure(chips, settings, result.warnings);
    struct Backed {
        unsigned flag;
        ChipMemory& memory;
        const char* file;
        const char* name;
    } backed[] = {
        {kTarn20File, chips.tarn->memory(), kTarn20FileName, "Tarn20"},
        {kSerialFlashFile, chips.serialFlash->memory(), kSerialFlashFileName, "serial flash"},
        {kKiva300File, chips.kiva->memory(), kKiva300FileName, "Kiva300"},
    };
    // Chips that come and go through the socket are fresh each time and leave
    // with their unit: nothing of them is kept in the folder.
    if (settings.socket) chipFiles = 0;
    for (const Backed& b : backed) {
        if (!(chipFiles & b.flag)) continue;
        if (!attach(b.memory, dir / b.file, b.name, result)) return result;
    }
    if (settings.failFrom != 0) writer->failFrom(settings.failFrom);
    writer->setRoundTripUs(settings.roundTripUs);
    if (settings.socket) {
        auto socket = std::make_unique<SocketModel>(*settings.socket);
        socket->setInsertHandler([chips] {
            chips.tarn->memory().erase();
            chips.serialFlash->memory().erase();
            chips.kiva->memory().erase();
        });
        writer->setSocket(std::move(socket));
    }
    writer->setClaim([lock = result.lock] { return lock->acquire(); },
                     [lock = result.lock] { lock->release(); });
    result.writer = std::move(writer);
    return result;
}

}  // namespace sonoprog::sim
