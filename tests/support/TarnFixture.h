#pragma once

// The Tarn20 chip in the tests: a short image with its fields and the checks
// of what the chip holds, and the unit tests' rig around a virtual Writer.
// The USB backend tests and the reliability sweeps put the same image on
// their own Writers.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/NumberText.h"
#include "core/OperationLog.h"
#include "link/Link.h"
#include "sim/TarnChip.h"
#include "sim/VirtualWriter.h"
#include "tarn/TarnCommands.h"
#include "tarn/TarnOperations.h"
#include "tests/support/Fakes.h"
#include "tests/support/ImageBytes.h"
#include "tests/support/RigServices.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {

using Bytes = std::vector<std::uint8_t>;

// An image whose bytes differ from page to page and never read as erased.
inline Bytes patternImage(std::uint32_t pages) {
    Bytes out(std::size_t{pages} * tarn::kPageSize);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>((i * 13 + (i >> 10) * 7 + 1) % 0xFF);
    return out;
}

inline Bytes pageOf(const Bytes& image, std::uint32_t k) {
    auto first = image.begin() + static_cast<std::ptrdiff_t>(std::size_t{k} * tarn::kPageSize);
    return Bytes(first, first + tarn::kPageSize);
}

// A short Tarn20 image for the chip operations: the file, and the tab's fields
// as Load File leaves them, written to pages 0..3 with two information pages
// (so both ways of confirming a page run) and no error allowance on verify.
struct TarnImage {
    static constexpr std::uint32_t kPages = 4;

    explicit TarnImage(const TempDir& dir, std::uint8_t salt = 0x33)
        : image(sweepImage(kPages * tarn::kPageSize, salt)) {
        fields.LoadFile = dir.write("image.bin", image).string();
        fields.FileSize = std::to_string(image.size());
        std::uint32_t sum = 0;
        for (std::uint8_t b : image) sum += b;
        fields.ChkSum = core::hex8(sum);
        fields.PageBeg = "0";
        fields.PageCnt = std::to_string(kPages);
        fields.InfoPage = "2";
        fields.AllowError = "0";
    }

    std::vector<std::uint8_t> page(std::uint32_t k) const {
        auto first = image.begin() + static_cast<long>(k * tarn::kPageSize);
        return {first, first + static_cast<long>(tarn::kPageSize)};
    }
    // What a player of the chip reads for user page p: the page itself, or the
    // spare page its mirror-map entry names.
    static std::vector<std::uint8_t> effectivePage(const sim::TarnChip& chip, std::uint32_t p) {
        const tarn::MirrorEntry at = tarn::mirrorEntry(p, 0);
        const std::uint16_t value = static_cast<std::uint16_t>(
            chip.byteAt(at.mapPage, at.offset) | (chip.byteAt(at.mapPage, at.offset + 1u) << 8));
        return chip.page(value == 0xFFFF ? p : (0x10000u | value));
    }
    // Every page of the image reached the chip (directly or through the mirror map).
    bool written(const sim::TarnChip& chip) const {
        for (std::uint32_t k = 0; k < kPages; ++k)
            if (effectivePage(chip, k) != page(k)) return false;
        return true;
    }
    // The chip's own pages hold the image (what verify compares, with no allowance).
    bool onChip(const sim::TarnChip& chip) const {
        for (std::uint32_t k = 0; k < kPages; ++k)
            if (chip.page(k) != page(k)) return false;
        return true;
    }
    void program(sim::TarnChip& chip) const {
        for (std::uint32_t k = 0; k < kPages; ++k) chip.writePage(k, page(k).data());
    }
    // The read file holds the whole user area of the chip, page by page.
    static bool dumpMatches(const sim::TarnChip& chip, const std::filesystem::path& file) {
        std::error_code ec;
        if (std::filesystem::file_size(file, ec) !=
            std::uintmax_t{tarn::kUserPages} * tarn::kPageSize)
            return false;
        std::FILE* f = std::fopen(file.c_str(), "rb");
        if (!f) return false;
        std::vector<std::uint8_t> buf(tarn::kPageSize), want(tarn::kPageSize);
        bool same = true;
        for (std::uint32_t p = 0; p < tarn::kUserPages && same; ++p) {
            same = std::fread(buf.data(), 1, buf.size(), f) == buf.size();
            chip.readPage(p, want.data());
            same = same && buf == want;
        }
        std::fclose(f);
        return same;
    }

    std::vector<std::uint8_t> image;
    tarn::TarnFields fields;
};

// A virtual Writer with a Tarn20 chip, the recording fakes and the Tarn20
// operations over them, in a fresh program folder with its Temp folder.
struct TarnRig : ::testing::Test, RecordingServices {
    TempDir dir;
    core::AppPaths paths = core::AppPaths::forFolder(dir.path());
    sim::VirtualWriter writer;
    std::shared_ptr<sim::TarnChip> chip = std::make_shared<sim::TarnChip>();
    RecordingPrompter prompter;
    link::Link link{writer, prompter};
    tarn::TarnFields fields;
    core::OperationServices services = servicesOf(*this);
    tarn::TarnOperations ops{fields, services};

    // Load File as the window runs it: the dialog shown once the heading is out.
    bool loadFile() {
        return ops.loadImage(core::openDialogChoice(files, tarn::TarnOperations::kImageDialog));
    }

    TarnRig() {
        paths.ensureTemp();
        writer.addChip(chip);
        writer.open();
        writer.setLogging(true);
    }

    // Writes the image and loads it through Load File, as the operator would.
    std::filesystem::path loadImage(const Bytes& image, const std::string& name = "image.bin") {
        auto path = dir.write(name, image);
        files.openAnswers.push_back(path.string());
        // Small images hold fewer pages than the default Info Page asks for.
        const std::string infoPage = fields.InfoPage;
        fields.InfoPage = "0";
        EXPECT_TRUE(loadFile());
        fields.InfoPage = infoPage;
        return path;
    }

    // The fields a load would leave for a file that is too big to write out in a test.
    void takeSparseImage(std::uint32_t pages) {
        auto path = dir / "sparse.bin";
        { std::ofstream touch(path); }
        std::filesystem::resize_file(path, std::uintmax_t{pages} * tarn::kPageSize);
        fields.LoadFile = path.string();
        fields.FileSize = std::to_string(std::uint64_t{pages} * tarn::kPageSize);
        fields.PageBeg = "0";
        fields.PageCnt = std::to_string(pages);
    }

    std::vector<std::string> lines() const { return pane.texts(); }

    // Command packets of one code, in order, from the transfer log.
    std::vector<Bytes> commands(std::uint8_t code) const {
        std::vector<Bytes> out;
        for (const auto& r : writer.log())
            if (r.kind == sim::TransferRecord::Kind::Command && r.bytes[0] == code)
                out.push_back(r.bytes);
        return out;
    }
    // The page parameter (bytes 2..4) of every command of one code.
    std::vector<std::uint32_t> pages(std::uint8_t code) const {
        std::vector<std::uint32_t> out;
        for (const auto& c : commands(code))
            out.push_back(c[2] | (std::uint32_t{c[3]} << 8) | (std::uint32_t{c[4]} << 16));
        return out;
    }
    std::vector<std::filesystem::path> tempFiles() const {
        std::vector<std::filesystem::path> out;
        for (const auto& e : std::filesystem::directory_iterator(paths.tempDir))
            out.push_back(e.path());
        return out;
    }
    Bytes chipPage(std::uint32_t page) const { return chip->page(page); }
};

// A file size limit stands in for a full disk while it lives: files can still
// be created, but no file of this process grows past `bytes`.
class FullDisk {
public:
    explicit FullDisk(rlim_t bytes) : previous_(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit small = old_;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FullDisk() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, previous_);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    void (*previous_)(int);
    rlimit old_{};
};

inline Bytes packet(std::initializer_list<std::uint8_t> head) {
    Bytes p(64, 0);
    std::size_t i = 0;
    for (auto b : head) p[i++] = b;
    return p;
}

}  // namespace sonoprog::test
