#include "tests/production/ProductionRig.h"

#include <fstream>

#include "sim/KivaChip.h"
#include "sim/SerialFlashChip.h"
#include "sim/TarnChip.h"

namespace sonoprog::test {

ProductionRig::ProductionRig(std::optional<sim::SocketScript> socket) {
    paths = core::AppPaths::forFolder(dir.path());
    paths.tempDir = dir / "Temp";
    std::filesystem::create_directories(paths.tempDir);
    std::filesystem::copy_file(SONOPROG_SETUP_INI, dir / "Setup.ini");
    writer = sim::makeStandardWriter(chips);
    if (socket) {
        auto model = std::make_unique<sim::SocketModel>(*socket);
        model->setInsertHandler([this] {
            chips.tarn->memory().erase();
            chips.serialFlash->memory().erase();
            chips.kiva->memory().erase();
        });
        writer->setSocket(std::move(model));
    }
    writer->setLogging(false);
    link = std::make_unique<link::Link>(*writer, prompter);
    writer->open();
    std::string error;
    store = records::SqliteRecordStore::open(dir / "records.sqlite", error);
}

production::LoadedJob ProductionRig::makeJob(production::JobRequest request,
                                             const std::string& jobName) {
    production::JobError kind;
    std::string error;
    const auto jobFile = dir / jobName;
    auto job = production::buildJob(request, jobFile, paths.setupIni(), keys, kind, error);
    if (!job) throw std::runtime_error("job not made: " + error);
    std::ofstream(jobFile) << production::jobToJson(*job);
    auto loaded = production::loadJob(jobFile, error);
    if (!loaded) throw std::runtime_error("job not loaded: " + error);
    return *loaded;
}

std::filesystem::path ProductionRig::tarnImage(std::uint32_t pages, const std::string& name) {
    std::vector<std::uint8_t> bytes(pages * 1024u);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 1024);
    return dir.write(name, bytes);
}

std::filesystem::path ProductionRig::kivaImage() {
    const auto target = dir / "kiva300-demo.dat";
    std::filesystem::copy_file(std::filesystem::path(SONOPROG_SAMPLES_DIR) / "kiva300-demo.dat",
                               target, std::filesystem::copy_options::overwrite_existing);
    return target;
}

production::LoopResult ProductionRig::run(const production::LoadedJob& job,
                                          production::LoopOptions options,
                                          production::OperatorTrigger* trigger) {
    options.pollInterval = std::chrono::milliseconds(0);
    production::LoopServices services{
        {pane, lock, yield, prompter, clock, paths, *link, keys}, *link, *store};
    production::ProductionLoop loop(job, services, events, stop);
    return loop.run(options, trigger);
}

}  // namespace sonoprog::test
