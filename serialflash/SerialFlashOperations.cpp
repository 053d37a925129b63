#include "serialflash/SerialFlashOperations.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <optional>
#include <vector>

#include "core/AtomicFile.h"
#include "core/ChipRun.h"
#include "core/FileHandle.h"
#include "core/ImageReader.h"
#include "core/ImageSnapshot.h"
#include "core/ImageSum.h"
#include "core/NumberText.h"
#include "core/OperationFrame.h"
#include "core/Progress.h"
#include "serialflash/SerialFlashCommands.h"
#include "serialflash/SerialFlashDevices.h"

namespace sonoprog::serialflash {

namespace {

// The texts that differ between the operations, letter for letter.
struct ChipTexts {
    std::string_view heading;
    std::string_view openStep;
    std::string_view modified;
    std::string_view detectStep;
    std::string_view verifyStep;
    std::string_view disableFail;
};

constexpr ChipTexts kBlankTexts{"[ BLANK CHECK ]", {}, {}, "  -> Chip detect...", {}, kUsbFailed};
constexpr ChipTexts kWriteTexts{
    "[ WRITE ]",           "  -> Open file...",   "This file was modified! ",
    "  -> Chip detect...", "  -> Verify chip...", "SB failed!"};
constexpr ChipTexts kVerifyTexts{
    "[ VERIFY ]",        "  -> Open file.",   "his file was modified! ",
    "  -> Chip detect.", "  -> Verify chip.", kUsbFailed};

constexpr ChipTexts kReadTexts{"[ READ ]",          {},        {}, "  -> Chip detect...",
                               "  -> Read chip...", kUsbFailed};
constexpr ChipTexts kEraseTexts{"[ ERASE ]", {}, {}, "  -> Chip detect...", {}, kUsbFailed};
constexpr ChipTexts kCompareTexts{
    "[ COMPARE ]",         "  -> Open file...",    "This file was modified! ",
    "  -> Chip detect...", "  -> Compare chip...", kUsbFailed};
constexpr ChipTexts kProbeTexts{"[ PROBE ]", {}, {}, "  -> Chip detect...", {}, kUsbFailed};

constexpr std::string_view kPassed = "Passed!";

// The size fields as unsigned 32-bit numbers: a sign, letters or more than 32
// bits do not parse and count as 0, so "-1" cannot become a 4 GiB memory.
std::uint64_t sizeField(std::string_view text) {
    text = core::trimBlanks(text);
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : 0;
}

// The file is read in chunks of up to this, so that a block costs a copy and
// not a read call.
constexpr std::size_t kChunk = 1u << 20;

// Sets the gauge only when its value changes: the loops run once per block.
class GaugeSetter {
public:
    explicit GaugeSetter(core::OperationFrame& frame) : frame_(frame) {}
    void set(std::uint64_t percent) {
        if (percent == last_) return;
        last_ = percent;
        frame_.progress(static_cast<long long>(percent));
    }

private:
    core::OperationFrame& frame_;
    std::uint64_t last_ = ~0ull;
};

// One chip operation: the command packets and the steps every chip operation
// of the tab is built from.
class SerialFlashRun final : public core::ChipRun {
public:
    // The address of the first byte a failed verify found wrong.
    std::optional<std::uint64_t> firstMismatch;

    SerialFlashRun(SerialFlashFields& fields, const core::OperationServices& s,
                   core::WriterLink& link, const ChipTexts& texts)
        : core::ChipRun(s, texts.heading),
          fields_(fields),
          texts_(texts),
          commands_(link),
          gauge_(frame_) {}

    // Ids from Setup.ini, read anew for this operation.
    void identify() {
        device_ = lookupDevice(s_.paths, fields_.device);
        if (!device_.idsConfigured()) frame_.fail(kNoDeviceInfo);
    }

    void openFile() {
        if (!begin(texts_.openStep)) return;
        const std::string& path = fields_.loadFile;
        file_ = core::openImage(s_.image, path);
        if (!file_) {
            frame_.fail("Failed to open the file: " + path);
            return;
        }
        // Only the size tells a changed file; the check sum is not computed again.
        long long present = core::streamSize(file_.get());
        if (present < 0 || static_cast<std::uint64_t>(present) != fileSize()) {
            frame_.fail(std::string(texts_.modified) + path);
            return;
        }
        frame_.pass("Opened file: " + path);
        // The image must fit the device before anything reaches the chip: a
        // refused image never costs the chip its contents.
        rangeTest();
        if (!ok()) return;
        reader_.emplace(file_.get(),
                        static_cast<std::size_t>(std::clamp<std::uint64_t>(fileSize(), 1, kChunk)));
    }

    void createReadFile(core::AtomicFile& out, const std::string& path) {
        if (!begin("  -> Create read file...")) return;
        if (out.open())
            frame_.pass("read file: " + path);
        else
            frame_.fail("Failed to create read file!");
    }

    void detect() {
        if (!begin(texts_.detectStep)) return;
        const core::CommandResult detected = commands_.detect(device_.midByte(), device_.didByte());
        if (!detected) {
            frame_.fail(detected.message());
            return;
        }
        frame_.pass("Device: " + fields_.device);
    }

    void erase() {
        if (!begin("  -> Erase chip...")) return;
        const core::CommandResult erased = commands_.erase();
        if (!erased) {
            frame_.fail(erased.message());
            return;
        }
        frame_.pass(kPassed);
    }

    void blankCheck() {
        if (!begin("  -> Blank check...")) return;
        const std::uint64_t memSize = sizeField(fields_.memSize);
        // The Writer addresses 24 bits: a larger Size would read the same
        // 16 MiB over and over and call that a blank chip.
        if (memSize == 0 || memSize > kAddressSpace) {
            frame_.fail(kNoDeviceInfo);
            return;
        }
        std::uint64_t address = 0;
        core::ProgressReporter progress(s_, core::ProgressUnit::Bytes, memSize);
        while (ok()) {
            s_.yield.yield();
            progress.report(address);
            if (stopHere(progress)) break;
            gauge_.set(address * 100 / memSize + 1);
            // The Writer returns 48 bytes whatever the count; only those below
            // the memory size belong to the device and are judged.
            const core::CommandResult read =
                commands_.readBlock(static_cast<std::uint32_t>(address), kBlockSize);
            if (!read) {
                frame_.fail(read.message());
                break;
            }
            const std::uint8_t* data = commands_.readData();
            const std::size_t n = blockCount(address, memSize);
            if (std::any_of(data, data + n, [](std::uint8_t b) { return b != 0xFF; })) {
                frame_.fail("Chip is not blank!");
                break;
            }
            address += n;
            if (address >= memSize) break;
        }
        if (ok()) progress.report(memSize);
        if (ok()) frame_.pass(kPassed);
    }

    void writeChip() {
        if (!begin("  -> Write chip...")) return;
        std::uint64_t address = 0;
        if (ok()) reader_->rewind();
        const std::uint64_t size = fileSize();
        std::optional<core::ProgressReporter> progress;
        if (ok()) progress.emplace(s_, core::ProgressUnit::Bytes, size);
        while (ok()) {
            s_.yield.yield();
            progress->report(address);
            if (stopHere(*progress)) break;
            gauge_.set(address * 100 / size / 2);
            const std::size_t n = blockCount(address, size);
            // A file cut short since it was opened would leave the packet with
            // the bytes of the block before; they must never be programmed.
            if (reader_->read(commands_.blockData(), n) != n) {
                frame_.fail(std::string(texts_.modified) + fields_.loadFile);
                break;
            }
            const core::CommandResult written = commands_.writeBlock(
                static_cast<std::uint32_t>(address), static_cast<std::uint8_t>(n));
            if (!written) {
                frame_.fail(written.message());
                break;
            }
            address += n;
            if (address >= size) break;
        }
        if (ok()) progress->report(size);
        gauge_.set(50);
        if (ok()) frame_.pass(kPassed);
    }

    // halfGauge: the second half of a write (50..99) rather than 0..99.
    void verifyChip(bool halfGauge) {
        if (!begin(texts_.verifyStep)) return;
        std::uint64_t address = 0;
        if (ok()) reader_->rewind();
        const std::uint64_t size = fileSize();
        std::array<std::uint8_t, kBlockSize> fromFile{};
        std::optional<core::ProgressReporter> progress;
        if (ok()) progress.emplace(s_, core::ProgressUnit::Bytes, size);
        while (ok()) {
            s_.yield.yield();
            progress->report(address);
            if (stopHere(*progress)) break;
            gauge_.set(halfGauge ? address * 100 / size / 2 + 50 : address * 100 / size);
            const std::size_t n = blockCount(address, size);
            const core::CommandResult read = commands_.readBlock(
                static_cast<std::uint32_t>(address), static_cast<std::uint8_t>(n));
            if (!read) {
                frame_.fail(read.message());
                break;
            }
            const std::uint8_t* data = commands_.readData();
            if (reader_->read(fromFile.data(), n) != n) {
                frame_.fail(std::string(texts_.modified) + fields_.loadFile);
                break;
            }
            if (std::memcmp(data, fromFile.data(), n) != 0) {
                firstMismatch =
                    address + static_cast<std::uint64_t>(
                                  std::mismatch(data, data + n, fromFile.data()).first - data);
                frame_.fail("Verify failed!");
                break;
            }
            address += n;
            if (address >= size) break;
        }
        if (ok()) progress->report(size);
        gauge_.set(100);
        if (ok()) frame_.pass(kPassed);
    }

    // The chip over the file's length, every block into `diff`.
    void compareChip(core::ImageComparer& diff) {
        if (!begin(texts_.verifyStep)) return;
        rangeTest();
        std::uint64_t address = 0;
        if (ok()) reader_->rewind();
        const std::uint64_t size = fileSize();
        // The gauge moves once per percent: its next step is computed, not
        // divided out for every block.
        std::uint64_t nextPercent = 0;
        while (ok()) {
            s_.yield.yield();
            if (address >= nextPercent) {
                const std::uint64_t percent = address * 100 / size;
                gauge_.set(percent);
                nextPercent = ((percent + 1) * size + 99) / 100;
            }
            const std::size_t n = blockCount(address, size);
            const core::CommandResult read = commands_.readBlock(
                static_cast<std::uint32_t>(address), static_cast<std::uint8_t>(n));
            if (!read) {
                frame_.fail(read.message());
                break;
            }
            // Compared where it lies in the reader's block, without a copy.
            const std::uint8_t* fromFile = reader_->next(n);
            if (!fromFile) {
                frame_.fail(std::string(texts_.modified) + fields_.loadFile);
                break;
            }
            diff.add(address, commands_.readData(), fromFile, n);
            address += n;
            if (address >= size) break;
        }
        diff.finish();
        if (ok()) {
            gauge_.set(100);
            frame_.pass("Finish!");
        }
    }

    // The chip's first `length` bytes into `out`.
    void readChip(core::AtomicFile& out, std::uint64_t length) {
        if (!begin(texts_.verifyStep)) return;
        const std::uint64_t memSize = sizeField(fields_.memSize);
        if (length == 0) length = memSize;
        if (memSize == 0 || length > memSize || length > kAddressSpace) {
            frame_.fail("Wronging range of file size!");
            return;
        }
        std::uint64_t address = 0;
        while (ok() && address < length) {
            s_.yield.yield();
            gauge_.set(address * 100 / length);
            const std::size_t n = blockCount(address, length);
            const core::CommandResult read = commands_.readBlock(
                static_cast<std::uint32_t>(address), static_cast<std::uint8_t>(n));
            if (!read) {
                frame_.fail(read.message());
                break;
            }
            if (!out.write(commands_.readData(), n)) {
                frame_.fail("Failed to write read file!");
                break;
            }
            address += n;
        }
        if (ok() && !out.commit()) frame_.fail("Failed to write read file!");
        if (ok()) {
            gauge_.set(100);
            frame_.pass("Finish!");
        }
    }

    // Detect with each device's ids; a device that does not answer is a
    // warn line, not a failure, and the next one is tried.
    void probe(const std::vector<SerialFlashDevice>& devices, std::vector<std::string>& answered) {
        frame_.step(texts_.detectStep);
        for (const auto& d : devices) {
            if (!ok()) break;
            s_.yield.yield();
            if (!d.idsConfigured()) {
                frame_.warn(d.name + ": " + std::string(kNoDeviceInfo));
                continue;
            }
            const core::CommandResult detected = commands_.detect(d.midByte(), d.didByte());
            if (detected) {
                frame_.pass("Device: " + d.name);
                answered.push_back(d.name);
            } else if (detected.transferFailed()) {
                frame_.fail(detected.message());
            } else {
                frame_.warn(d.name + ": " + detected.message());
            }
        }
        if (ok() && answered.empty()) frame_.fail("No device answered!");
    }

    // Runs whatever happened before, also when nothing else was sent.
    void disable() {
        frame_.step("  -> Disable chip...");
        if (commands_.disable()) {
            frame_.pass("Finished!");
        } else {
            frame_.fail(texts_.disableFail);
        }
        frame_.step("  -> Done!");
    }

private:
    // The file is closed before the frame unlocks the tab.
    void release() override {
        reader_.reset();
        file_.reset();
    }

    std::uint64_t fileSize() const { return sizeField(fields_.fileSize); }

    static std::size_t blockCount(std::uint64_t address, std::uint64_t size) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, size - address));
    }

    // The operator's stop at a block boundary: the warn line, and the steps
    // after it are skipped up to the closing one.
    bool stopHere(core::ProgressReporter& progress) {
        if (!progress.stopRequested()) return false;
        frame_.warn(core::kStoppedByOperator);
        frame_.clearFlag();
        return true;
    }

    // Beyond 2^24 bytes the 24-bit address would wrap and program the start of
    // the chip a second time. Runs as the file is opened, before the detect.
    void rangeTest() {
        const std::uint64_t memSize = sizeField(fields_.memSize);
        const std::uint64_t size = fileSize();
        if (size > memSize || size == 0 || memSize == 0 || size > kAddressSpace)
            frame_.fail("Wronging range of file size!");
    }

    SerialFlashFields& fields_;
    const ChipTexts& texts_;
    SerialFlashCommands commands_;
    GaugeSetter gauge_;
    SerialFlashDevice device_;
    core::FilePtr file_;

    std::optional<core::ImageReader> reader_;
};

}  // namespace

bool SerialFlashOperations::showDevice() {
    const SerialFlashDevice device = lookupDevice(s_.paths, fields_.device);
    fields_.memSize = std::to_string(device.size);
    return fields_.memSize != "0";
}

bool SerialFlashOperations::deviceChange() {
    if (showDevice()) return true;
    s_.prompter.showMessage("ERROR", kNoDeviceInfo, core::BoxIcon::Error);
    return false;
}

const core::FileDialogRequest SerialFlashOperations::kImageDialog{"BIN file|*.bin", "bin"};

bool SerialFlashOperations::loadImage(const std::string& path) {
    return loadImage([&path]() -> std::optional<std::string> { return path; });
}

bool SerialFlashOperations::loadImage(const core::ImageChoice& choose) {
    core::OperationFrame frame(s_.log, s_.lock, s_.clock, "[ LOAD FILE ]");
    frame.step("  -> Open BIN file...");
    auto chosen = choose();
    if (!chosen || chosen->empty()) {
        frame.warn("Cancel!");
        return false;
    }
    const std::string path = *chosen;
    core::FilePtr f = core::openForReading(path);
    if (!f) {
        frame.fail("Can't open this file!");
        return false;
    }
    frame.pass("Loaded file: " + path);

    frame.step("  -> Get file size...");
    const long long size = core::streamSize(f.get());
    if (size < 0) {
        frame.fail("Can't open this file!");
        return false;
    }
    const std::string sizeText = std::to_string(size);
    frame.pass("File size: " + sizeText + " (Byte)");

    frame.step("  -> Get file check sum...");
    const core::ImageSumResult sum =
        core::sumImageStream(f.get(), s_.yield, static_cast<std::uint64_t>(size) + 1);
    // A sum over fewer bytes than the size would be recorded as the file's own.
    if (!sum.ok || sum.bytes != static_cast<std::uint64_t>(size)) {
        frame.fail("Can't open this file!");
        return false;
    }
    const std::string sumText = core::hex8(sum.sum);
    frame.pass("File check sum: " + sumText);
    frame.step("  -> Done!");
    f.reset();

    // A load that fails on its way leaves all three fields as they were.
    fields_.loadFile = path;
    fields_.fileSize = sizeText;
    fields_.chkSum = sumText;
    return frame.ok();
}

bool SerialFlashOperations::blankCheck() {
    if (!s_.link) return false;  // a front end without a Writer runs no chip operation
    SerialFlashRun run(fields_, s_, *s_.link, kBlankTexts);
    run.identify();
    run.detect();
    run.blankCheck();
    run.disable();
    return run.end();
}

bool SerialFlashOperations::write() {
    if (!s_.link) return false;  // a front end without a Writer runs no chip operation
    SerialFlashRun run(fields_, s_, *s_.link, kWriteTexts);
    run.identify();
    run.openFile();
    run.detect();
    run.erase();
    run.writeChip();
    run.verifyChip(true);
    run.disable();
    return run.end();
}

bool SerialFlashOperations::verify() {
    if (!s_.link) return false;  // a front end without a Writer runs no chip operation
    SerialFlashRun run(fields_, s_, *s_.link, kVerifyTexts);
    run.identify();
    run.openFile();
    run.detect();
    run.verifyChip(false);
    firstMismatch_ = run.firstMismatch;
    run.disable();
    return run.end();
}

bool SerialFlashOperations::read(const std::string& path, std::uint64_t length) {
    if (!s_.link) return false;  // a front end without a Writer runs no chip operation
    SerialFlashRun run(fields_, s_, *s_.link, kReadTexts);
    core::AtomicFile out(path);
    run.identify();
    run.createReadFile(out, path);
    run.detect();
    run.readChip(out, length);
    run.disable();
    return run.end();
}

bool SerialFlashOperations::erase() {
    if (!s_.link) return false;  // a front end without a Writer runs no chip operation
    SerialFlashRun run(fields_, s_, *s_.link, kEraseTexts);
    run.identify();
    run.detect();
    run.erase();
    run.disable();
    return run.end();
}

bool SerialFlashOperations::compare(core::ImageComparer& diff) {
    if (!s_.link) return false;  // a front end without a Writer runs no chip operation
    diff = core::ImageComparer{};
    SerialFlashRun run(fields_, s_, *s_.link, kCompareTexts);
    run.identify();
    run.openFile();
    run.detect();
    run.compareChip(diff);
    run.disable();
    return run.end();
}

bool SerialFlashOperations::probe(std::vector<std::string>& answered) {
    if (!s_.link) return false;  // a front end without a Writer runs no chip operation
    answered.clear();
    const core::IniFile ini = core::IniFile::load(s_.paths.setupIni());
    SerialFlashRun run(fields_, s_, *s_.link, kProbeTexts);
    run.probe(listDevices(ini), answered);
    run.disable();
    return run.end();
}

}  // namespace sonoprog::serialflash
