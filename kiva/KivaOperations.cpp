#include "kiva/KivaOperations.h"

#include <cstring>
#include <vector>

#include "core/ChipRun.h"
#include "core/ImageSnapshot.h"
#include "core/IniFile.h"
#include "core/NumberText.h"
#include "ivr/Ivr2bin.h"

namespace sonoprog::kiva {

namespace {

constexpr std::string_view kNoAppNote = "This DAT file does not have application note!";

}  // namespace

std::string replaceExtension(std::string_view path, std::string_view extension) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    std::string out(
        path.substr(0, dot != std::string_view::npos && dot >= nameStart ? dot : path.size()));
    out += extension;
    return out;
}

bool safeExtName(std::string_view extension) {
    return extension.find_first_of("/\\") == std::string_view::npos &&
           extension.find("..") == std::string_view::npos;
}

std::string_view conversionMessage(int result) {
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
        frame.fail(conversionMessage(result));
        return false;
    }
    fields_.loadFile = *path;
    frame.pass("Loaded file: " + *path);
    const auto word = static_cast<std::uint16_t>(image[14] | (image[15] << 8));
    frame.step("  -> Get file check sum...");
    fields_.chkSum = core::hex4(word);
    frame.pass("File check sum: " + fields_.chkSum);
    frame.step("  -> Done!");
    return true;
}

std::optional<std::string> KivaOperations::appNote() {
    if (fields_.loadFile.empty()) {
        s_.prompter.showMessage("INFO", "Please load a DAT file!", core::BoxIcon::Information);
        return std::nullopt;
    }
    const core::IniFile companion = core::IniFile::load(replaceExtension(fields_.loadFile, ".ini"));
    const std::string extension = companion.readString("Info", "ExtName");
    // The value comes with the DAT file: one that would leave its folder counts as none.
    if (extension.empty() || !safeExtName(extension)) {
        s_.prompter.showMessage("INFO", kNoAppNote, core::BoxIcon::Information);
        return std::nullopt;
    }
    return replaceExtension(fields_.loadFile, extension);
}

namespace {

// Gauge while a pass runs: position x 100 / divisor + offset.
struct GaugeFormula {
    std::uint32_t divisor;
    int offset;
};

// One chip operation of the tab: the image it converted and the steps every
// operation is built from. The chip keeps the position itself, so each pass
// is its own detect, blocks and end command.
class KivaRun final : public core::ChipRun {
public:
    KivaRun(const KivaFields& fields, const core::OperationServices& s, KivaCommands& commands,
            const ivr::IvrKeys& keys, std::optional<std::uint32_t>& firstMismatch,
            std::string_view heading)
        : core::ChipRun(s, heading),
          fields_(fields),
          commands_(commands),
          keys_(keys),
          firstMismatch_(firstMismatch) {}

    // The DAT file converted into the chip's image.
    void convert() {
        if (!begin("  -> Open file...")) return;
        image_.resize(kKivaSize);
        const core::FilePtr file = core::openImage(s_.image, fields_.loadFile);
        const int result = ivr::IvrStreamToImage(file.get(), image_.data(), kKivaSize, keys_);
        if (result != ivr::kIvrOk)
            frame_.fail(conversionMessage(result));
        else
            frame_.pass("File: " + fields_.loadFile);
    }

    // The start of a pass: DetectRead or DetectProgram.
    void detect(Code code) {
        if (!begin("  -> Chip detect...")) return;
        const core::CommandResult detected = commands_.detect(byte(code));
        if (!detected) {
            frame_.fail(detected.message());
            return;
        }
        frame_.pass("Device: Kiva300");
    }

    void program() {
        if (!begin("  -> Write chip...")) return;
        std::uint32_t position = 0;
        while (ok() && position < kKivaSize) {
            s_.yield.yield();
            frame_.progress(static_cast<long long>(position) * 100 / 8192);
            const std::uint8_t n = blockCount(position);
            if (const auto programmed = commands_.programBlock(image_.data() + position, n);
                !programmed) {
                frame_.fail(programmed.message());
                break;
            }
            position += n;
        }
    }

    // Reads the chip block by block and fails at the first byte that is not
    // the image's (or 0xFF, for a run without an image) with `mismatch`.
    void check(std::string_view stepText, std::string_view mismatch, GaugeFormula gauge) {
        if (!begin(stepText)) return;
        const std::uint8_t* expected = image_.empty() ? nullptr : image_.data();
        readPass(gauge, [&](std::uint32_t position, const std::uint8_t* block, std::uint8_t n) {
            for (std::uint8_t i = 0; i < n; ++i) {
                if (block[i] != (expected ? expected[position + i] : 0xFF)) {
                    if (expected) firstMismatch_ = position + i;
                    frame_.fail(mismatch);
                    return;
                }
            }
        });
    }

    // Every block into `diff`; a difference fails nothing.
    void compare(core::ImageComparer& diff) {
        if (!begin("  -> Compare chip...")) return;
        readPass({4096, 0}, [&](std::uint32_t position, const std::uint8_t* block, std::uint8_t n) {
            diff.add(position, block, image_.data() + position, n);
        });
        diff.finish();
    }

    // The pass's result line, the gauge at `percent`.
    void passed(int percent) {
        if (!begin()) return;
        frame_.progress(percent);
        frame_.pass("Passed!");
    }

    // The end command (EndRead or EndProgram) closes the pass whatever came
    // before; its outcome changes nothing about the operation's result. A
    // pass that failed closes the operation: a later pass is skipped, its
    // end command included.
    void disable(Code code) {
        if (closed_) return;
        frame_.step("  -> Disable chip...");
        if (const auto ended = commands_.disable(byte(code)))
            frame_.pass("Finished!");
        else
            frame_.log().fail(ended.message());
        closed_ = !ok();
    }

    void done() { frame_.step("  -> Done!"); }

private:
    template <typename Judge>
    void readPass(GaugeFormula gauge, Judge judge) {
        std::uint8_t block[kKivaBlock];
        std::uint32_t position = 0;
        while (ok() && position < kKivaSize) {
            s_.yield.yield();
            frame_.progress(static_cast<long long>(position) * 100 / gauge.divisor + gauge.offset);
            const std::uint8_t n = blockCount(position);
            if (const auto read = commands_.readBlock(n, block); !read) {
                frame_.fail(read.message());
                break;
            }
            judge(position, block, n);
            position += n;
        }
    }

    const KivaFields& fields_;
    KivaCommands& commands_;
    const ivr::IvrKeys& keys_;
    std::optional<std::uint32_t>& firstMismatch_;
    std::vector<std::uint8_t> image_;
    bool closed_ = false;
};

}  // namespace

bool KivaOperations::blankCheck() {
    if (!commands_) return false;  // a front end without a Writer runs no chip operation
    KivaRun run(fields_, s_, *commands_, keys_, firstMismatch_, "[ BLANK CHECK ]");
    run.detect(Code::DetectRead);
    run.check("  -> Blank check...", "Chip is not blank!", {4096, 0});
    run.passed(100);
    run.disable(Code::EndRead);
    run.done();
    return run.end();
}

bool KivaOperations::write() {
    if (!commands_) return false;  // a front end without a Writer runs no chip operation
    KivaRun run(fields_, s_, *commands_, keys_, firstMismatch_, "[ WRITE AND VERIFY ]");
    run.convert();
    run.detect(Code::DetectProgram);
    run.program();
    run.passed(50);
    run.disable(Code::EndProgram);
    run.detect(Code::DetectRead);
    run.check("  -> Verify chip...", "Failed!", {8192, 50});
    run.passed(100);
    run.disable(Code::EndRead);
    run.done();
    return run.end();
}

bool KivaOperations::verify() {
    if (!commands_) return false;  // a front end without a Writer runs no chip operation
    firstMismatch_.reset();
    KivaRun run(fields_, s_, *commands_, keys_, firstMismatch_, "[ VERIFY ]");
    run.convert();
    run.detect(Code::DetectRead);
    // A stand-alone verify fills only half the gauge before its jump to 100.
    run.check("  -> Verify chip...", "Failed!", {8192, 0});
    run.passed(100);
    run.disable(Code::EndRead);
    run.done();
    return run.end();
}

bool KivaOperations::compare(core::ImageComparer& diff) {
    if (!commands_) return false;  // a front end without a Writer runs no chip operation
    diff = core::ImageComparer{};
    KivaRun run(fields_, s_, *commands_, keys_, firstMismatch_, "[ COMPARE ]");
    run.convert();
    run.detect(Code::DetectRead);
    run.compare(diff);
    run.passed(100);
    run.disable(Code::EndRead);
    run.done();
    return run.end();
}

}  // namespace sonoprog::kiva
