#include "tarn/TarnOperations.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/ChipRun.h"
#include "core/ImageSnapshot.h"
#include "core/ImageSum.h"
#include "core/NumberText.h"
#include "core/TempFiles.h"

namespace sonoprog::tarn {

namespace {

// A large stdio buffer for the log and read files: a page is 1,024 bytes, a
// system call per page would cost more than the page's transfers on the
// virtual Writer.
constexpr std::size_t kStreamBuffer = 1u << 16;

// The gauge of the page loops: ((done) * 100 + 1) div span, in unsigned 32 bits.
std::uint32_t pageGauge(std::uint32_t done, std::uint32_t span) {
    return (done * 100u + 1u) / span;
}

std::string pageText(std::uint32_t page) {
    return "0x" + core::hex6(page);
}

// A decimal number too large for a 32-bit field reads as 0, as text would. As
// a start page that would quietly move the range onto page 0.
bool numberTooLarge(std::string_view text) {
    std::string_view digits = core::trimBlanks(text);
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-'))
        digits.remove_prefix(1);
    return !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos &&
           digits.find_first_not_of('0') != std::string_view::npos && core::fieldInt(text) == 0;
}

// The size test of Load File, which Write and Verify repeat on the file they
// open: whole pages, at least one and at least Info Page of them. A size
// beyond 2 GiB does not fit the signed 32-bit field the write re-checks
// against, and must not wrap into a small, "valid" size.
bool imageSizeFits(long long size, std::string_view infoPage) {
    if (size <= 0 || size > INT32_MAX || size % static_cast<long long>(kPageSize) != 0)
        return false;
    return core::fieldInt(infoPage) <= size / static_cast<long long>(kPageSize);
}

// Appends one record to a PGM log and pushes it to the disk at once, so that
// the records survive a crash; false when the disk did not take it.
bool putRecord(std::FILE* f, const std::string& record) {
    const bool written = std::fputs(record.c_str(), f) >= 0;
    return std::fflush(f) == 0 && written;
}

}  // namespace

std::string mirroredPagesText(std::uint32_t pages) {
    return std::to_string(pages) + std::string(kMirroredPagesTail);
}

const core::FileDialogRequest TarnOperations::kImageDialog{"BIN file|*.bin", "bin"};

TarnOperations::TarnOperations(TarnFields& fields, const core::OperationServices& services)
    : fields_(fields), s_(services) {
    if (s_.link) chip_.emplace(*s_.link);
}

// ---------------------------------------------------------------- Load File

bool TarnOperations::loadImage(const std::string& path) {
    return loadImage([&path]() -> std::optional<std::string> { return path; });
}

bool TarnOperations::loadImage(const core::ImageChoice& choose) {
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ LOAD FILE ]");
    bool loaded = false;
    bool taken = false;  // the fields name the chosen file
    frame.step("  -> Open BIN file...");
    const std::optional<std::string> chosen = choose();
    core::FilePtr file;
    long long size = -1;
    if (!chosen) {
        frame.warn("Cancel!");
        frame.clearFlag();
    } else if (!(file = core::openForReading(*chosen))) {
        frame.fail("Can't open this file!");
    }
    if (frame.ok()) {
        fields_.LoadFile = *chosen;
        taken = true;
        frame.pass("Loaded file: " + *chosen);
        size = core::streamSize(file.get());
        const long long pages = size < 0 ? 0 : size / static_cast<long long>(kPageSize);
        if (!imageSizeFits(size, fields_.InfoPage)) frame.fail("Failed file size!");
        fields_.PageBeg = "0";
        fields_.PageCnt = std::to_string(pages);
        fields_.FileSize = std::to_string(size);
        frame.pass("File size: " + std::to_string(size) + " (Byte)");
    }
    if (frame.ok()) {
        frame.step("  -> Get file check sum...");
        const core::ImageSumResult sum =
            core::sumImageStream(file.get(), s_.yield, static_cast<std::uint64_t>(size) + 1);
        if (!sum.ok) {
            frame.fail("Can't open this file!");
        } else if (sum.bytes != static_cast<std::uint64_t>(size)) {
            // The file changed while it was summed: the sum is not the file's.
            frame.fail("Failed file size!");
        } else {
            fields_.ChkSum = core::hex8(sum.sum);
            frame.pass("File check sum: " + fields_.ChkSum);
            loaded = true;
        }
    }
    // The sum beside the path is this file's or none: another image's sum
    // beside a refused file reads as a loaded image.
    if (taken && !loaded) fields_.ChkSum.clear();
    frame.step("  -> Done!");
    file.reset();
    frame.finish();
    return loaded;
}

// ---------------------------------------------------------------- the steps

namespace {

// The pages an operation works on.
struct Range {
    std::uint32_t start = 0;
    std::uint32_t last = 0;
    std::uint32_t infoEnd = 0;  // pages below it are information pages
};

// One chip operation of the tab: the files it keeps, the holder of the line
// its failure ends with, and the steps every operation is built from.
class TarnRun final : public core::ChipRun {
public:
    TarnRun(TarnFields& fields, const core::OperationServices& s, TarnCommands& chip,
            std::filesystem::path& lastFile, std::string_view heading)
        : core::ChipRun(s, heading, core::TimeLines::Yes),
          fields_(fields),
          chip_(chip),
          lastFile_(lastFile) {
        lastFile_.clear();
    }

    // The chip address of the first byte a failed verify found wrong.
    std::optional<std::uint64_t> firstMismatch;

    void openImage() {
        if (!begin("  -> Open DAT file...")) return;
        const std::string& path = fields_.LoadFile;
        image_ = core::openImage(s_.image, path);
        if (!image_) {
            frame_.fail("Failed to open DAT file: " + path);
            return;
        }
        imageSize_ = core::streamSize(image_.get());
        // A stream without a size (a pipe) matches no loaded size, not even the
        // "-1" that its own failed load left in the field.
        if (imageSize_ < 0 ||
            imageSize_ != static_cast<long long>(core::fieldInt(fields_.FileSize))) {
            frame_.fail("This DAT file was modified! " + path);
            return;
        }
        // The fields may hold a file the load refused: it is never programmed or
        // compared.
        if (!imageSizeFits(imageSize_, fields_.InfoPage)) {
            frame_.fail("Failed file size!");
            return;
        }
        frame_.pass("Opened file: " + path);
    }

    void checkRange() {
        if (!begin()) return;
        const std::uint32_t start = core::fieldUInt(fields_.PageBeg);
        const std::uint32_t count = core::fieldUInt(fields_.PageCnt);
        // In 64 bits, so that a negative start or count cannot wrap the range back
        // into the user area; and never past the image's own pages, which would
        // program (or compare against) a stale page buffer.
        const std::uint64_t last = std::uint64_t{start} + count - 1;
        const std::uint64_t filePages = static_cast<std::uint64_t>(imageSize_) / kPageSize;
        if (count == 0 || last >= kUserPages || count > filePages ||
            numberTooLarge(fields_.PageBeg)) {
            frame_.fail("Wrong range of write!");
            return;
        }
        range_.start = start;
        range_.last = static_cast<std::uint32_t>(last);
        // In 64 bits too: a huge Info Page must hold every page to the exact
        // match, not wrap round to none.
        range_.infoEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(
            std::uint64_t{start} + core::fieldUInt(fields_.InfoPage), kUserPages));
    }

    // The PGM or VRF log of a write or verify.
    void createLog(std::string_view prefix) {
        if (!begin("  -> Create LOG file...")) return;
        if (!createTempFile(prefix, ".log")) {
            frame_.fail("Failed to create LOG file!");
            return;
        }
        frame_.pass("LOG file: " + lastFile_.string());
    }

    void createReadFile() {
        if (!begin("  -> Create read file...")) return;
        if (!createTempFile("READ_", ".dat"))
            frame_.fail("Failed to create read file!");
        else
            frame_.pass("read file: " + lastFile_.string());
    }

    // logHolder: the chip's own line rather than "Device: Tarn20".
    void detect(bool logHolder) {
        if (!begin("  -> Chip detect...")) return;
        const core::CommandResult detected = chip_.TarnDetect();
        holder_ = detected.message();
        if (!detected) {
            frame_.fail(holder_);
            return;
        }
        frame_.pass(logHolder ? holder_ : std::string("Device: Tarn20"));
    }

    void writePages() {
        if (!beginPages("  -> Write chip...")) return;
        const std::uint32_t span = range_.last - range_.start + 1;
        core::ProgressReporter progress(s_, core::ProgressUnit::Pages, span);
        for (std::uint32_t page = range_.start; ok() && page <= range_.last; ++page) {
            if (!beginImagePage(progress, page, page - range_.start, span)) break;
            const bool info = page < range_.infoEnd;
            const core::CommandResult written = writePage(page, info);
            if (written) continue;
            logKept_ &= putRecord(out_.get(), "[X] Failed to write page: " + pageText(page) + " (" +
                                                  holder_ + "), \n");
            if (!mirrorPage(page, info, written)) break;
        }
        if (ok()) progress.report(span);
        // The chip is written, but the record of its mirrored pages is not:
        // that must not end with "Passed!".
        if (ok() && !logKept_) {
            holder_ = "Failed to write LOG file!";
            frame_.clearFlag();
        }
    }

    // `allowed`: the errors a data page may have.
    void verifyPages(std::uint32_t allowed) {
        if (!beginPages("  -> Verify chip...")) return;
        const std::uint32_t span = range_.last - range_.start + 1;
        core::ProgressReporter progress(s_, core::ProgressUnit::Pages, span);
        for (std::uint32_t page = range_.start; ok() && page <= range_.last; ++page) {
            if (!beginImagePage(progress, page, page - range_.start, span)) break;
            std::uint32_t errors = 0;
            if (const auto compared = chip_.TarnComparePage(page, imagePage_, errors); !compared) {
                holder_ =
                    "Failed to verify page: " + pageText(page) + " (" + compared.message() + ")!";
                frame_.clearFlag();
            } else if (page < range_.infoEnd && errors != 0) {
                // The code information must match exactly, whatever Allow Error says.
                holder_ =
                    "Failed to verify page: " + pageText(page) + " (Code information has broken)!";
                std::fprintf(out_.get(), "Found %u error(s) in page: %s\n", errors,
                             pageText(page).c_str());
                frame_.clearFlag();
            } else if (page >= range_.infoEnd && errors > allowed) {
                holder_ = "    [X] Failed to verify page: " + pageText(page) +
                          " (Too many error in this page!)!";
                std::fprintf(out_.get(), "[X] Found %u error(s) in page: %s\n", errors,
                             pageText(page).c_str());
                frame_.clearFlag();
            }
            if (!ok() && errors != 0) {
                const std::uint8_t* back = chip_.readBack();
                const auto at = std::mismatch(back, back + kPageSize, imagePage_).first - back;
                firstMismatch = std::uint64_t{page} * kPageSize + static_cast<std::uint64_t>(at);
            }
        }
        if (ok()) progress.report(span);
    }

    // The user area into the read file.
    void readPages() {
        if (!beginPages("  -> Read chip...")) return;
        core::ProgressReporter progress(s_, core::ProgressUnit::Pages, kUserPages);
        for (std::uint32_t page = 0; ok() && page < kUserPages; ++page) {
            s_.yield.yield();
            progress.report(page);
            if (stopBefore(progress, page)) break;
            frame_.progress(pageGauge(page, kUserPages));
            if (const auto read = chip_.TarnReadPage(page, page_.data()); !read) {
                holder_ = "Failed to read page: " + pageText(page) + " (" + read.message() + ")!";
                frame_.clearFlag();
            } else if (std::fwrite(page_.data(), 1, kPageSize, out_.get()) != kPageSize) {
                // A full disk must not end with "Finish!".
                holder_ = "Failed to write read file!";
                frame_.clearFlag();
            }
        }
        // The last pages may still sit in the stream's buffer.
        if (ok() && std::fflush(out_.get()) != 0) {
            holder_ = "Failed to write read file!";
            frame_.clearFlag();
        }
        if (ok()) progress.report(kUserPages);
    }

    // The user area, then the map: a chip with mirrored pages is no blank chip
    // even when its user area reads erased.
    void blankPages() {
        if (!beginPages("  -> Blank check...")) return;
        auto erased = [](const std::uint8_t* p) {
            return std::all_of(p, p + kPageSize, [](std::uint8_t b) { return b == 0xFF; });
        };
        constexpr std::uint32_t kMapPages = kChipPages - kFirstMapPage;
        const std::uint32_t span = kUserPages + kMapPages;
        for (std::uint32_t done = 0; ok() && done < span; ++done) {
            const std::uint32_t page =
                done < kUserPages ? done : kFirstMapPage + (done - kUserPages);
            s_.yield.yield();
            frame_.progress(pageGauge(done, span));
            if (const auto read = chip_.TarnReadPage(page, page_.data()); !read) {
                holder_ = "Failed to read page: " + pageText(page) + " (" + read.message() + ")!";
                frame_.clearFlag();
            } else if (!erased(page_.data())) {
                holder_ = page < kUserPages ? "Chip is not blank! Page: " + pageText(page)
                                            : "Mirror map is not empty! Page: " + pageText(page);
                frame_.clearFlag();
            }
        }
    }

    // The range read back into `result`; with `followMirror`, a page the
    // mirror map moved is read at its spare page.
    void comparePages(bool followMirror, TarnComparison& result) {
        if (!beginPages("  -> Compare chip...")) return;
        const std::uint32_t span = range_.last - range_.start + 1;
        const std::vector<std::uint32_t> readAt =
            followMirror ? mirroredRange(result) : std::vector<std::uint32_t>{};
        core::ProgressReporter progress(s_, core::ProgressUnit::Pages, span);
        for (std::uint32_t page = range_.start; ok() && page <= range_.last; ++page) {
            if (!beginImagePage(progress, page, page - range_.start, span)) break;
            const std::uint32_t at = readAt.empty() ? page : readAt[page - range_.start];
            if (const auto read = chip_.TarnReadPage(at, page_.data()); !read) {
                holder_ = "Failed to read page: " + pageText(at) + " (" + read.message() + ")!";
                frame_.clearFlag();
                break;
            }
            result.diff.add(std::uint64_t{page} * kPageSize, page_.data(), imagePage_, kPageSize);
        }
        result.diff.finish();
    }

    // The line the page loop ended with, when it ran.
    void result(std::string_view passText) {
        if (!entered_) return;
        // Said before the result line: a later Verify fails on these pages
        // unless it is told where they went.
        if (mirrored_ > 0) frame_.warn(mirroredPagesText(mirrored_));
        if (stopped_) {
            frame_.warn(core::kStoppedByOperator);
        } else if (ok()) {
            frame_.progress(100);
            frame_.pass(passText);
        } else {
            frame_.log().fail(holder_);
        }
    }

    // Sent at the end of every operation, also when nothing reached the chip.
    // logHolder: the chip's own line rather than "Finished!".
    void disable(bool logHolder) {
        frame_.step("  -> Disable chip...");
        const core::CommandResult released = chip_.TarnDisable();
        holder_ = released.message();
        if (!released) {
            frame_.log().fail(holder_);
            frame_.clearFlag();
        } else {
            frame_.pass(logHolder ? holder_ : std::string("Finished!"));
        }
        frame_.step("  -> Done!");
    }

private:
    void release() override {
        reader_.reset();
        image_.reset();
        out_.reset();
    }

    // The step of a page loop; from here on the operation ends with a result line.
    bool beginPages(std::string_view stepText) {
        if (!begin(stepText)) return false;
        entered_ = true;
        // The image is read from its first byte, whatever the stream's own
        // position: file page k belongs to chip page start + k.
        if (image_) reader_.emplace(image_.get(), kBlockPages * kPageSize);
        return true;
    }

    bool createTempFile(std::string_view prefix, std::string_view extension) {
        s_.paths.ensureTemp();
        auto created =
            core::createStampedFile(s_.paths.tempDir, prefix, s_.clock.localNow(), extension);
        if (!created) return false;
        out_ = std::move(created->file);
        lastFile_ = created->path;
        std::setvbuf(out_.get(), nullptr, _IOFBF, kStreamBuffer);
        return true;
    }

    // The top of a page turn: the window's message pass, the operator's stop,
    // the figures and the gauge, the next image page (imagePage_ points at it,
    // inside the image block).
    bool beginImagePage(core::ProgressReporter& progress, std::uint32_t page, std::uint32_t done,
                        std::uint32_t span) {
        s_.yield.yield();
        progress.report(done);
        if (stopBefore(progress, page)) return false;
        frame_.progress(pageGauge(done, span));
        imagePage_ = reader_->next(kPageSize);
        if (imagePage_) return true;
        // The size test passed a moment ago, so the file changed under us.
        holder_ = "This DAT file was modified! " + fields_.LoadFile;
        frame_.clearFlag();
        return false;
    }

    // True when the operator asked to stop: the loop ends before `page`, and
    // the log file (when there is one) records where.
    bool stopBefore(core::ProgressReporter& progress, std::uint32_t page) {
        if (!progress.stopRequested()) return false;
        stopped_ = true;
        frame_.clearFlag();
        if (out_ && lastFile_.extension() == ".log")
            putRecord(out_.get(),
                      "[!] Stopped by the operator before page: " + pageText(page) + "\n");
        return true;
    }

    // A failure leaves its message in holder_.
    core::CommandResult writePage(std::uint32_t page, bool info) {
        core::CommandResult written = info ? chip_.TarnWriteInfoPage(page, imagePage_)
                                           : chip_.TarnWriteDataPage(page, imagePage_);
        if (!written) holder_ = written.message();
        return written;
    }

    // The page the chip refused goes to the next usable spare page, never past
    // the spare area (the mirror map follows it), and the map records it.
    // False when the write must end.
    bool mirrorPage(std::uint32_t page, bool info, const core::CommandResult& refused) {
        // A dead link is not a bad page: searching the spare area would only
        // fail every spare in turn, each with its own error box.
        if (refused.transferFailed()) {
            frame_.clearFlag();
            return false;
        }
        bool transferFailed = false;
        bool found = false;
        while (spare_ <= kLastSparePage) {
            const core::CommandResult written = writePage(spare_, info);
            if (written) {
                found = true;
                break;
            }
            if ((transferFailed = written.transferFailed())) break;
            ++spare_;
        }
        if (!found) {
            if (!transferFailed) holder_ = "Memory has been exhausted!";
            frame_.clearFlag();
            return false;
        }
        if (const auto mirrored = chip_.TarnSetMirror(page, spare_); !mirrored) {
            holder_ = "Failed to mirror bad page! (" + mirrored.message() + ")";
            frame_.clearFlag();
            return false;
        }
        logKept_ &= putRecord(out_.get(), "    mirror this page to: " + pageText(spare_) + ".\n");
        ++mirrored_;
        ++spare_;
        return true;
    }

    // Where each page of the range is read: itself, or the spare page the
    // mirror map sends it to (also listed in `result`).
    std::vector<std::uint32_t> mirroredRange(TarnComparison& result) {
        const std::uint32_t span = range_.last - range_.start + 1;
        std::vector<std::uint32_t> readAt(span);
        for (std::uint32_t k = 0; k < span; ++k) readAt[k] = range_.start + k;
        // One map page holds the entries of 256 user pages.
        for (std::uint32_t m = range_.start >> 8; ok() && m <= range_.last >> 8; ++m) {
            const std::uint32_t mapPage = kFirstMapPage + m;
            if (const auto read = chip_.TarnReadPage(mapPage, page_.data()); !read) {
                holder_ =
                    "Failed to read page: " + pageText(mapPage) + " (" + read.message() + ")!";
                frame_.clearFlag();
                break;
            }
            for (std::uint32_t bad = std::max(range_.start, m << 8);
                 bad <= std::min(range_.last, (m << 8) + 255); ++bad) {
                const MirrorEntry e = mirrorEntry(bad, 0);
                const auto spare = mirrorSpare(page_[e.offset], page_[e.offset + 1u]);
                if (!spare) continue;
                readAt[bad - range_.start] = *spare;
                result.mirrored.emplace_back(bad, *spare);
            }
        }
        return readAt;
    }

    // The image is read a block of pages at a time, and every page is
    // programmed and compared from where it lies in the reader's block.
    static constexpr std::size_t kBlockPages = 64;

    TarnFields& fields_;
    TarnCommands& chip_;
    std::filesystem::path& lastFile_;
    std::string holder_;
    core::FilePtr image_;
    long long imageSize_ = 0;
    core::FilePtr out_;  // the PGM or VRF log, or the read file
    std::array<std::uint8_t, kPageSize> page_{};
    std::optional<core::ImageReader> reader_;
    const std::uint8_t* imagePage_ = nullptr;
    Range range_;
    bool entered_ = false;  // the page loop ran
    bool stopped_ = false;  // the loop ended at the operator's stop
    bool logKept_ = true;   // every record reached the PGM log
    std::uint32_t spare_ = kFirstSparePage;
    std::uint32_t mirrored_ = 0;  // pages the write moved to the spare area
};

}  // namespace

// ---------------------------------------------------------------- the operations

bool TarnOperations::write() {
    if (!chip_) return false;  // a front end without a Writer runs no chip operation
    TarnRun run(fields_, s_, *chip_, lastFile_, "[ WRITE ]");
    run.openImage();
    run.checkRange();
    run.createLog("PGM_");
    run.detect(false);
    run.writePages();
    run.result("Passed!");
    run.disable(false);
    return run.end();
}

bool TarnOperations::verify() {
    if (!chip_) return false;  // a front end without a Writer runs no chip operation
    TarnRun run(fields_, s_, *chip_, lastFile_, "[ VERIFY ]");
    // A negative allowance would wrap to four thousand million and pass any page.
    const std::uint32_t allowed =
        static_cast<std::uint32_t>(std::max(0, core::fieldInt(fields_.AllowError)));
    firstMismatch_.reset();
    run.openImage();
    run.checkRange();
    run.createLog("VRF_");
    run.detect(false);
    run.verifyPages(allowed);
    firstMismatch_ = run.firstMismatch;
    run.result("Passed!");
    run.disable(false);
    return run.end();
}

bool TarnOperations::read() {
    if (!chip_) return false;  // a front end without a Writer runs no chip operation
    TarnRun run(fields_, s_, *chip_, lastFile_, "[ READ ]");
    run.createReadFile();
    run.detect(true);
    run.readPages();
    run.result("Finish!");
    run.disable(true);
    return run.end();
}

bool TarnOperations::blankCheck() {
    if (!chip_) return false;  // a front end without a Writer runs no chip operation
    TarnRun run(fields_, s_, *chip_, lastFile_, "[ BLANK CHECK ]");
    run.detect(false);
    run.blankPages();
    run.result("Passed!");
    run.disable(false);
    return run.end();
}

// A comparison keeps no log: what it found is its output.
bool TarnOperations::compare(bool followMirror, TarnComparison& result) {
    if (!chip_) return false;  // a front end without a Writer runs no chip operation
    TarnRun run(fields_, s_, *chip_, lastFile_, "[ COMPARE ]");
    result = TarnComparison{};
    run.openImage();
    run.checkRange();
    run.detect(false);
    run.comparePages(followMirror, result);
    run.result("Finish!");
    run.disable(false);
    return run.end();
}

}  // namespace sonoprog::tarn
