#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/FileChooser.h"
#include "core/FileHandle.h"
#include "core/ImageCompare.h"
#include "core/ImageReader.h"
#include "core/OperationFrame.h"
#include "core/OperationServices.h"
#include "core/Progress.h"
#include "tarn/TarnCommands.h"

namespace sonoprog::tarn {

// The Tarn20 tab's fields as texts, exactly as the operator sees them. The tab
// copies its edits in before an operation and back out after it; the command
// line fills them from its options.
struct TarnFields {
    std::string LoadFile;          // ED_Tarn_LoadFile
    std::string FileSize;          // ED_Tarn_FileSize
    std::string ChkSum;            // ED_Tarn_ChkSum
    std::string PageBeg = "0";     // ED_Tarn_PageBeg, "Start Page"
    std::string PageCnt = "1";     // ED_Tarn_PageCnt, "Write Page"
    std::string InfoPage = "17";   // ED_Tarn_InfoPage, "Info Page"
    std::string AllowError = "3";  // ED_Tarn_AllowError, "Allow Error"
};

// What a comparison of the chip with the loaded image found.
struct TarnComparison {
    core::ImageComparer diff;  // by chip address: page x 1,024 + offset
    // User pages the mirror map sends to a spare page, and that spare page,
    // for the pages of the range.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> mirrored;
};

// Load File, Write, Verify and Read of the Tarn20 tab, without a window. Each
// operation follows the shared operation frame and returns true when it passed.
class TarnOperations {
public:
    // The dialog a front end shows to choose the image.
    static const core::FileDialogRequest kImageDialog;

    // Write, verify and read need services.link.
    TarnOperations(TarnFields& fields, const core::OperationServices& services);

    // Load File of the image at `path`, or of the path `choose` gives once
    // the heading is out (nullopt: the operator cancelled).
    bool loadImage(const std::string& path);
    bool loadImage(const core::ImageChoice& choose);
    bool write();
    bool verify();
    bool read();
    // The user area all 0xFF and the mirror map empty.
    bool blank();
    // Reads the range back and compares it with the image byte for byte;
    // with `followMirror`, a page the mirror map moved is read at its spare
    // page. True when the whole range was read (same or not).
    bool compare(bool followMirror, TarnComparison& result);

    // The chip address of the first byte the last failed verify found wrong.
    std::optional<std::uint64_t> firstMismatch() const { return firstMismatch_; }

    // The PGM, VRF or READ file the last write, verify or read created (empty
    // when it created none).
    const std::filesystem::path& lastFile() const { return lastFile_; }

private:
    struct Range {
        std::uint32_t start = 0;
        std::uint32_t last = 0;
        std::uint32_t infoEnd = 0;  // pages below it are information pages
    };

    bool openImage(core::OperationFrame& frame);
    bool checkRange(core::OperationFrame& frame, Range& range);
    bool createTempFile(std::string_view prefix, std::string_view extension);
    bool detectChip(core::OperationFrame& frame, bool logHolder);
    bool releaseChip(core::OperationFrame& frame, bool logHolder);
    // Image, range, log file and detect; true when the page loop may run.
    bool prepareImageRun(core::OperationFrame& frame, Range& range, std::string_view logPrefix,
                         std::string_view loopStep);
    // The result line (when the loop ran), the release, "  -> Done!", the files and the end.
    bool closeRun(core::OperationFrame& frame, bool entered, std::string_view passText,
                  bool logRelease);
    // The top of a page turn: the window's message pass, the operator's stop,
    // the figures and the gauge, the next image page (imagePage_ points at it,
    // inside the image block).
    bool beginImagePage(core::OperationFrame& frame, core::ProgressReporter& progress,
                        std::uint32_t page, std::uint32_t done, std::uint32_t span);
    // True when the operator asked to stop: the loop ends before `page`, and
    // the log file (when there is one) records where.
    bool stopBefore(core::OperationFrame& frame, core::ProgressReporter& progress,
                    std::uint32_t page);
    // Refills the image block from the file; false at its end or on an error.
    // A failure leaves its message in holder_.
    core::CommandResult writePage(std::uint32_t page, bool info);
    void closeFiles();

    TarnFields& fields_;
    core::OperationServices s_;
    std::optional<TarnCommands> chip_;  // over services.link, when there is one
    std::string holder_;
    core::FilePtr image_;
    long long imageSize_ = 0;
    core::FilePtr out_;  // the PGM or VRF log, or the read file
    std::array<std::uint8_t, kPageSize> page_{};
    // The image is read a block of pages at a time, and every page is
    // programmed and compared from where it lies in the reader's block.
    static constexpr std::size_t kBlockPages = 64;
    std::optional<core::ImageReader> reader_;
    const std::uint8_t* imagePage_ = nullptr;
    std::filesystem::path lastFile_;
    bool stopped_ = false;        // the last loop ended at the operator's stop
    std::uint32_t mirrored_ = 0;  // pages the last write moved to the spare area
    std::optional<std::uint64_t> firstMismatch_;
};

// The warn line of a write that moved pages to the spare area; it comes
// before the write's result line. It tells where pages went, not that the
// write failed.
inline constexpr std::string_view kMirroredPagesTail =
    " pages were moved to the spare area (see the PGM log).";
std::string mirroredPagesText(std::uint32_t pages);

}  // namespace sonoprog::tarn
