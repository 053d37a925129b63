#include "editor/EditorOperations.h"

#include <array>
#include <cstring>
#include <system_error>
#include <vector>

#include "core/FileChooser.h"
#include "core/FileHandle.h"
#include "core/NumberText.h"
#include "core/YieldHook.h"
#include "editor/AtomicFile.h"
#include "editor/ProjectFile.h"
#include "editor/WaveFile.h"

namespace sonoprog::editor {

namespace {

constexpr const char* kError = "ERROR";
constexpr const char* kWarning = "WARNING";
constexpr const char* kInfo = "INFO";
constexpr std::uint32_t kInfoPages = 17;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kSectionTableSize = kSectionCount * kEntrySize;  // 16,384

constexpr std::array<EditorControl, kEditorControlCount> kLockOrder = {
    EditorControl::Save,      EditorControl::Load,       EditorControl::Build, EditorControl::Add,
    EditorControl::Remove,    EditorControl::Up,         EditorControl::Down,  EditorControl::Clear,
    EditorControl::DeviceSel, EditorControl::PageControl};

// Save, Load and Build run locked and end unlocked on every path.
class LockedRun {
public:
    explicit LockedRun(EditorOperations& ops) : ops_(ops) { ops_.LockEditorTab(); }
    ~LockedRun() { ops_.UnlockEditorTab(); }
    LockedRun(const LockedRun&) = delete;
    LockedRun& operator=(const LockedRun&) = delete;

private:
    EditorOperations& ops_;
};

void putEntry(std::uint8_t* entry, std::uint8_t mark, std::uint8_t period, std::uint32_t start,
              std::uint32_t end) {
    std::uint8_t record[8] = {mark,
                              period,
                              static_cast<std::uint8_t>(start),
                              static_cast<std::uint8_t>(start >> 8),
                              static_cast<std::uint8_t>(start >> 16),
                              static_cast<std::uint8_t>(end),
                              static_cast<std::uint8_t>(end >> 8),
                              static_cast<std::uint8_t>(end >> 16)};
    std::memcpy(entry, record, 8);
    std::memcpy(entry + 8, record, 8);
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(path), ec);
}

}  // namespace

std::string buildStatusText(int code) {
    switch (code) {
        case kWaveOk:
            return {};
        case kWaveOpenFailed:
            return "Can not open this file or file is not exist!";
        case kWaveRateDiffers:
            return "The wave rate is different from before!";
        case kWaveSizeDiffers:
            return "The wave size is different from before!";
        case kWaveRateOutOfRange:
            return "The wave rate is out of range!";
        case kWaveTooLarge:
            return "The wave size is out of range!";
        default:
            return "This file is not a 8-bit mono wave file!";
    }
}

Summary computeSummary(const SectionTable& table) {
    Summary s;
    s.usage = std::uint64_t{kInfoPages} * kPageSize;
    for (int r = kFirstSectionRow; r <= kLastSectionRow; ++r) {
        if (!table.isUsed(r)) continue;
        s.lastSection = r - 1;
        std::uint32_t rate = cellNumber(table.cell(r, kColRate));
        if (rate > s.highest) s.highest = rate;
        std::uint64_t size = cellNumber(table.cell(r, kColSize));
        s.usage += (size + kPageSize - 1) / kPageSize * kPageSize;
    }
    return s;
}

void headerWords(std::int32_t lastSection, std::uint8_t out[4]) {
    std::uint32_t w0 = ~static_cast<std::uint32_t>(lastSection) & 0xFFFF;
    std::uint32_t w1 = (0x10000 - w0) & 0xFFFF;
    out[0] = static_cast<std::uint8_t>(w0);
    out[1] = static_cast<std::uint8_t>(w0 >> 8);
    out[2] = static_cast<std::uint8_t>(w1);
    out[3] = static_cast<std::uint8_t>(w1 >> 8);
}

EditorOperations::EditorOperations(SectionTable& table, EditorPanel& panel,
                                   core::Prompter& prompter, core::FileChooser& files,
                                   core::YieldHook& yield, core::Clock& clock,
                                   const core::AppPaths& paths)
    : table_(table),
      panel_(panel),
      prompter_(prompter),
      files_(files),
      yield_(yield),
      clock_(clock),
      paths_(paths) {}

void EditorOperations::setRowButtons(int row) {
    panel_.setControlEnabled(EditorControl::Up, false);
    panel_.setControlEnabled(EditorControl::Down, false);
    panel_.setControlEnabled(EditorControl::Remove, false);
    if (!table_.isUsed(row)) return;
    panel_.setControlEnabled(EditorControl::Remove, true);
    if (row > kFirstSectionRow) panel_.setControlEnabled(EditorControl::Up, true);
    if (row < kLastSectionRow) panel_.setControlEnabled(EditorControl::Down, true);
}

AddResult EditorOperations::addReplace() {
    std::vector<std::string> chosen = files_.chooseOpenFiles({"WAV file|*.wav", ""});
    if (chosen.empty()) return AddResult::Cancelled;
    const int first = table_.currentRow();
    const std::size_t room = static_cast<std::size_t>(kLastSectionRow - first + 1);
    const std::size_t placed = chosen.size() < room ? chosen.size() : room;
    int r = first;
    for (std::size_t i = 0; i < placed; ++i, ++r) {
        const std::string& path = chosen[i];
        WaveHeaderCheck check = CheckWaveHeader(path);
        if (check.code != kWaveOk) {
            if (check.code == kWaveOpenFailed)
                prompter_.showMessage(kError, "Failed to open wave file: " + path,
                                      core::BoxIcon::Error);
            else
                prompter_.showMessage(kError, path + "is not a 8-bit mono wave file!",
                                      core::BoxIcon::Error);
            return AddResult::Failed;
        }
        table_.setCell(r, kColRate, std::to_string(check.rate));
        table_.setCell(r, kColSize, std::to_string(check.size));
        table_.setCell(r, kColFile, path);
        table_.setCell(r, kColStatus, {});
    }
    panel_.setControlEnabled(EditorControl::Remove, true);
    if (first > kFirstSectionRow) panel_.setControlEnabled(EditorControl::Up, true);
    if (first < kLastSectionRow) panel_.setControlEnabled(EditorControl::Down, true);
    RefreshSummary();
    if (placed < chosen.size()) {
        std::size_t left = chosen.size() - placed;
        prompter_.showMessage(kInfo,
                              std::to_string(left) +
                                  " wave file(s) did not fit after section 1023 and were not "
                                  "added!",
                              core::BoxIcon::Information);
    }
    return AddResult::Placed;
}

void EditorOperations::removeSection() {
    table_.clearSection(table_.currentRow());
    panel_.setControlEnabled(EditorControl::Remove, false);
    panel_.setControlEnabled(EditorControl::Up, false);
    panel_.setControlEnabled(EditorControl::Down, false);
    RefreshSummary();
}

void EditorOperations::moveUp() {
    int row = table_.currentRow();
    if (row <= kFirstSectionRow) return;  // never with the heading row
    table_.swapSections(row, row - 1);
    selectRow(row - 1);
    RefreshSummary();
}

void EditorOperations::moveDown() {
    int row = table_.currentRow();
    if (row >= kLastSectionRow) return;
    table_.swapSections(row, row + 1);
    selectRow(row + 1);
    RefreshSummary();
}

bool EditorOperations::clearAll() {
    if (!prompter_.askYesNo(kWarning, "Do you want to clear all of section?",
                            core::BoxIcon::Information))
        return false;
    for (int r = kFirstSectionRow; r <= kLastSectionRow; ++r) table_.clearSection(r);
    panel_.setControlEnabled(EditorControl::Remove, false);
    panel_.setControlEnabled(EditorControl::Up, false);
    panel_.setControlEnabled(EditorControl::Down, false);
    RefreshSummary();
    return true;
}

void EditorOperations::selectRow(int row) {
    if (!SectionTable::isSectionRow(row)) return;
    if (table_.currentRow() != row) table_.setCurrentRow(row);
    const std::string& status = table_.cell(row, kColStatus);
    panel_.setHint(status.empty() ? "Double click to add or replace wave file." : status);
    setRowButtons(row);
}

void EditorOperations::RefreshSummary() {
    Summary s = computeSummary(table_);
    panel_.setSummary(SummaryField::MemUsg, std::to_string(s.usage));
    panel_.setSummary(SummaryField::LstSec, std::to_string(s.lastSection));
    panel_.setSummary(SummaryField::HstRate, std::to_string(s.highest));
}

void EditorOperations::LockEditorTab() {
    for (EditorControl c : kLockOrder) panel_.setControlEnabled(c, false);
}

void EditorOperations::UnlockEditorTab() {
    for (EditorControl c :
         {EditorControl::Save, EditorControl::Load, EditorControl::Build, EditorControl::Add})
        panel_.setControlEnabled(c, true);
    int row = table_.currentRow();
    if (table_.isUsed(row)) {
        panel_.setControlEnabled(EditorControl::Remove, true);
        if (row > kFirstSectionRow) panel_.setControlEnabled(EditorControl::Up, true);
        if (row < kLastSectionRow) panel_.setControlEnabled(EditorControl::Down, true);
    }
    for (EditorControl c :
         {EditorControl::Clear, EditorControl::DeviceSel, EditorControl::PageControl})
        panel_.setControlEnabled(c, true);
}

bool EditorOperations::confirmReplace(const std::string& path) {
    if (!fileExists(path)) return true;
    return prompter_.askYesNo(kWarning,
                              "File: " + path + " already exist, Do you want to replace it?",
                              core::BoxIcon::Information);
}

ProjectResult EditorOperations::saveProject() {
    LockedRun run(*this);
    std::optional<std::string> chosen = files_.chooseSaveFile({"LOG file|*.log", "log"});
    if (!chosen) return ProjectResult::Cancelled;
    const std::string& path = *chosen;
    if (!confirmReplace(path)) return ProjectResult::Refused;
    AtomicFile out{std::filesystem::path(path)};
    if (!out.open()) {
        prompter_.showMessage(kError, "Failed to create file: " + path, core::BoxIcon::Error);
        return ProjectResult::Failed;
    }
    panel_.setHint("Saving project!");
    for (int r = kFirstSectionRow; r <= kLastSectionRow; ++r) {
        yield_.yield();
        out.write(projectLine(table_.cell(r, kColRate), table_.cell(r, kColSize),
                              table_.cell(r, kColFile)));
    }
    out.write(core::projectStamp(clock_.localNow()));
    if (!out.commit()) {
        prompter_.showMessage(kError, "Failed to create file: " + path, core::BoxIcon::Error);
        return ProjectResult::Failed;
    }
    panel_.setHint("Done!");
    return ProjectResult::Done;
}

ProjectResult EditorOperations::loadProject() {
    LockedRun run(*this);
    std::optional<std::string> chosen = files_.chooseOpenFile({"LOG file|*.log", "log"});
    if (!chosen) return ProjectResult::Cancelled;
    const std::string& path = *chosen;
    core::FilePtr in = core::openForReading(path);
    if (!in) {
        prompter_.showMessage(kError, "Failed to open file: " + path, core::BoxIcon::Error);
        return ProjectResult::Failed;
    }
    panel_.setHint("Loading project!");
    ProjectLineReader reader(in.get());
    for (int r = kFirstSectionRow; r <= kLastSectionRow; ++r) {
        yield_.yield();
        // A file with fewer lines leaves the remaining rows empty.
        std::optional<std::string> line = reader.next();
        ProjectRow row = line ? parseProjectLine(*line) : ProjectRow{};
        table_.setCell(r, kColRate, row.rate);
        table_.setCell(r, kColSize, row.size);
        table_.setCell(r, kColFile, resolveWavePath(path, row.file));
    }
    panel_.setHint("Done!");
    RefreshSummary();
    return ProjectResult::Done;
}

BuildResult EditorOperations::makeDatFile() {
    LockedRun run(*this);
    std::optional<std::string> chosen = files_.chooseSaveFile({"BIN file|*.bin", "bin"});
    if (!chosen) return BuildResult::Cancelled;
    const std::string& path = *chosen;
    if (!confirmReplace(path)) return BuildResult::Refused;

    const std::filesystem::path pagePath = pageFilePath();
    std::vector<char> pageBuffer(1u << 20);  // outlives the stream that uses it
    core::FilePtr pageFile(std::fopen(pagePath.c_str(), "wb"));
    if (!pageFile) {
        prompter_.showMessage(kError, "Failed to create temp file!", core::BoxIcon::Error);
        return BuildResult::TempFileFailed;
    }
    std::setvbuf(pageFile.get(), pageBuffer.data(), _IOFBF, pageBuffer.size());

    YieldPacer pacer(yield_);
    PageFileWriter pages(pageFile.get(), kInfoPages, &pacer);
    std::vector<std::uint8_t> sectionTable(kSectionTableSize, 0xFF);
    bool allGood = true;
    bool pageFileFailed = false;

    for (int r = kFirstSectionRow; r <= kLastSectionRow && !pageFileFailed; ++r) {
        const int n = r - 1;
        pacer.breathe();
        const std::string file = table_.cell(r, kColFile);
        panel_.setHint("Building file: " + file);
        std::uint8_t* entry = sectionTable.data() + n * kEntrySize;
        if (file.empty()) {
            table_.setCell(r, kColStatus, {});
            putEntry(entry, 0x00, 0xFF, 0, 0);
            continue;
        }
        const std::uint32_t rate = cellNumber(table_.cell(r, kColRate));
        const std::uint32_t size = cellNumber(table_.cell(r, kColSize));
        const std::uint32_t start = pages.pageCount();
        const int code = AppendWaveSection(pages, file, rate, size);
        if (code == kWavePageFileFailed) {
            pageFileFailed = true;
        } else if (code == kWaveOk) {
            table_.setCell(r, kColStatus, {});
            putEntry(entry, 0xFF, static_cast<std::uint8_t>(samplePeriod(rate)), start,
                     pages.pageCount());
        } else {
            table_.setCell(r, kColStatus, buildStatusText(code));
            allGood = false;
        }
    }
    panel_.repaintTable();
    if (std::fflush(pageFile.get()) != 0 || std::ferror(pageFile.get())) pageFileFailed = true;
    if (std::fclose(pageFile.release()) != 0) pageFileFailed = true;
    if (pageFileFailed) {
        prompter_.showMessage(kError, "Failed to create temp file!", core::BoxIcon::Error);
        return BuildResult::TempFileFailed;
    }
    if (!allGood) {
        prompter_.showMessage(kError,
                              "Failed to make BIN file! Please check the section witch color is "
                              "red!",
                              core::BoxIcon::Error);
        return BuildResult::SectionsFailed;
    }

    core::FilePtr pageIn = core::openForReading(pagePath);
    AtomicFile image{std::filesystem::path(path)};
    const bool imageOpen = image.open();
    if (!pageIn) prompter_.showMessage(kError, "Failed to create temp file!", core::BoxIcon::Error);
    if (!imageOpen)
        prompter_.showMessage(kError, "Failed to create file: " + path, core::BoxIcon::Error);
    if (!pageIn || !imageOpen) return BuildResult::ImageFailed;

    std::uint8_t header[kPageSize];
    std::memset(header, 0xFF, sizeof header);
    headerWords(core::fieldInt(panel_.summary(SummaryField::LstSec)), header);
    image.write(header, sizeof header);
    image.write(sectionTable.data(), sectionTable.size());

    panel_.setHint("Making File... ");
    pacer.breathe();
    // The page file holds whole pages only, so it is copied as it stands.
    image.appendFrom(pageIn.get(), [&pacer] { pacer.tick(); });
    if (!image.commit()) {
        prompter_.showMessage(kError, "Failed to create file: " + path, core::BoxIcon::Error);
        return BuildResult::ImageFailed;
    }
    panel_.setHint("Done!");
    prompter_.showMessage(kInfo, "Finish to make BIN file!", core::BoxIcon::Information);
    return BuildResult::Done;
}

}  // namespace sonoprog::editor
