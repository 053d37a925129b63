#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
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

// A virtual Writer with a Tarn20 chip, the recording fakes and the Tarn20
// operations over them, in a fresh program folder with its Temp folder.
struct TarnRig : ::testing::Test {
    TempDir dir;
    core::AppPaths paths = core::AppPaths::forFolder(dir.path());
    sim::VirtualWriter writer;
    std::shared_ptr<sim::TarnChip> chip = std::make_shared<sim::TarnChip>();
    RecordingPrompter prompter;
    link::Link link{writer, prompter};
    RecordingPane pane;
    core::OperationLog log{pane};
    RecordingLock lock;
    CountingYield yield;
    ScriptedFileChooser files;
    FixedClock clock;
    tarn::TarnFields fields;
    core::OperationServices services{log, lock, yield, prompter, clock, paths, &link};
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
