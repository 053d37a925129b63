#include "editor/EditorOperations.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <system_error>
#include <vector>

#include "audio/Convert.h"
#include "core/AtomicFile.h"
#include "core/FileChooser.h"
#include "core/FileHandle.h"
#include "core/LineSafe.h"
#include "core/NumberText.h"
#include "core/YieldHook.h"
#include "editor/ImageBuild.h"
#include "editor/ProjectFile.h"
#include "editor/WaveFile.h"

namespace sonoprog::editor {

namespace {

constexpr std::array<EditorControl, kEditorControlCount> kLockOrder = {
    EditorControl::Save,      EditorControl::Load,       EditorControl::Build, EditorControl::Add,
    EditorControl::Remove,    EditorControl::Up,         EditorControl::Down,  EditorControl::Clear,
    EditorControl::DeviceSel, EditorControl::PageControl};

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

std::uint64_t imageSize(const SectionTable& table) {
    return computeSummary(table).usage;
}

std::vector<SectionReport> sectionReports(const SectionTable& table) {
    std::vector<SectionReport> reports;
    std::uint32_t pageCount = kInfoPages;
    for (int r = kFirstSectionRow; r <= kLastSectionRow; ++r) {
        if (!table.isUsed(r)) continue;
        SectionReport rep;
        rep.section = r - 1;
        rep.rate = table.cell(r, kColRate);
        rep.size = table.cell(r, kColSize);
        rep.file = table.cell(r, kColFile);
        const std::uint32_t rate = cellNumber(rep.rate);
        const std::uint32_t size = cellNumber(rep.size);
        rep.pages = static_cast<std::uint32_t>((std::uint64_t{size} + kPageSize - 1) / kPageSize);
        const int code = CheckSectionFile(rep.file, rate, size, pageCount);
        // As in the build, only a passing section takes pages.
        if (code == kWaveOk)
            pageCount += rep.pages;
        else
            rep.problem = buildStatusText(code);
        reports.push_back(std::move(rep));
    }
    return reports;
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
      paths_(paths),
      largestChip_(kTarnUserAreaBytes) {}

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
    return placeFiles(chosen, [](const std::string& path) { return path; });
}

AddResult EditorOperations::placeFiles(
    const std::vector<std::string>& chosen,
    const std::function<std::optional<std::string>(const std::string&)>& prepare) {
    leftOut_.clear();
    const int first = table_.currentRow();
    const std::size_t room = static_cast<std::size_t>(kLastSectionRow - first + 1);
    const std::size_t placed = chosen.size() < room ? chosen.size() : room;
    int r = first;
    for (std::size_t i = 0; i < placed; ++i, ++r) {
        // The file refused is named by its own message; the ones after it
        // are never placed, and are named as left out.
        const auto refused = [&] {
            leftOut_.assign(chosen.begin() + static_cast<std::ptrdiff_t>(i) + 1, chosen.end());
            return AddResult::Failed;
        };
        // The project file holds one section per line: a path that breaks
        // the line would come back as other sections.
        if (core::needsLineSafe(chosen[i])) {
            refuseUnsafePath(chosen[i]);
            return refused();
        }
        std::optional<std::string> prepared = prepare(chosen[i]);
        if (!prepared) return refused();
        const std::string& path = *prepared;
        if (core::needsLineSafe(path)) {
            refuseUnsafePath(path);
            return refused();
        }
        WaveHeaderCheck check = CheckWaveHeader(path);
        if (check.code != kWaveOk) {
            if (check.code == kWaveOpenFailed) {
                prompter_.showMessage(kError, "Failed to open wave file: " + path,
                                      core::BoxIcon::Error);
            } else {
                prompter_.showMessage(kError, path + "is not a 8-bit mono wave file!",
                                      core::BoxIcon::Error);
                panel_.setHint(kImportHint);
            }
            return refused();
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
        leftOut_.assign(chosen.begin() + static_cast<std::ptrdiff_t>(placed), chosen.end());
        std::size_t left = chosen.size() - placed;
        prompter_.showMessage(kInfo,
                              std::to_string(left) +
                                  " wave file(s) did not fit after section 1023 and were not "
                                  "added!",
                              core::BoxIcon::Information);
    }
    return AddResult::Placed;
}

void EditorOperations::refuseUnsafePath(const std::string& path) {
    prompter_.showMessage(kError,
                          "A project holds one section per line; this path holds a line break or "
                          "another control character: " +
                              core::lineSafe(path),
                          core::BoxIcon::Error);
}

ImportOffer EditorOperations::importOffer() const {
    const std::uint32_t highest = computeSummary(table_).highest;
    ImportOffer offer;
    offer.rates = offeredRates(highest);
    offer.defaultRate = defaultImportRate(highest);
    offer.outDir = convertedFolder(projectPath_).string();
    return offer;
}

AddResult EditorOperations::importAudio() {
    if (!importDialog_) return AddResult::Cancelled;
    std::vector<std::string> chosen = files_.chooseOpenFiles({kImportFilter, ""});
    if (chosen.empty()) return AddResult::Cancelled;
    std::optional<ImportSettings> settings = importDialog_->askImportSettings(importOffer());
    if (!settings) return AddResult::Cancelled;
    return importFiles(chosen, *settings);
}

AddResult EditorOperations::importFiles(const std::vector<std::string>& chosen,
                                        const ImportSettings& settings) {
    if (chosen.empty()) return AddResult::Cancelled;
    if (settings.trimDb && !std::isfinite(*settings.trimDb)) {
        prompter_.showMessage(kError, "The trim level must be a number of dB!",
                              core::BoxIcon::Error);
        return AddResult::Failed;
    }
    if (!rateInRange(settings.rate)) {
        prompter_.showMessage(
            kError,
            "The rate " + std::to_string(settings.rate) + " Hz gives no valid sample period!",
            core::BoxIcon::Error);
        return AddResult::Failed;
    }
    const std::filesystem::path folder = settings.outDir.empty()
                                             ? convertedFolder(projectPath_)
                                             : std::filesystem::path(settings.outDir);
    if (folder.empty()) {
        prompter_.showMessage(kError, "Choose a folder for the converted files!",
                              core::BoxIcon::Error);
        return AddResult::Failed;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec)) {
        prompter_.showMessage(kError, "Failed to create folder: " + folder.string(),
                              core::BoxIcon::Error);
        return AddResult::Failed;
    }

    // A long file would freeze the window: the page is locked and the window
    // breathes between blocks, as in a build.
    LockedRun run(*this);
    YieldPacer pacer(yield_);
    audio::ConvertOptions options;
    options.rate = settings.rate;
    options.mixChannels = settings.mixChannels;
    options.normalize = settings.normalize;
    options.trimDb = settings.trimDb;
    options.progress = [&pacer] { pacer.tick(); };

    options.maxBytes = sectionBytesOnChip(largestChip_);
    // The first pass's signal goes to this program's Temp folder.
    if (!paths_.tempDir.empty() && std::filesystem::is_directory(paths_.tempDir, ec))
        options.scratchDir = paths_.tempDir;

    // Names are settled before anything is written: no two sources of this
    // import share a target, and only a file that was there before the
    // import is asked about.
    const std::vector<std::filesystem::path> targets = convertedTargets(chosen, folder);
    std::vector<bool> existed;
    for (const auto& t : targets) existed.push_back(std::filesystem::exists(t, ec));
    std::size_t next = 0;
    const std::size_t room = static_cast<std::size_t>(kLastSectionRow - table_.currentRow() + 1);
    core::ProgressReporter progress(figures_, clock_, stop_, core::ProgressUnit::Files,
                                    std::min(chosen.size(), room));
    std::uint64_t converted = 0;
    bool stopped = false;
    auto convert = [&](const std::string& source) -> std::optional<std::string> {
        progress.report(converted);
        // Between two files: the one being converted is finished first.
        if (progress.stopRequested()) {
            stopped = true;
            return std::nullopt;
        }
        const std::size_t index = next++;
        const std::filesystem::path& target = targets[index];
        const std::string targetText = target.string();
        for (const std::string& s : chosen) {
            if (std::filesystem::equivalent(target, s, ec)) {
                prompter_.showMessage(kError, targetText + " is one of the files to import!",
                                      core::BoxIcon::Error);
                return std::nullopt;
            }
        }
        if (core::needsLineSafe(targetText)) {
            refuseUnsafePath(targetText);
            return std::nullopt;
        }
        if (existed[index] && !confirmReplace(targetText)) return std::nullopt;
        panel_.setHint("Importing file: " + source);
        pacer.breathe();
        audio::ConvertResult r = audio::convertToWave(source, target, options);
        if (!r.warnings.empty()) {
            std::string text = "The decoder's messages on " + source + ":";
            for (std::size_t i = 0; i < r.warnings.size(); ++i)
                text += (i ? "; " : " ") + r.warnings[i];
            prompter_.showMessage(kWarning, text, core::BoxIcon::Warning);
        }
        if (!r.ok) {
            prompter_.showMessage(kError,
                                  "Failed to import audio file: " + source + " (" + r.error + ")",
                                  core::BoxIcon::Error);
            return std::nullopt;
        }
        ++converted;
        return targetText;
    };
    AddResult result = placeFiles(chosen, convert);
    if (stopped) {
        // The files converted before the stop stay placed.
        RefreshSummary();
        panel_.setHint(core::kStoppedByOperator);
        return AddResult::Stopped;
    }
    if (result == AddResult::Placed) {
        progress.report(converted);
        panel_.setHint("Done!");
    }
    return result;
}

std::vector<RefreshChange> EditorOperations::refreshSections() {
    std::vector<RefreshChange> changes;
    for (int r = kFirstSectionRow; r <= kLastSectionRow; ++r) {
        if (!table_.isUsed(r)) continue;
        const WaveHeaderCheck check = CheckWaveHeader(table_.cell(r, kColFile));
        RefreshChange c;
        c.section = r - 1;
        c.oldRate = table_.cell(r, kColRate);
        c.oldSize = table_.cell(r, kColSize);
        if (check.code != kWaveOk) {
            c.problem = buildStatusText(check.code);
            changes.push_back(c);
            continue;
        }
        c.newRate = std::to_string(check.rate);
        c.newSize = std::to_string(check.size);
        if (c.newRate == c.oldRate && c.newSize == c.oldSize) continue;
        table_.setCell(r, kColRate, c.newRate);
        table_.setCell(r, kColSize, c.newSize);
        table_.setCell(r, kColStatus, {});
        changes.push_back(c);
    }
    RefreshSummary();
    return changes;
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
    return core::confirmReplace(prompter_, path);
}

ProjectResult EditorOperations::saveProject() {
    LockedRun run(*this);
    std::optional<std::string> chosen = files_.chooseSaveFile({"LOG file|*.log", "log"});
    if (!chosen) return ProjectResult::Cancelled;
    if (!confirmReplace(*chosen)) return ProjectResult::Refused;
    return saveProjectTo(*chosen);
}

ProjectResult EditorOperations::saveProjectTo(const std::string& path) {
    core::AtomicFile out{std::filesystem::path(path)};
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
    projectPath_ = path;
    return ProjectResult::Done;
}

ProjectResult EditorOperations::loadProject() {
    LockedRun run(*this);
    std::optional<std::string> chosen = files_.chooseOpenFile({"LOG file|*.log", "log"});
    if (!chosen) return ProjectResult::Cancelled;
    return loadProjectFrom(*chosen);
}

ProjectResult EditorOperations::loadProjectFrom(const std::string& path) {
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
    projectPath_ = path;
    return ProjectResult::Done;
}

}  // namespace sonoprog::editor
