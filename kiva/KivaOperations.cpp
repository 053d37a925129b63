#include "kiva/KivaOperations.h"

#include <cstring>
#include <vector>

#include "core/ImageSnapshot.h"
#include "core/IniFile.h"
#include "core/NumberText.h"
#include "ivr/Ivr2bin.h"

namespace sonoprog::kiva {

namespace {

constexpr std::string_view kNoAppNote = "This DAT file does not have application note!";

}  // namespace

std::string KivaReplaceExtension(std::string_view path, std::string_view extension) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    std::string out(
        path.substr(0, dot != std::string_view::npos && dot >= nameStart ? dot : path.size()));
    out += extension;
    return out;
}

bool KivaSafeExtName(std::string_view extension) {
    return extension.find_first_of("/\\") == std::string_view::npos &&
           extension.find("..") == std::string_view::npos;
}

std::string_view KivaConversionMessage(int result) {
    switch (result) {
        case ivr::kIvrCannotOpen:
            return "Can not open this file!";
        case ivr::kIvrNotIvr:
            return "Error IVR file!";
        default:
            return "Failed!";
    }
}

const core::FileDialogRequest KivaOperations::kImageDialog{"DAT file|*.dat", "dat"};

KivaOperations::KivaOperations(KivaFields& fields, const core::OperationServices& services,
                               const ivr::IvrKeys& keys)
    : fields_(fields), s_(services), keys_(keys) {
    if (s_.link) commands_.emplace(*s_.link);
}

bool KivaOperations::loadImage(const std::string& path) {
    return loadImage([&path]() -> std::optional<std::string> { return path; });
}

bool KivaOperations::loadImage(const core::ImageChoice& choose) {
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ LOAD FILE ]");
    frame.step("  -> Open BIN file...");
    const auto path = choose();
    if (!path) {
        frame.warn("Cancel!");
        return false;
    }
    std::vector<std::uint8_t> image(kKivaSize);
    const int result = ivr::IvrToImage(*path, image.data(), image.size(), keys_);
    if (result != ivr::kIvrOk) {
        // The fields keep the previous file, which later operations use.
        frame.fail(KivaConversionMessage(result));
        return false;
    }
    fields_.loadFile = *path;
    frame.pass("Loaded file: " + *path);
    const auto word = static_cast<std::uint16_t>(image[14] | (image[15] << 8));
    frame.step("  -> Get file check sum...");
    fields_.checkSum = core::hex4(word);
    frame.pass("File check sum: " + fields_.checkSum);
    frame.step("  -> Done!");
    return true;
}

std::optional<std::string> KivaOperations::appNote() {
    if (fields_.loadFile.empty()) {
        s_.prompter.showMessage("INFO", "Please load a DAT file!", core::BoxIcon::Information);
        return std::nullopt;
    }
    const core::IniFile companion =
        core::IniFile::load(KivaReplaceExtension(fields_.loadFile, ".ini"));
    const std::string extension = companion.readString("Info", "ExtName");
    // The value comes with the DAT file: one that would leave its folder counts as none.
    if (extension.empty() || !KivaSafeExtName(extension)) {
        s_.prompter.showMessage("INFO", kNoAppNote, core::BoxIcon::Information);
        return std::nullopt;
    }
    return KivaReplaceExtension(fields_.loadFile, extension);
}

void KivaOperations::convertStep(core::OperationFrame& frame, std::uint8_t* image) {
    frame.step("  -> Open file...");
    const core::FilePtr file = core::openImage(s_.image, fields_.loadFile);
    const int result = ivr::IvrStreamToImage(file.get(), image, kKivaSize, keys_);
    if (result != ivr::kIvrOk)
        frame.fail(KivaConversionMessage(result));
    else
        frame.pass("File: " + fields_.loadFile);
}

void KivaOperations::detectStep(core::OperationFrame& frame, std::uint8_t detectCode) {
    frame.step("  -> Chip detect...");
    const core::CommandResult detected = commands_->KivaDetect(detectCode);
    if (!detected) frame.fail(detected.message());
    if (frame.ok()) frame.pass("Device: Kiva300");
}

void KivaOperations::disableStep(core::OperationFrame& frame, std::uint8_t endCode) {
    frame.step("  -> Disable chip...");
    // The end command closes the pass whatever came before; its outcome
    // changes nothing about the operation's result.
    if (const auto ended = commands_->KivaEnd(endCode))
        frame.pass("Finished!");
    else
        frame.log().fail(ended.message());
}

void KivaOperations::comparePass(core::OperationFrame& frame, const std::uint8_t* expected,
                                 std::string_view mismatch, GaugeFormula gauge,
                                 core::ImageComparer* diff) {
    std::uint8_t block[kKivaBlock];
    std::uint32_t position = 0;
    while (frame.ok() && position < kKivaSize) {
        s_.yield.yield();
        frame.progress(static_cast<long long>(position) * 100 / gauge.divisor + gauge.offset);
        const std::uint8_t n = KivaBlockCount(position);
        if (const auto read = commands_->KivaReadBlock(n, block); !read) {
            frame.fail(read.message());
            break;
        }
        if (diff) {
            diff->add(position, block, expected + position, n);
            position += n;
            continue;
        }
        for (std::uint8_t i = 0; i < n; ++i) {
            if (block[i] != (expected ? expected[position + i] : 0xFF)) {
                if (expected) firstMismatch_ = position + i;
                frame.fail(mismatch);
                break;
            }
        }
        position += n;
    }
}

void KivaOperations::programPass(core::OperationFrame& frame, const std::uint8_t* image) {
    std::uint32_t position = 0;
    while (frame.ok() && position < kKivaSize) {
        s_.yield.yield();
        frame.progress(static_cast<long long>(position) * 100 / 8192);
        const std::uint8_t n = KivaBlockCount(position);
        if (const auto programmed = commands_->KivaProgramBlock(image + position, n); !programmed) {
            frame.fail(programmed.message());
            break;
        }
        position += n;
    }
}

void KivaOperations::readingPass(core::OperationFrame& frame, std::string_view stepText,
                                 const std::uint8_t* expected, std::string_view mismatch,
                                 GaugeFormula gauge, core::ImageComparer* diff) {
    if (frame.ok()) detectStep(frame, byte(Code::DetectRead));
    if (frame.ok()) {
        frame.step(stepText);
        comparePass(frame, expected, mismatch, gauge, diff);
        if (diff) diff->finish();
    }
    if (frame.ok()) {
        frame.progress(100);
        frame.pass("Passed!");
    }
    disableStep(frame, byte(Code::EndRead));
    frame.step("  -> Done!");
}

bool KivaOperations::blankCheck() {
    if (!commands_) return false;  // a front end without a Writer runs no chip operation
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ BLANK CHECK ]");
    readingPass(frame, "  -> Blank check...", nullptr, "Chip is not blank!", {4096, 0});
    return frame.ok();
}

bool KivaOperations::write() {
    if (!commands_) return false;  // a front end without a Writer runs no chip operation
    std::vector<std::uint8_t> image(kKivaSize);
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ WRITE AND VERIFY ]");
    convertStep(frame, image.data());
    if (frame.ok()) detectStep(frame, byte(Code::DetectProgram));
    if (frame.ok()) {
        frame.step("  -> Write chip...");
        programPass(frame, image.data());
    }
    if (frame.ok()) {
        frame.progress(50);
        frame.pass("Passed!");
    }
    disableStep(frame, byte(Code::EndProgram));
    // A failed programming pass skips the whole reading pass.
    if (!frame.ok()) {
        frame.step("  -> Done!");
        return false;
    }
    readingPass(frame, "  -> Verify chip...", image.data(), "Failed!", {8192, 50});
    return frame.ok();
}

bool KivaOperations::verify() {
    if (!commands_) return false;  // a front end without a Writer runs no chip operation
    firstMismatch_.reset();
    std::vector<std::uint8_t> image(kKivaSize);
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ VERIFY ]");
    convertStep(frame, image.data());
    // A stand-alone verify fills only half the gauge before its jump to 100.
    readingPass(frame, "  -> Verify chip...", image.data(), "Failed!", {8192, 0});
    return frame.ok();
}

bool KivaOperations::compare(core::ImageComparer& diff) {
    if (!commands_) return false;  // a front end without a Writer runs no chip operation
    diff = core::ImageComparer{};
    std::vector<std::uint8_t> image(kKivaSize);
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ COMPARE ]");
    convertStep(frame, image.data());
    readingPass(frame, "  -> Compare chip...", image.data(), {}, {4096, 0}, &diff);
    return frame.ok();
}

}  // namespace sonoprog::kiva
