#include "editor/ImageBuild.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "core/AtomicFile.h"
#include "core/NumberText.h"
#include "core/TempFiles.h"
#include "editor/EditorOperations.h"
#include "editor/WaveFile.h"

namespace sonoprog::editor {

namespace {

// A section's entry of the table: its 8-byte record twice.
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

}  // namespace

void headerWords(std::int32_t lastSection, std::uint8_t out[4]) {
    std::uint32_t w0 = ~static_cast<std::uint32_t>(lastSection) & 0xFFFF;
    std::uint32_t w1 = (0x10000 - w0) & 0xFFFF;
    out[0] = static_cast<std::uint8_t>(w0);
    out[1] = static_cast<std::uint8_t>(w0 >> 8);
    out[2] = static_cast<std::uint8_t>(w1);
    out[3] = static_cast<std::uint8_t>(w1 >> 8);
}

BuildResult EditorOperations::makeDatFile() {
    LockedRun run(*this);
    std::optional<std::string> chosen = files_.chooseSaveFile({"BIN file|*.bin", "bin"});
    if (!chosen) return BuildResult::Cancelled;
    const std::string& path = *chosen;
    if (!confirmReplace(path)) return BuildResult::Refused;

    std::vector<char> pageBuffer(1u << 20);  // outlives the stream that uses it
    // The page file is this build's alone: two builds into one Temp folder
    // never mix their pages, and it is gone when the build ends, however.
    std::optional<core::PrivateTempFile> pageFile =
        core::PrivateTempFile::create(paths_.tempDir, "temp-", ".bin");
    if (!pageFile) {
        prompter_.showMessage(kError, "Failed to create temp file!", core::BoxIcon::Error);
        return BuildResult::TempFileFailed;
    }
    std::FILE* pageStream = pageFile->file();
    std::setvbuf(pageStream, pageBuffer.data(), _IOFBF, pageBuffer.size());

    YieldPacer pacer(yield_);
    PageFileWriter pages(pageStream, kInfoPages, &pacer);
    std::vector<std::uint8_t> sectionTable(kSectionTableSize, 0xFF);
    bool allGood = true;
    bool pageFileFailed = false;
    bool stopped = false;
    std::uint64_t used = 0, built = 0;
    for (int r = kFirstSectionRow; r <= kLastSectionRow; ++r)
        if (!table_.cell(r, kColFile).empty()) ++used;
    core::ProgressReporter progress(figures_, clock_, stop_, core::ProgressUnit::Sections, used);

    for (int r = kFirstSectionRow; r <= kLastSectionRow && !pageFileFailed; ++r) {
        const int n = r - 1;
        pacer.breathe();
        const std::string file = table_.cell(r, kColFile);
        // Between two sections; an unfinished image is never written.
        if (!file.empty() && progress.stopRequested()) {
            stopped = true;
            break;
        }
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
        progress.report(++built);
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
    if (stopped) {
        panel_.setHint(core::kStoppedByOperator);
        return BuildResult::Stopped;
    }
    if (std::fflush(pageStream) != 0 || std::ferror(pageStream)) pageFileFailed = true;
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

    // Read back through the same open file: the name in Temp is never
    // looked up again, so nothing put under it meanwhile is read.
    const bool pageIn = fseeko(pageStream, 0, SEEK_SET) == 0;
    core::AtomicFile image{std::filesystem::path(path)};
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
    image.appendFrom(pageStream, [&pacer] { pacer.tick(); });
    if (!image.commit()) {
        prompter_.showMessage(kError, "Failed to create file: " + path, core::BoxIcon::Error);
        return BuildResult::ImageFailed;
    }
    panel_.setHint("Done!");
    prompter_.showMessage(kInfo, "Finish to make BIN file!", core::BoxIcon::Information);
    return BuildResult::Done;
}

}  // namespace sonoprog::editor
