#include "tarn/TarnOperations.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

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

// ---------------------------------------------------------------- shared steps

bool TarnOperations::openImage(core::OperationFrame& frame) {
    const std::string& path = fields_.LoadFile;
    frame.step("  -> Open DAT file...");
    image_ = core::openImage(s_.image, path);
    if (!image_) {
        frame.fail("Failed to open DAT file: " + path);
        return false;
    }
    imageSize_ = core::streamSize(image_.get());
    // A stream without a size (a pipe) matches no loaded size, not even the
    // "-1" that its own failed load left in the field.
    if (imageSize_ < 0 || imageSize_ != static_cast<long long>(core::fieldInt(fields_.FileSize))) {
        frame.fail("This DAT file was modified! " + path);
        return false;
    }
    // The fields may hold a file the load refused: it is never programmed or
    // compared.
    if (!imageSizeFits(imageSize_, fields_.InfoPage)) {
        frame.fail("Failed file size!");
        return false;
    }
    frame.pass("Opened file: " + path);
    return true;
}

bool TarnOperations::checkRange(core::OperationFrame& frame, Range& range) {
    const std::uint32_t start = core::fieldUInt(fields_.PageBeg);
    const std::uint32_t count = core::fieldUInt(fields_.PageCnt);
    // In 64 bits, so that a negative start or count cannot wrap the range back
    // into the user area; and never past the image's own pages, which would
    // program (or compare against) a stale page buffer.
    const std::uint64_t last = std::uint64_t{start} + count - 1;
    const std::uint64_t filePages = static_cast<std::uint64_t>(imageSize_) / kPageSize;
    if (count == 0 || last >= kUserPages || count > filePages || numberTooLarge(fields_.PageBeg)) {
        frame.fail("Wrong range of write!");
        return false;
    }
    range.start = start;
    range.last = static_cast<std::uint32_t>(last);
    // In 64 bits too: a huge Info Page must hold every page to the exact
    // match, not wrap round to none.
    range.infoEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        std::uint64_t{start} + core::fieldUInt(fields_.InfoPage), kUserPages));
    return true;
}

bool TarnOperations::createTempFile(std::string_view prefix, std::string_view extension) {
    s_.paths.ensureTemp();
    auto created =
        core::createStampedFile(s_.paths.tempDir, prefix, s_.clock.localNow(), extension);
    if (!created) return false;
    out_ = std::move(created->file);
    lastFile_ = created->path;
    std::setvbuf(out_.get(), nullptr, _IOFBF, kStreamBuffer);
    return true;
}

bool TarnOperations::detectChip(core::OperationFrame& frame, bool logHolder) {
    frame.step("  -> Chip detect...");
    const core::CommandResult detected = chip_->TarnDetect();
    holder_ = detected.message();
    if (!detected) {
        frame.fail(holder_);
        return false;
    }
    frame.pass(logHolder ? holder_ : std::string("Device: Tarn20"));
    return true;
}

bool TarnOperations::releaseChip(core::OperationFrame& frame, bool logHolder) {
    // Sent at the end of every operation, also when nothing reached the chip.
    frame.step("  -> Disable chip...");
    const core::CommandResult released = chip_->TarnDisable();
    holder_ = released.message();
    if (!released) {
        frame.log().fail(holder_);
        return false;
    }
    frame.pass(logHolder ? holder_ : std::string("Finished!"));
    return true;
}

bool TarnOperations::prepareImageRun(core::OperationFrame& frame, Range& range,
                                     std::string_view logPrefix, std::string_view loopStep) {
    lastFile_.clear();
    stopped_ = false;
    mirrored_ = 0;
    if (!openImage(frame) || !checkRange(frame, range)) return false;
    // A comparison keeps no log: what it found is its output.
    if (!logPrefix.empty()) {
        frame.step("  -> Create LOG file...");
        if (!createTempFile(logPrefix, ".log")) {
            frame.fail("Failed to create LOG file!");
            return false;
        }
        frame.pass("LOG file: " + lastFile_.string());
    }
    if (!detectChip(frame, false)) return false;
    frame.step(loopStep);
    // The image is read from its first byte, whatever the stream's own
    // position: file page k belongs to chip page start + k.
    reader_.emplace(image_.get(), kBlockPages * kPageSize);
    return true;
}

bool TarnOperations::closeRun(core::OperationFrame& frame, bool entered, std::string_view passText,
                              bool logRelease) {
    bool passed = false;
    if (entered) {
        // Said before the result line: a later Verify fails on these pages
        // unless it is told where they went.
        if (mirrored_ > 0) frame.warn(mirroredPagesText(mirrored_));
        if (stopped_) {
            frame.warn(core::kStoppedByOperator);
        } else if (frame.ok()) {
            frame.progress(100);
            frame.pass(passText);
            passed = true;
        } else {
            frame.log().fail(holder_);
        }
    }
    if (!releaseChip(frame, logRelease)) passed = false;
    frame.step("  -> Done!");
    closeFiles();
    frame.finish();
    return passed;
}

bool TarnOperations::stopBefore(core::OperationFrame& frame, core::ProgressReporter& progress,
                                std::uint32_t page) {
    if (!progress.stopRequested()) return false;
    stopped_ = true;
    frame.clearFlag();
    if (out_ && lastFile_.extension() == ".log")
        putRecord(out_.get(), "[!] Stopped by the operator before page: " + pageText(page) + "\n");
    return true;
}

bool TarnOperations::beginImagePage(core::OperationFrame& frame, core::ProgressReporter& progress,
                                    std::uint32_t page, std::uint32_t done, std::uint32_t span) {
    s_.yield.yield();
    progress.report(done);
    if (stopBefore(frame, progress, page)) return false;
    frame.progress(pageGauge(done, span));
    imagePage_ = reader_->next(kPageSize);
    if (imagePage_) return true;
    // The size test passed a moment ago, so the file changed under us.
    holder_ = "This DAT file was modified! " + fields_.LoadFile;
    frame.clearFlag();
    return false;
}

core::CommandResult TarnOperations::writePage(std::uint32_t page, bool info) {
    core::CommandResult written = info ? chip_->TarnWriteInfoPage(page, imagePage_)
                                       : chip_->TarnWriteDataPage(page, imagePage_);
    if (!written) holder_ = written.message();
    return written;
}

void TarnOperations::closeFiles() {
    reader_.reset();
    image_.reset();
    out_.reset();
}

// ---------------------------------------------------------------- Write

bool TarnOperations::write() {
    if (!chip_) return false;  // a front end without a Writer runs no chip operation
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ WRITE ]", core::TimeLines::Yes);
    Range range;
    const bool entered = prepareImageRun(frame, range, "PGM_", "  -> Write chip...");
    bool logKept = true;
    if (entered) {
        std::uint32_t spare = kFirstSparePage;
        const std::uint32_t span = range.last - range.start + 1;
        core::ProgressReporter progress(s_, core::ProgressUnit::Pages, span);
        for (std::uint32_t page = range.start; frame.ok() && page <= range.last; ++page) {
            if (!beginImagePage(frame, progress, page, page - range.start, span)) break;
            const bool info = page < range.infoEnd;
            core::CommandResult written = writePage(page, info);
            if (written) continue;

            logKept &= putRecord(out_.get(), "[X] Failed to write page: " + pageText(page) + " (" +
                                                 holder_ + "), \n");
            // A dead link is not a bad page: searching the spare area would only
            // fail every spare in turn, each with its own error box.
            if (written.transferFailed()) {
                frame.clearFlag();
                break;
            }
            // The next usable spare page, never past the spare area (the
            // mirror map follows it).
            bool found = false;
            while (spare <= kLastSparePage) {
                written = writePage(spare, info);
                if (written) {
                    found = true;
                    break;
                }
                if (written.transferFailed()) break;
                ++spare;
            }
            if (!found) {
                if (!written.transferFailed()) holder_ = "Memory has been exhausted!";
                frame.clearFlag();
                break;
            }
            if (const auto mirrored = chip_->TarnSetMirror(page, spare); !mirrored) {
                holder_ = "Failed to mirror bad page! (" + mirrored.message() + ")";
                frame.clearFlag();
                break;
            }
            logKept &= putRecord(out_.get(), "    mirror this page to: " + pageText(spare) + ".\n");
            ++mirrored_;
            ++spare;
        }
        if (frame.ok()) progress.report(span);
        // The chip is written, but the record of its mirrored pages is not:
        // that must not end with "Passed!".
        if (frame.ok() && !logKept) {
            holder_ = "Failed to write LOG file!";
            frame.clearFlag();
        }
    }
    return closeRun(frame, entered, "Passed!", false);
}

// ---------------------------------------------------------------- Verify

bool TarnOperations::verify() {
    if (!chip_) return false;  // a front end without a Writer runs no chip operation
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ VERIFY ]", core::TimeLines::Yes);
    Range range;
    const bool entered = prepareImageRun(frame, range, "VRF_", "  -> Verify chip...");
    // A negative allowance would wrap to four thousand million and pass any page.
    const std::uint32_t allowed =
        static_cast<std::uint32_t>(std::max(0, core::fieldInt(fields_.AllowError)));
    firstMismatch_.reset();
    if (entered) {
        const std::uint32_t span = range.last - range.start + 1;
        core::ProgressReporter progress(s_, core::ProgressUnit::Pages, span);
        for (std::uint32_t page = range.start; frame.ok() && page <= range.last; ++page) {
            if (!beginImagePage(frame, progress, page, page - range.start, span)) break;
            std::uint32_t errors = 0;
            if (const auto compared = chip_->TarnComparePage(page, imagePage_, errors); !compared) {
                holder_ =
                    "Failed to verify page: " + pageText(page) + " (" + compared.message() + ")!";
                frame.clearFlag();
            } else if (page < range.infoEnd && errors != 0) {
                // The code information must match exactly, whatever Allow Error says.
                holder_ =
                    "Failed to verify page: " + pageText(page) + " (Code information has broken)!";
                std::fprintf(out_.get(), "Found %u error(s) in page: %s\n", errors,
                             pageText(page).c_str());
                frame.clearFlag();
            } else if (page >= range.infoEnd && errors > allowed) {
                holder_ = "    [X] Failed to verify page: " + pageText(page) +
                          " (Too many error in this page!)!";
                std::fprintf(out_.get(), "[X] Found %u error(s) in page: %s\n", errors,
                             pageText(page).c_str());
                frame.clearFlag();
            }
            if (!frame.ok() && errors != 0) {
                const std::uint8_t* back = chip_->readBack();
                const auto at = std::mismatch(back, back + kPageSize, imagePage_).first - back;
                firstMismatch_ = std::uint64_t{page} * kPageSize + static_cast<std::uint64_t>(at);
            }
        }
        if (frame.ok()) progress.report(span);
    }
    return closeRun(frame, entered, "Passed!", false);
}

// ---------------------------------------------------------------- Read

bool TarnOperations::read() {
    if (!chip_) return false;  // a front end without a Writer runs no chip operation
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ READ ]", core::TimeLines::Yes);
    lastFile_.clear();
    stopped_ = false;
    mirrored_ = 0;
    bool entered = false;
    frame.step("  -> Create read file...");
    if (!createTempFile("READ_", ".dat"))
        frame.fail("Failed to create read file!");
    else
        frame.pass("read file: " + lastFile_.string());
    if (frame.ok()) detectChip(frame, true);
    if (frame.ok()) {
        entered = true;
        frame.step("  -> Read chip...");
        core::ProgressReporter progress(s_, core::ProgressUnit::Pages, kUserPages);
        for (std::uint32_t page = 0; frame.ok() && page < kUserPages; ++page) {
            s_.yield.yield();
            progress.report(page);
            if (stopBefore(frame, progress, page)) break;
            frame.progress(pageGauge(page, kUserPages));
            if (const auto read = chip_->TarnReadPage(page, page_.data()); !read) {
                holder_ = "Failed to read page: " + pageText(page) + " (" + read.message() + ")!";
                frame.clearFlag();
            } else if (std::fwrite(page_.data(), 1, kPageSize, out_.get()) != kPageSize) {
                // A full disk must not end with "Finish!".
                holder_ = "Failed to write read file!";
                frame.clearFlag();
            }
        }
        // The last pages may still sit in the stream's buffer.
        if (frame.ok() && std::fflush(out_.get()) != 0) {
            holder_ = "Failed to write read file!";
            frame.clearFlag();
        }
        if (frame.ok()) progress.report(kUserPages);
    }
    return closeRun(frame, entered, "Finish!", true);
}

}  // namespace sonoprog::tarn

namespace sonoprog::tarn {

// ---------------------------------------------------------------- Blank check

bool TarnOperations::blank() {
    if (!chip_) return false;  // a front end without a Writer runs no chip operation
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ BLANK CHECK ]", core::TimeLines::Yes);
    lastFile_.clear();
    const bool entered = detectChip(frame, false);
    auto erased = [](const std::uint8_t* p) {
        return std::all_of(p, p + kPageSize, [](std::uint8_t b) { return b == 0xFF; });
    };
    // The user area, then the map: a chip with mirrored pages is no blank chip
    // even when its user area reads erased.
    constexpr std::uint32_t kMapPages = kChipPages - kFirstMapPage;
    const std::uint32_t span = kUserPages + kMapPages;
    if (entered) frame.step("  -> Blank check...");
    for (std::uint32_t done = 0; entered && frame.ok() && done < span; ++done) {
        const std::uint32_t page = done < kUserPages ? done : kFirstMapPage + (done - kUserPages);
        s_.yield.yield();
        frame.progress(pageGauge(done, span));
        if (const auto read = chip_->TarnReadPage(page, page_.data()); !read) {
            holder_ = "Failed to read page: " + pageText(page) + " (" + read.message() + ")!";
            frame.clearFlag();
        } else if (!erased(page_.data())) {
            holder_ = page < kUserPages ? "Chip is not blank! Page: " + pageText(page)
                                        : "Mirror map is not empty! Page: " + pageText(page);
            frame.clearFlag();
        }
    }
    return closeRun(frame, entered, "Passed!", false);
}

// ---------------------------------------------------------------- Compare

bool TarnOperations::compare(bool followMirror, TarnComparison& result) {
    if (!chip_) return false;  // a front end without a Writer runs no chip operation
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ COMPARE ]", core::TimeLines::Yes);
    result = TarnComparison{};
    Range range;
    const bool entered = prepareImageRun(frame, range, "", "  -> Compare chip...");
    if (entered) {
        const std::uint32_t span = range.last - range.start + 1;
        // Where each page of the range is read: itself, or its spare page.
        std::vector<std::uint32_t> readAt;
        if (followMirror) {
            readAt.resize(span);
            for (std::uint32_t k = 0; k < span; ++k) readAt[k] = range.start + k;
            // One map page holds the entries of 256 user pages.
            for (std::uint32_t m = range.start >> 8; frame.ok() && m <= range.last >> 8; ++m) {
                const std::uint32_t mapPage = kFirstMapPage + m;
                if (const auto read = chip_->TarnReadPage(mapPage, page_.data()); !read) {
                    holder_ =
                        "Failed to read page: " + pageText(mapPage) + " (" + read.message() + ")!";
                    frame.clearFlag();
                    break;
                }
                for (std::uint32_t bad = std::max(range.start, m << 8);
                     bad <= std::min(range.last, (m << 8) + 255); ++bad) {
                    const MirrorEntry e = mirrorEntry(bad, 0);
                    const auto spare = mirrorSpare(page_[e.offset], page_[e.offset + 1u]);
                    if (!spare) continue;
                    readAt[bad - range.start] = *spare;
                    result.mirrored.emplace_back(bad, *spare);
                }
            }
        }
        core::ProgressReporter progress(s_, core::ProgressUnit::Pages, span);
        for (std::uint32_t page = range.start; frame.ok() && page <= range.last; ++page) {
            if (!beginImagePage(frame, progress, page, page - range.start, span)) break;
            const std::uint32_t at = readAt.empty() ? page : readAt[page - range.start];
            if (const auto read = chip_->TarnReadPage(at, page_.data()); !read) {
                holder_ = "Failed to read page: " + pageText(at) + " (" + read.message() + ")!";
                frame.clearFlag();
                break;
            }
            result.diff.add(std::uint64_t{page} * kPageSize, page_.data(), imagePage_, kPageSize);
        }
        result.diff.finish();
    }
    return closeRun(frame, entered, "Finish!", false);
}

}  // namespace sonoprog::tarn
