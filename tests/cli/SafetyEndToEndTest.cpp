#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sim/FolderLock.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/SpecialFiles.h"

using namespace sonoprog::test;
namespace fs = std::filesystem;

namespace {

class SafetyCli : public CliTest {
protected:
    std::string image(const std::string& name, std::size_t pages, std::uint8_t seed = 0) {
        return dir.write(name, patternImage(pages, seed)).string();
    }
    std::vector<std::uint8_t> chipStart(std::size_t bytes) {
        auto chip = readFile(dir.writerDir() / "tarn20.bin");
        chip.resize(std::min(chip.size(), bytes));
        return chip;
    }
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> lines(const std::string& text) {
    CliRun r;
    r.out = text;
    return r.outLines();
}

}  // namespace

// ------------------------------------------------ one process per Writer folder

TEST_F(SafetyCli, AWriterFolderInUseIsLeftAloneWithTheHoldersPid) {
    const auto first = image("a.bin", 40, 1);
    ASSERT_EQ(run({"tarn", "write", first}).status, 0);
    const auto before = chipStart(40 * 1024);

    sonoprog::sim::FolderLock held(dir.writerDir());
    ASSERT_TRUE(held.acquire());
    auto refused = run({"tarn", "write", image("b.bin", 40, 2)});
    EXPECT_EQ(refused.status, 3);
    EXPECT_TRUE(contains(refused.err, "sonoprog-cli: the virtual Writer in " +
                                          dir.writerDir().string() +
                                          " is in use by another process (PID " +
                                          std::to_string(::getpid()) + ")\n"))
        << refused.err;
    EXPECT_FALSE(contains(refused.out, "[ WRITE ]")) << refused.out;
    EXPECT_EQ(chipStart(40 * 1024), before);

    held.release();
    auto after = run({"tarn", "write", image("b.bin", 40, 2)});
    EXPECT_TRUE(contains(after.out, "[ WRITE ]")) << after.out;
}

TEST_F(SafetyCli, ASecondWriteWhileTheFirstRunsIsRefused) {
    // A long first write, and a short second one that reaches the Writer
    // while the first still writes. The link time keeps the first one busy
    // for seconds however loaded the machine is (its transfers wait, they do
    // not need the CPU), so the second one always finds the Writer taken.
    writerIni("[Writer]\nRoundTripUs=250\n");
    constexpr std::size_t kPages = 2000;
    const auto a = image("a.bin", kPages, 1);
    const auto b = image("b.bin", 20, 2);
    const fs::path tempA = dir.path() / "TempA";
    const fs::path tempB = dir.path() / "TempB";
    auto args = [&](const std::string& img, const fs::path& temp) {
        return std::vector<std::string>{"--writer", dir.sim(), "--temp", temp.string(),
                                        "tarn",     "write",   img};
    };
    CliProcess first = startCli(args(a, tempA));
    // The first run has made its PGM log once it is past loading: it has the
    // Writer open and is about to write thousands of pages.
    auto pgmMade = [&] {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(tempA, ec))
            if (e.path().filename().string().rfind("PGM_", 0) == 0) return true;
        return false;
    };
    for (int i = 0; i < 6000 && !pgmMade(); ++i) ::usleep(10000);
    ASSERT_TRUE(pgmMade());
    CliProcess second = startCli(args(b, tempB));
    const pid_t firstPid = first.pid();
    const CliRun rb = second.wait();
    const CliRun ra = first.wait();

    EXPECT_EQ(ra.status, 0) << ra.err;
    EXPECT_EQ(rb.status, 3);
    EXPECT_TRUE(
        contains(rb.err, "is in use by another process (PID " + std::to_string(firstPid) + ")"))
        << rb.err;
    EXPECT_FALSE(contains(rb.out, "[ WRITE ]")) << rb.out;
    EXPECT_TRUE(chipStart(kPages * 1024) == patternImage(kPages, 1))
        << "the chip holds pages the second run wrote";
}

// Two writes started at the same instant on a new folder: the one that
// claims the folder first makes its chip file and writes; the other is
// refused before it reads, removes or makes anything there. Before the claim
// came first, both made the chip file side by side and both passed, the
// second over the first.
TEST_F(SafetyCli, TwoWritesStartedTogetherOneIsRefusedAndNothingIsLost) {
    const auto a = image("a.bin", 40, 1);
    const auto b = image("b.bin", 40, 2);
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(dir.writerDir());
        auto args = [&](const std::string& img, const char* temp) {
            return std::vector<std::string>{
                "--writer", dir.sim(), "--temp", (dir.path() / temp).string(),
                "tarn",     "write",   img};
        };
        CliProcess first = startCli(args(a, "TempA"));
        CliProcess second = startCli(args(b, "TempB"));
        const CliRun ra = first.wait();
        const CliRun rb = second.wait();
        ASSERT_EQ((ra.status == 0) + (rb.status == 0), 1) << "round " << round << "\n"
                                                          << ra.err << rb.err;
        const CliRun& won = ra.status == 0 ? ra : rb;
        const CliRun& refused = ra.status == 0 ? rb : ra;
        EXPECT_EQ(refused.status, 3) << "no Writer to be had";
        EXPECT_TRUE(contains(refused.err, "is in use by another process")) << refused.err;
        EXPECT_FALSE(contains(refused.out, "[ WRITE ]")) << refused.out;
        EXPECT_TRUE(contains(won.out, "    [O] Passed!")) << won.out;
        EXPECT_EQ(chipStart(40 * 1024), patternImage(40, ra.status == 0 ? 1 : 2))
            << "round " << round;
        // No half-made chip file of either run is left beside the chip.
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.writerDir()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"tarn20.bin", "writer.lock"}));
    }
}

// ---------------------------------------------------------- the Writer folder

TEST_F(SafetyCli, AMistypedWriterFolderIsAUsageErrorAndNewChipsAreTold) {
    const auto mistyped = dir.path() / "no" / "such" / "w";
    auto bad =
        runCli({"--writer", "sim:" + mistyped.string(), "--temp", dir.temp(), "tarn", "read"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(contains(bad.err, (dir.path() / "no" / "such").string())) << bad.err;
    EXPECT_FALSE(fs::exists(dir.path() / "no"));

    auto fresh = run({"tarn", "verify", image("a.bin", 20)});
    EXPECT_EQ(fresh.status, 1);
    EXPECT_TRUE(contains(fresh.err, "sonoprog-cli: new blank Tarn20 chip: " +
                                        (dir.writerDir() / "tarn20.bin").string() + "\n"))
        << fresh.err;
    auto again = run({"tarn", "verify", image("a.bin", 20)});
    EXPECT_FALSE(contains(again.err, "new blank")) << again.err;
}

TEST(SafetyCliUsb, NoWriterOnUsbEndsWithOneHint) {
    auto run = runCli({"--writer", "usb", "kiva", "blank"});
    EXPECT_EQ(run.status, 3);
    const auto err = lines(run.err);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back().rfind("sonoprog-cli: no Writer found on USB 04d8:0052", 0), 0u) << run.err;
    EXPECT_TRUE(contains(err.back(), "--writer sim"));
    EXPECT_FALSE(contains(run.out, "no Writer found"));
    int hints = 0;
    for (const auto& l : err) hints += contains(l, "no Writer found");
    EXPECT_EQ(hints, 1);
}

// ------------------------------------------------------------ special files

TEST_F(SafetyCli, PipesAndDevicesAsInputFailAtOnce) {
    HangGuard guard(120);
    const std::string pipe = (dir.path() / "pipe").string();
    makeFifo(pipe);
    const std::string zero = (dir.path() / "zero.log").string();
    fs::create_symlink("/dev/zero", zero);
    const std::string out = (dir.path() / "out.bin").string();

    auto tarn = run({"tarn", "load", pipe});
    EXPECT_EQ(tarn.status, 4);
    EXPECT_TRUE(contains(tarn.out, "Can't open this file!")) << tarn.out;
    EXPECT_EQ(run({"nor", "load", pipe}).status, 4);
    EXPECT_EQ(run({"kiva", "load", pipe}).status, 4);
    EXPECT_EQ(run({"ivr", "decode", pipe, out}).status, 4);
    EXPECT_EQ(run({"ivr", "encode", pipe, out, "--data-offset", "32", "--start", "0", "--end", "0"})
                  .status,
              4);
    for (const std::string& project : {pipe, zero}) {
        auto build = run({"editor", "build", project, out});
        EXPECT_EQ(build.status, 1);
        EXPECT_TRUE(contains(build.err, "ERROR: Failed to open file: " + project)) << build.err;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(isFifo(pipe));
    // The job's image and an imported sound: refused at once, named with what they are.
    const std::string folder = dir.path().string();
    const std::string job = (dir.path() / "job.json").string();
    const struct {
        std::string input, why;
    } inputs[] = {{pipe, pipe + " is a named pipe, not a regular file"},
                  {"/dev/zero", "/dev/zero is a character device, not a regular file"},
                  {folder, folder + " is a folder, not a regular file"}};
    const std::string project = (dir.path() / "voice.log").string();
    ASSERT_EQ(run({"editor", "new", project}).status, 0);
    for (const auto& in : inputs) {
        auto made = run({"job", "new", job, "--target", "tarn20", "--image", in.input});
        EXPECT_NE(made.status, 0);
        EXPECT_TRUE(contains(made.err, in.why)) << made.err;
        auto imported = run({"editor", "import", project, in.input, "--out", folder});
        EXPECT_EQ(imported.status, 1);
        EXPECT_TRUE(contains(imported.err, in.why)) << imported.err;
    }
    EXPECT_FALSE(fs::exists(job));
    EXPECT_TRUE(isFifo(pipe));
}

TEST_F(SafetyCli, OutputsNeverReplaceSpecialFiles) {
    HangGuard guard(120);
    const std::string pipe = (dir.path() / "pipe.bin").string();
    makeFifo(pipe);
    const std::string null = (dir.path() / "null.bin").string();
    fs::create_symlink("/dev/null", null);
    const std::string dat = sample("kiva300-demo.dat");
    const std::string img = sample("kiva300-demo.bin");
    for (const std::string& target : {pipe, null}) {
        auto build = run({"--yes", "editor", "build", sample("demo.log"), target});
        EXPECT_EQ(build.status, 1) << target;
        EXPECT_TRUE(contains(build.err, "ERROR: Failed to create file: " + target)) << build.err;
        EXPECT_EQ(run({"--yes", "ivr", "decode", dat, target}).status, 4) << target;
        EXPECT_EQ(run({"--yes", "ivr", "encode", img, target, "--data-offset", "32", "--start", "0",
                       "--end", "0"})
                      .status,
                  4)
            << target;
    }
    EXPECT_TRUE(devNullIntact());
    EXPECT_TRUE(isFifo(pipe));
    EXPECT_TRUE(fs::is_symlink(null));
}

// ---------------------------------------------------------- replacing outputs

TEST_F(SafetyCli, IvrOutputsAreReplacedOnlyWithYes) {
    const std::string dat = sample("kiva300-demo.dat");
    const std::string img = sample("kiva300-demo.bin");
    const std::string out = dir.write("out.bin", std::string("keep me")).string();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"ivr", "decode", dat, out},
          std::vector<std::string>{"ivr", "encode", img, out, "--data-offset", "32", "--start", "0",
                                   "--end", "0"}}) {
        auto refused = run(args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "WARNING: File: " + out +
                                   " already exist, Do you want to replace it? -> No (--yes "
                                   "answers Yes)\n");
        EXPECT_EQ(readText(out), "keep me");
    }
    std::vector<std::string> decode = {"--yes", "ivr", "decode", dat, out};
    auto replaced = run(decode);
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(readFile(out).size(), 4096u);
    // No temporary file is left beside it.
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 1);
}

// ------------------------------------------------------------------- output

TEST_F(SafetyCli, AFullStandardOutputFailsTheRun) {
    const auto img = image("a.bin", 20);
    CliProcess load = startCli({"--temp", dir.temp(), "tarn", "load", img}, {"/dev/full"});
    auto full = load.wait();
    EXPECT_EQ(full.status, 1);
    EXPECT_TRUE(contains(full.err, "sonoprog-cli: cannot write to standard output")) << full.err;
    CliProcess version = startCli({"--version"}, {"/dev/full"});
    EXPECT_EQ(version.wait().status, 1);
    EXPECT_EQ(run({"tarn", "load", img}).status, 0);
}

TEST_F(SafetyCli, ControlCharactersInNamesCannotForgeLines) {
    const std::string forged = image("a\n    [O] Passed!\x1b[0m.bin", 20);
    auto load = run({"tarn", "load", forged});
    for (const auto& line : load.outLines()) {
        EXPECT_NE(line, "    [O] Passed!");
        EXPECT_EQ(line.find('\x1b'), std::string::npos);
    }
    EXPECT_TRUE(contains(load.out, "a\\n    [O] Passed!\\x1B[0m.bin")) << load.out;

    // A gang's workers report as objects; the gang writes their messages as text.
    const auto job = (dir.path() / "forged.json").string();
    ASSERT_EQ(run({"job", "new", job, "--target", "tarn", "--image", forged}).status, 0);
    std::filesystem::remove(forged);
    const auto gang = runCli({"--temp", dir.temp(), "--records", (dir.path() / "r.sqlite").string(),
                              "produce", job, "--units", "1", "--writers", dir.sim()});
    EXPECT_EQ(gang.status, 1);
    EXPECT_TRUE(contains(gang.err, "a\\n    [O] Passed!\\x1B[0m.bin")) << gang.err;
    std::istringstream errLines(gang.err);
    for (std::string line; std::getline(errLines, line);) {
        EXPECT_NE(line.rfind("    [O] Passed!", 0), 0u) << gang.err;
        EXPECT_EQ(line.find('\x1b'), std::string::npos);
    }
}

TEST(SafetyCliArguments, NumbersBeyondTheirFieldAreUsageErrors) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"tarn", "load", "a.bin", "--info-page", "0xFFFFFFFF"},
          std::vector<std::string>{"tarn", "write", "a.bin", "--start", "2147483648"},
          std::vector<std::string>{"tarn", "verify", "a.bin", "--allow-error", "0x80000000"},
          std::vector<std::string>{"ivr", "decode", "a", "b", "--length", "16777217"}}) {
        const std::string& option = args[args.size() - 2];
        const std::string& value = args.back();
        auto run = runCli(args);
        EXPECT_EQ(run.status, 2) << option;
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(contains(run.err, "'" + option + " " + value + "'")) << run.err;
    }
}

// --------------------------------------------------------------------- JSON

TEST_F(SafetyCli, EveryJsonLineIsAnObjectWithAKindAndNumbersAreNumbers) {
    const std::string out = (dir.path() / "demo.bin").string();
    auto build = run({"--json", "editor", "build", sample("demo.log"), out});
    ASSERT_EQ(build.status, 0) << build.err;
    // The build's progress objects come first, the summary after them.
    nlohmann::json summary;
    for (const auto& line : build.outLines()) {
        auto object = nlohmann::json::parse(line);
        if (object["kind"] == "progress") {
            EXPECT_EQ(object["unit"], "sections");
            EXPECT_TRUE(object["done"].is_number_integer());
            EXPECT_TRUE(object["elapsed_s"].is_number());
            continue;
        }
        summary = object;
        break;
    }
    EXPECT_EQ(summary["kind"], "summary");
    EXPECT_TRUE(summary["memoryUsage"].is_number_integer());
    EXPECT_EQ(summary["memoryUsage"], 31744);
    EXPECT_EQ(summary["highestRate"], 16000);
    EXPECT_EQ(summary["lastSection"], 4);

    // Boxes and questions on standard error are objects as well.
    auto again = run({"--json", "editor", "build", sample("demo.log"), out});
    EXPECT_EQ(again.status, 1);
    auto question = nlohmann::json::parse(lines(again.err).at(0));
    EXPECT_EQ(question["kind"], "question");
    EXPECT_EQ(question["caption"], "WARNING");
    EXPECT_EQ(question["answer"], "No");

    auto missing = run({"--json", "editor", "build", (dir.path() / "none.log").string(), out});
    auto box = nlohmann::json::parse(lines(missing.err).at(0));
    EXPECT_EQ(box, (nlohmann::json{
                       {"kind", "box"},
                       {"caption", "ERROR"},
                       {"text", "Failed to open file: " + (dir.path() / "none.log").string()}}));

    auto kiva = run({"--json", "kiva", "write", sample("kiva300-demo.dat")});
    EXPECT_EQ(kiva.status, 0) << kiva.err;
    auto blank = run({"--json", "kiva", "blank"});
    EXPECT_EQ(blank.status, 1);
    for (const std::string& text : {kiva.out, kiva.err, blank.out, blank.err}) {
        for (const auto& line : lines(text)) {
            auto object = nlohmann::json::parse(line);
            ASSERT_TRUE(object.is_object()) << line;
            EXPECT_TRUE(object["kind"].is_string()) << line;
        }
    }
}

TEST_F(SafetyCli, SerialFlashDevicesAreJsonObjectsWithAKind) {
    setup = dir.write("Setup.ini", std::string("[Series Flash List]\nNumber=1\nDevName1=W25Q80\n"
                                               "[W25Q80]\nSize=1048576\nMID=0xEF\nDID=0x13\n"))
                .string();
    auto devices = run({"--json", "nor", "devices"});
    ASSERT_EQ(devices.status, 0) << devices.err;
    const auto all = devices.outLines();
    ASSERT_FALSE(all.empty());
    for (std::size_t i = 0; i + 1 < all.size(); ++i) {
        auto d = nlohmann::json::parse(all[i]);
        EXPECT_EQ(d["kind"], "device");
        EXPECT_TRUE(d["size"].is_number());
    }
    EXPECT_EQ(nlohmann::json::parse(all.back())["kind"], "result");
}

// ------------------------------------------------ Ctrl+C

TEST_F(SafetyCli, CtrlCEndsAWriteAtAPageReleasesTheChipAndExits130) {
    // A write long enough to be caught in the middle, however loaded the machine.
    writerIni("[Writer]\nRoundTripUs=250\n");
    const auto img = image("long.bin", 2000, 3);
    const fs::path temp = dir.path() / "TempStop";
    CliProcess write =
        startCli({"--json", "--writer", dir.sim(), "--temp", temp.string(), "tarn", "write", img});
    auto pgm = [&]() -> fs::path {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(temp, ec))
            if (e.path().filename().string().rfind("PGM_", 0) == 0) return e.path();
        return {};
    };
    for (int i = 0; i < 6000 && pgm().empty(); ++i) ::usleep(10000);
    ASSERT_FALSE(pgm().empty());
    ::usleep(300000);  // a few hundred pages in
    ASSERT_EQ(::kill(write.pid(), SIGINT), 0);
    const CliRun r = write.wait();

    EXPECT_EQ(r.status, 130) << r.err;
    const auto out = lines(r.out);
    std::size_t stopped = out.size(), release = out.size();
    bool progressWithFigures = false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (contains(out[i], "Stopped by the operator.")) stopped = i;
        if (contains(out[i], "Disable chip...")) release = i;
        EXPECT_FALSE(contains(out[i], "Passed!")) << out[i];
        if (contains(out[i], "\"kind\":\"progress\"") && contains(out[i], "\"done\":") &&
            contains(out[i], "\"total\":2000") && contains(out[i], "\"elapsed_s\":") &&
            contains(out[i], "\"eta_s\":"))
            progressWithFigures = true;
    }
    ASSERT_LT(stopped, out.size()) << r.out;
    EXPECT_EQ(release, stopped + 1);
    EXPECT_TRUE(progressWithFigures) << r.out;
    // The log says where the write stopped, and that page was never begun.
    const std::string log = readText(pgm());
    ASSERT_TRUE(contains(log, "[!] Stopped by the operator before page: 0x")) << log;
    const std::uint32_t page = std::stoul(log.substr(log.find("0x") + 2, 6), nullptr, 16);
    EXPECT_GT(page, 0u);
    EXPECT_LT(page, 2000u);
    const auto chip = readFile(dir.writerDir() / "tarn20.bin");
    const auto want = patternImage(2000, 3);
    ASSERT_GE(chip.size(), std::size_t{page + 1} * 1024);
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + std::ptrdiff_t{page} * 1024, chip.begin()));
    EXPECT_EQ(std::vector<std::uint8_t>(chip.begin() + std::ptrdiff_t{page} * 1024,
                                        chip.begin() + std::ptrdiff_t{page + 1} * 1024),
              std::vector<std::uint8_t>(1024, 0xFF));
}
