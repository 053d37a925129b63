// Tarn20 on the virtual Writer: a full write of the user area and its
// verify, the engineering read of the whole chip, and the write through the
// window, each against the same transfers with no operation logic around them.
#include <QLineEdit>
#include <cstdio>
#include <fstream>

#include "bench/BenchSupport.h"
#include "bench/WindowRig.h"
#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/OperationLog.h"
#include "core/YieldHook.h"
#include "gui/QtServices.h"
#include "link/Link.h"
#include "sim/TarnChip.h"
#include "sim/VirtualWriter.h"
#include "tarn/TarnCommands.h"
#include "tarn/TarnOperations.h"
#include "tarn/TarnPage.h"

using namespace sonoprog;

namespace {

constexpr std::uint32_t kPages = tarn::kUserPages;  // 124,032
constexpr std::uint64_t kImageSize = std::uint64_t{kPages} * tarn::kPageSize;
constexpr std::uint32_t kInfoPages = 17;

std::filesystem::path image() {
    return bench::cachedPatternFile("tarn-124032-pages.bin", kImageSize);
}

// A blank Tarn20 in the socket of a virtual Writer that keeps no log.
struct TarnBench : bench::OperationRig {
    std::shared_ptr<sim::TarnChip> chip = std::make_shared<sim::TarnChip>();
    // Built whole rather than assigned field by field, which trips a false
    // -Wrestrict of GCC 12 on std::string assignment.
    tarn::TarnFields fields{image().string(),       std::to_string(kImageSize), "", "0",
                            std::to_string(kPages), std::to_string(kInfoPages), "3"};

    TarnBench() : OperationRig("tarn") { writer.addChip(chip); }

    tarn::TarnOperations operations(core::YieldHook& y) {
        return tarn::TarnOperations(
            fields, core::OperationServices{log, lock, y, prompter, clock, paths, &link});
    }
};

void check(bool ok, const TarnBench& b, const char* what) {
    if (ok && b.prompter.boxes == 0 && !b.pane.hasFail()) return;
    std::string lines;
    for (const auto& l : b.pane.lines) lines += "\n  " + l;
    bench::fatal(std::string(what) + " failed:" + lines);
}

void removeFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove(path, ec);
}

bench::Timed writeVerify() {
    TarnBench b;
    auto ops = b.operations(b.yield);
    const bench::Stopwatch watch;
    bool ok = ops.write();
    const auto pgm = ops.lastFile();
    ok = ok && ops.verify();
    const bench::Timed elapsed = watch.stop();
    check(ok, b, "Tarn20 write and verify");
    removeFile(pgm);
    removeFile(ops.lastFile());
    return b.link.timed(elapsed);
}

// The operation's transfers, one for one, with nothing around them.
class BareTarn {
public:
    explicit BareTarn(core::WriterLink& link) : link_(link) {
        std::ifstream in(image(), std::ios::binary);
        in.read(reinterpret_cast<char*>(source_.data()),
                static_cast<std::streamsize>(source_.size()));
        tail_.fill(0xFF);
    }

    bool command(tarn::Code code, std::uint32_t page = 0) {
        command_ = {};
        command_[0] = static_cast<std::uint8_t>(code);
        core::put24(command_, 2, page);
        return link_.Exchange(command_, reply_);
    }
    bool detect() {
        command_ = {};
        command_[0] = static_cast<std::uint8_t>(tarn::Code::Detect);
        command_[2] = tarn::kDetectParam1;
        command_[3] = tarn::kDetectParam2;
        return link_.Exchange(command_, reply_);
    }
    bool readPage(std::uint32_t page) {
        return command(tarn::Code::ReadBegin, page) &&
               link_.BulkRead(readBack_.data(), tarn::kReadLeadSize) &&
               link_.BulkRead(readBack_.data(), tarn::kPageSize) &&
               command(tarn::Code::ReadFinish, page);
    }
    bool programPage(std::uint32_t page) {
        const std::uint8_t* data = source_.data() + (page % kSourcePages) * tarn::kPageSize;
        return command(tarn::Code::ProgramBegin, page) && link_.BulkWrite(data, tarn::kPageSize) &&
               link_.BulkWrite(tail_.data(), tail_.size()) &&
               command(tarn::Code::ProgramFinish, page);
    }
    const std::uint8_t* readBack() const { return readBack_.data(); }

private:
    static constexpr std::size_t kSourcePages = 1024;
    core::WriterLink& link_;
    core::Packet command_{};
    core::Packet reply_{};
    std::vector<std::uint8_t> source_ = std::vector<std::uint8_t>(kSourcePages * tarn::kPageSize);
    std::array<std::uint8_t, tarn::kProgramTailSize> tail_{};
    std::array<std::uint8_t, tarn::kPageSize> readBack_{};
};

bench::Timed writeVerifyBare() {
    TarnBench b;
    BareTarn bare(b.link);
    const bench::Stopwatch watch;
    bool ok = bare.detect();
    for (std::uint32_t page = 0; ok && page < kPages; ++page) {
        ok = bare.programPage(page);
        if (page < kInfoPages) {
            for (int i = 0; i < 3 && ok; ++i) ok = bare.readPage(page);
        } else {
            ok = ok && bare.command(tarn::Code::PageSum, page) && bare.readPage(page);
        }
    }
    ok = ok && bare.command(tarn::Code::Release) && bare.detect();
    for (std::uint32_t page = 0; ok && page < kPages; ++page) ok = bare.readPage(page);
    ok = ok && bare.command(tarn::Code::Release);
    const bench::Timed elapsed = watch.stop();
    if (!ok) bench::fatal("Tarn20 bare write loop failed");
    return b.link.timed(elapsed);
}

bench::Timed readChip() {
    TarnBench b;
    auto ops = b.operations(b.yield);
    const bench::Stopwatch watch;
    const bool ok = ops.read();
    const bench::Timed elapsed = watch.stop();
    const auto file = ops.lastFile();
    check(ok && std::filesystem::file_size(file) == kImageSize, b, "Tarn20 read");
    removeFile(file);
    return b.link.timed(elapsed);
}

// The read's transfers plus writing as many bytes to a file through stdio.
bench::Timed readChipBare() {
    TarnBench b;
    BareTarn bare(b.link);
    const auto path = b.paths.tempDir / "bare-read.dat";
    const bench::Stopwatch watch;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    bool ok = out && bare.detect();
    for (std::uint32_t page = 0; ok && page < kPages; ++page)
        ok = bare.readPage(page) &&
             std::fwrite(bare.readBack(), 1, tarn::kPageSize, out) == tarn::kPageSize;
    ok = ok && bare.command(tarn::Code::Release);
    ok = out && std::fclose(out) == 0 && ok;
    const bench::Timed elapsed = watch.stop();
    if (!ok) bench::fatal("Tarn20 bare read loop failed");
    removeFile(path);
    return b.link.timed(elapsed);
}

// The write alone, core only: the baseline of the write through the window.
bench::Timed writeCore() {
    TarnBench b;
    auto ops = b.operations(b.yield);
    const bench::Stopwatch watch;
    const bool ok = ops.write();
    const bench::Timed elapsed = watch.stop();
    check(ok, b, "Tarn20 write");
    removeFile(ops.lastFile());
    return b.link.timed(elapsed);
}

// The Tarn20 page in a shown (offscreen) window, Write clicked: one message
// pass and one gauge update per page.
bench::Timed writeWindow() {
    TarnBench b;
    bench::WindowRig rig(b);
    auto* tab = rig.addPage(new tarn::TarnPage(rig.env), "Tarn20 Writer");
    tab->ED_Tarn_LoadFile->setText(QString::fromStdString(b.fields.LoadFile));
    tab->ED_Tarn_FileSize->setText(QString::fromStdString(b.fields.FileSize));
    tab->ED_Tarn_PageBeg->setText(QStringLiteral("0"));
    tab->ED_Tarn_PageCnt->setText(QString::number(kPages));
    tab->ED_Tarn_InfoPage->setText(QString::number(kInfoPages));
    const bench::Timed elapsed = rig.timeClick([tab] { tab->BT_Tarn_WriteClick(); });
    if (b.prompter.boxes || b.chip->pagesProgrammed() != kPages)
        bench::fatal("Tarn20 write through the window failed");
    for (const auto& entry : std::filesystem::directory_iterator(b.paths.tempDir))
        if (entry.path().filename().string().rfind("PGM_", 0) == 0) removeFile(entry.path());
    return b.link.timed(elapsed);
}

// Load File of the same image on the Tarn20 tab, core only and through the window.
bench::Timed loadCore() {
    TarnBench b;
    b.files.open = bench::loadImage().string();
    tarn::TarnFields fields;
    tarn::TarnOperations ops(fields, core::OperationServices{b.log, b.lock, b.yield, b.prompter,
                                                             b.clock, b.paths, &b.link});
    const bench::Stopwatch watch;
    const bool ok = ops.loadImage(*b.files.open);
    const bench::Timed elapsed = watch.stop();
    check(ok && fields.FileSize == std::to_string(bench::kLoadImageSize), b, "Tarn20 load");
    return elapsed;
}

bench::Timed loadWindow() {
    TarnBench b;
    b.files.open = bench::loadImage().string();
    bench::WindowRig rig(b);
    auto* tab = rig.addPage(new tarn::TarnPage(rig.env), "Tarn20 Writer");
    const bench::Timed elapsed = rig.timeClick([tab] { tab->BT_Tarn_LoadFileClick(); });
    if (tab->ED_Tarn_FileSize->text() != QString::number(bench::kLoadImageSize))
        bench::fatal("Tarn20 load through the window failed");
    return elapsed;
}

}  // namespace

SONOPROG_SCENARIO("load/tarn-core", loadCore, 5);
SONOPROG_SCENARIO("load/tarn-window", loadWindow, 5);
SONOPROG_SCENARIO("tarn/write-verify", writeVerify);
SONOPROG_SCENARIO("tarn/bare-loop", writeVerifyBare);
SONOPROG_SCENARIO("tarn/read", readChip);
SONOPROG_SCENARIO("tarn/read-bare", readChipBare);
SONOPROG_SCENARIO("tarn/write-core", writeCore);
SONOPROG_SCENARIO("tarn/write-window", writeWindow);
