// Loading an image: the check sum of a file in the page cache, from the core
// and through the window, against cat reading the same file.
#include <QLineEdit>

#include "AppPaths.h"
#include "BenchSupport.h"
#include "Clock.h"
#include "FileHandle.h"
#include "ImageSum.h"
#include "Link.h"
#include "NorTab.h"
#include "OperationLog.h"
#include "QtServices.h"
#include "SerialFlashOperations.h"
#include "VirtualWriter.h"
#include "WindowRig.h"

using namespace sonoprog;
using bench::secondsSince;

namespace {

constexpr std::uint64_t kImageSize = bench::kLoadImageSize;

const std::filesystem::path& image() { return bench::loadImage(); }

bench::Timed catImage() {
    const auto path = image();
    double seconds = bench::runProgram({"cat", path.string()});
    if (seconds < 0) bench::fatal("cat failed");
    return {seconds};
}

bench::Timed sumCore() {
    const auto path = image();
    core::NoYield yield;
    const auto start = std::chrono::steady_clock::now();
    core::FilePtr f = core::openForReading(path);
    const auto sum = core::sumImageStream(f.get(), yield);
    f.reset();
    const double seconds = secondsSince(start);
    if (!sum.ok || sum.bytes != kImageSize) bench::fatal("image sum failed");
    return {seconds};
}

// What the operations need besides the fields; nothing here reaches a chip.
struct LoadServices {
    core::AppPaths paths = core::AppPaths::forFolder(bench::dataDir());
    bench::QuietPane pane;
    core::OperationLog log{pane};
    bench::NoLock lock;
    bench::CountingPrompter prompter;
    bench::FixedChooser files;
    sim::VirtualWriter writer;
    link::Link link{writer, prompter};
};

bench::Timed loadCore() {
    LoadServices s;
    s.files.open = image().string();
    core::NoYield yield;
    serialflash::NorFields fields;
    serialflash::SerialFlashOperations ops(fields, s.log, s.lock, yield, s.prompter, s.files,
                                           s.paths, s.link);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = ops.loadFile();
    const double seconds = secondsSince(start);
    if (!ok || fields.fileSize != std::to_string(kImageSize)) bench::fatal("core load failed");
    return {seconds};
}

// The Series Flash page in a shown (offscreen) window, Load File clicked.
bench::Timed loadWindow() {
    LoadServices s;
    s.files.open = image().string();
    core::SystemClock clock;
    bench::WindowRig rig(s.prompter, s.files, clock, s.link, s.paths);
    auto* tab = rig.addPage(new serialflash::NorTab(rig.env), "Series Flash Writer");
    rig.showAndSettle();
    const auto start = std::chrono::steady_clock::now();
    tab->BT_NOR_LoadFileClick();
    const double seconds = secondsSince(start);
    auto* size = tab->findChild<QLineEdit*>(QStringLiteral("ED_NOR_FileSize"));
    if (!size || size->text() != QString::number(kImageSize)) bench::fatal("window load failed");
    return {seconds};
}

}  // namespace

SONOPROG_SCENARIO("load/cat", catImage);
SONOPROG_SCENARIO("load/sum-core", sumCore);
SONOPROG_SCENARIO("load/nor-core", loadCore);
SONOPROG_SCENARIO("load/nor-window", loadWindow);
