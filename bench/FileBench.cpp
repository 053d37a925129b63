// Loading an image: the check sum of a file in the page cache, from the core
// and through the window, against cat reading the same file.
#include <QLineEdit>

#include "bench/BenchSupport.h"
#include "bench/WindowRig.h"
#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/FileHandle.h"
#include "core/ImageSum.h"
#include "core/OperationLog.h"
#include "core/YieldHook.h"
#include "gui/QtServices.h"
#include "link/Link.h"
#include "serialflash/SerialFlashOperations.h"
#include "serialflash/SerialFlashPage.h"
#include "sim/VirtualWriter.h"

using namespace sonoprog;

namespace {

constexpr std::uint64_t kImageSize = bench::kLoadImageSize;
// A load lasts some 10 ms: five make one sample.
constexpr int kLoadRepeat = 5;

std::filesystem::path image() {
    return bench::loadImage();
}

bench::Timed catImage() {
    const auto path = image();
    const bench::Timed elapsed = bench::runProgram({"cat", path.string()});
    if (elapsed.seconds < 0) bench::fatal("cat failed");
    return elapsed;
}

bench::Timed sumCore() {
    const auto path = image();
    core::NoYield yield;
    const bench::Stopwatch watch;
    core::FilePtr f = core::openForReading(path);
    const auto sum = core::sumImageStream(f.get(), yield);
    f.reset();
    const bench::Timed elapsed = watch.stop();
    if (!sum.ok || sum.bytes != kImageSize) bench::fatal("image sum failed");
    return elapsed;
}

// Load File reaches no chip; the rig only gives it somewhere to report.
struct LoadServices : bench::OperationRig {
    LoadServices() : OperationRig("load") {}
};

bench::Timed loadCore() {
    LoadServices s;
    s.files.open = image().string();
    serialflash::SerialFlashFields fields;
    serialflash::SerialFlashOperations ops(
        fields,
        core::OperationServices{s.log, s.lock, s.yield, s.prompter, s.clock, s.paths, &s.link});
    const bench::Stopwatch watch;
    const bool ok = ops.loadImage(*s.files.open);
    const bench::Timed elapsed = watch.stop();
    if (!ok || fields.fileSize != std::to_string(kImageSize)) bench::fatal("core load failed");
    return elapsed;
}

// The Series Flash page in a shown (offscreen) window, Load File clicked.
bench::Timed loadWindow() {
    LoadServices s;
    s.files.open = image().string();
    bench::WindowRig rig(s);
    auto* tab = rig.addPage(new serialflash::SerialFlashPage(rig.env), "Series Flash Writer");
    const bench::Timed elapsed = rig.timeClick([tab] { tab->BT_NOR_LoadFileClick(); });
    auto* size = tab->findChild<QLineEdit*>(QStringLiteral("ED_NOR_FileSize"));
    if (!size || size->text() != QString::number(kImageSize)) bench::fatal("window load failed");
    return elapsed;
}

}  // namespace

SONOPROG_SCENARIO("load/cat", catImage, kLoadRepeat);
SONOPROG_SCENARIO("load/sum-core", sumCore, kLoadRepeat);
SONOPROG_SCENARIO("load/nor-core", loadCore, kLoadRepeat);
SONOPROG_SCENARIO("load/nor-window", loadWindow, kLoadRepeat);
