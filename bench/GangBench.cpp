// Gang runs: the built sonoprog-cli running one job on several virtual
// Writers at once, each with a modelled link time of 1 ms per transfer, so
// that the Writers' waiting (not the program) sets the pace as on a real
// bench. Four Writers should take little longer for their 10 Kiva300 units
// each than one Writer for its 10; two Writers with a 1 MiB serial flash job
// likewise.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"

using namespace sonoprog;

namespace {

constexpr int kRoundTripUs = 1000;

// A serial flash device of 1 MiB for the job to name.
const char* const kSetup =
    "[System]\nVersion=Sonoprog V1.0.0\n[Device]\nD1=Tarn20\nD2=Kiva300\nD3=Series Flash\n"
    "[Series Flash List]\nNumber=1\nDevName1=W25Q80\n"
    "[W25Q80]\nSize=1048576\nMID=0xEF\nDID=0x13\n";

struct GangRig {
    std::filesystem::path dir;
    std::string setup;
    std::string job;
    std::string writers;  // the --writers list
};

void run(const std::vector<std::string>& args, const std::string& what) {
    std::vector<std::string> argv = {SONOPROG_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    if (bench::runProgram(argv).seconds < 0) bench::fatal(what + " failed");
}

// A fresh folder with the job and `writers` virtual Writers, each with
// `units` chips in its socket.
GangRig makeRig(const std::string& name, bool serialFlash, int writers, int units) {
    GangRig rig;
    rig.dir = bench::dataDir() / "gang" / name;
    std::filesystem::remove_all(rig.dir);
    std::filesystem::create_directories(rig.dir);
    rig.setup = (rig.dir / "Setup.ini").string();
    std::ofstream(rig.setup) << kSetup;
    rig.job = (rig.dir / "job.json").string();
    std::vector<std::string> jobArgs = {"--writer", "sim",    "--setup",
                                        rig.setup,  "--temp", (rig.dir / "Temp").string(),
                                        "job",      "new",    rig.job};
    if (serialFlash) {
        const auto image = bench::patternFile("gang-nor-1MiB.bin", 1u << 20);
        jobArgs.insert(jobArgs.end(), {"--target", "serialflash", "--device", "W25Q80", "--image",
                                       image.string()});
    } else {
        jobArgs.insert(jobArgs.end(), {"--target", "kiva300", "--image",
                                       std::string(SONOPROG_SAMPLES_DIR) + "/kiva300-demo.dat"});
    }
    run(jobArgs, "job new");
    for (int i = 1; i <= writers; ++i) {
        const auto folder = rig.dir / ("writer" + std::to_string(i));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "writer.ini")
            << "[Writer]\nRoundTripUs=" << kRoundTripUs << "\n[Socket]\nUnits=" << units << "\n";
        rig.writers += (i > 1 ? ",sim:" : "sim:") + folder.string();
    }
    return rig;
}

bench::Timed gang(const std::string& name, bool serialFlash, int writers, int units) {
    const GangRig rig = makeRig(name, serialFlash, writers, units);
    std::vector<std::string> argv = {SONOPROG_CLI_PATH,
                                     "--setup",
                                     rig.setup,
                                     "--temp",
                                     (rig.dir / "Temp").string(),
                                     "--records",
                                     (rig.dir / "records.sqlite").string(),
                                     "produce",
                                     rig.job,
                                     "--units",
                                     std::to_string(units),
                                     "--writers",
                                     rig.writers};
    const bench::Timed t = bench::runProgram(argv);
    if (t.seconds < 0) bench::fatal(name + ": the gang run failed");
    return t;
}

bench::Timed kivaOne() {
    return gang("kiva-1x10", false, 1, 10);
}
bench::Timed kivaFour() {
    return gang("kiva-4x10", false, 4, 10);
}
bench::Timed norOne() {
    return gang("nor-1x1", true, 1, 1);
}
bench::Timed norTwo() {
    return gang("nor-2x1", true, 2, 1);
}

}  // namespace

SONOPROG_SCENARIO("gang/kiva-1x10", kivaOne);
SONOPROG_SCENARIO("gang/kiva-4x10", kivaFour);
SONOPROG_SCENARIO("gang/nor-1MiB-1", norOne);
SONOPROG_SCENARIO("gang/nor-1MiB-2", norTwo);
