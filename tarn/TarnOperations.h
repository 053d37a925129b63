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
    bool blankCheck();
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
    TarnFields& fields_;
    core::OperationServices s_;
    std::optional<TarnCommands> chip_;  // over services.link, when there is one
    std::filesystem::path lastFile_;
    std::optional<std::uint64_t> firstMismatch_;
};

// The warn line of a write that moved pages to the spare area; it comes
// before the write's result line. It tells where pages went, not that the
// write failed.
inline constexpr std::string_view kMirroredPagesTail =
    " pages were moved to the spare area (see the PGM log).";
std::string mirroredPagesText(std::uint32_t pages);

}  // namespace sonoprog::tarn
