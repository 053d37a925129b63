#include <csv.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "core/IniFile.h"
#include "production/EngineerPassword.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/SpecialFiles.h"

extern char** environ;

using namespace sonoprog::test;

namespace {

class ProductionCli : public CliTest {
protected:
    std::string records() const { return (dir.path() / "records.sqlite").string(); }
    // A command with the test's records file.
    CliRun runR(std::vector<std::string> args, const std::string& writer = "") {
        args.insert(args.begin(), {"--records", records()});
        return run(args, writer);
    }
    std::string kivaJob() {
        const auto dat = dir.path() / "chime.dat";
        std::filesystem::copy_file(sample("kiva300-demo.dat"), dat);
        const auto job = (dir.path() / "chime.json").string();
        const auto made = run(
            {"job", "new", job, "--target", "kiva300", "--image", dat.string(), "--name", "Chime"});
        EXPECT_EQ(made.status, 0) << made.err;
        return job;
    }
};

std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
    struct Sink {
        std::vector<std::vector<std::string>> rows;
        std::vector<std::string> row;
    } sink;
    csv_parser parser;
    csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI);
    auto field = [](void* data, size_t n, void* out) {
        static_cast<Sink*>(out)->row.emplace_back(static_cast<const char*>(data), n);
    };
    auto row = [](int, void* out) {
        auto* s = static_cast<Sink*>(out);
        s->rows.push_back(std::move(s->row));
        s->row.clear();
    };
    EXPECT_EQ(csv_parse(&parser, text.data(), text.size(), field, row, &sink), text.size());
    EXPECT_EQ(csv_fini(&parser, field, row, &sink), 0);
    csv_free(&parser);
    return sink.rows;
}

// sonoprog-cli running in the background, its output going to files.
struct Background {
    pid_t pid = -1;
    std::string outPath;
    std::string out() const { return readText(outPath); }
    int wait() {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

Background startCli(const std::vector<std::string>& args, const TempDir& capture) {
    Background b;
    b.outPath = (capture.path() / "bg.out").string();
    const std::string errPath = (capture.path() / "bg.err").string();
    std::vector<std::string> store = {SONOPROG_CLI_PATH};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, b.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn(&b.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return b;
}

// Waits (at most a minute) until the output holds `text` `times` times.
bool waitForOutput(const Background& b, const std::string& text, int times = 1) {
    for (int i = 0; i < 6000; ++i) {
        const std::string out = b.out();
        int found = 0;
        for (auto at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
            ++found;
        if (found >= times) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

TEST_F(ProductionCli, JobNewAndShow) {
    const auto job = kivaJob();
    const auto shown = run({"job", "show", job});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("Job:       Chime\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("Target:    kiva300\n"), std::string::npos);
    const auto json = run({"--json", "job", "show", job});
    ASSERT_EQ(json.status, 0);
    const auto body = json.bodyLines();
    ASSERT_EQ(body.size(), 1u);
    const auto j = nlohmann::json::parse(body[0]);
    EXPECT_EQ(j.at("kind"), "job");
    EXPECT_EQ(j.at("name"), "Chime");
    EXPECT_EQ(j.at("image").at("path"), "chime.dat");
    EXPECT_EQ(j.at("job_sha256").get<std::string>().size(), 64u);

    // Replacing asks; without --yes the answer is No and the job stays.
    const auto again = run({"job", "new", job, "--target", "kiva300", "--image",
                            (dir.path() / "chime.dat").string(), "--name", "Other"});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("Replace it?"), std::string::npos) << again.err;
    EXPECT_NE(run({"job", "show", job}).out.find("Chime"), std::string::npos);
    EXPECT_EQ(run({"--yes", "job", "new", job, "--target", "kiva300", "--image",
                   (dir.path() / "chime.dat").string(), "--name", "Other"})
                  .status,
              0);
    EXPECT_NE(run({"job", "show", job}).out.find("Job:       Other"), std::string::npos);

    // Usage errors: exit 2, nothing written.
    const auto other = (dir.path() / "x.json").string();
    EXPECT_EQ(run({"job", "new", other, "--target", "tarn21", "--image", job}).status, 2);
    EXPECT_EQ(run({"job", "new", other, "--target", "serialflash", "--image", job}).status, 2);
    EXPECT_EQ(
        run({"job", "new", other, "--target", "kiva300", "--image", job, "--start", "3"}).status,
        2);
    EXPECT_EQ(run({"job", "new", other, "--target", "kiva300", "--image", job, "--blank=1"}).status,
              2);
    EXPECT_FALSE(std::filesystem::exists(other));
}

TEST_F(ProductionCli, JobNewWritesNoPlantedNameNoSpecialFileAndNoBrokenText) {
    HangGuard guard(120);
    const auto dat = dir.path() / "chime.dat";
    std::filesystem::copy_file(sample("kiva300-demo.dat"), dat);
    auto jobNew = [&](const std::filesystem::path& job, const std::string& name = "Chime") {
        return run({"--yes", "job", "new", job.string(), "--target", "kiva300", "--image",
                    dat.string(), "--name", name});
    };
    auto entries = [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };

    // A link and a pipe planted where the temporary file once went.
    const auto victim = dir.write("victim.txt", std::string("keep me"));
    const auto linked = dir.path() / "linked.json";
    std::filesystem::create_symlink(victim, linked.string() + ".new");
    const auto piped = dir.path() / "piped.json";
    makeFifo(piped.string() + ".new");
    for (const auto& job : {linked, piped}) {
        const auto made = jobNew(job);
        EXPECT_EQ(made.status, 0) << made.err;
        EXPECT_EQ(run({"job", "show", job.string()}).status, 0) << job;
    }
    const auto kept = readFile(victim);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep me");
    EXPECT_TRUE(isFifo(piped.string() + ".new"));

    // A pipe or a device at the job's own path stays, --yes or not.
    const auto pipeJob = dir.path() / "pipe.json";
    makeFifo(pipeJob);
    const auto nullJob = dir.path() / "null.json";
    std::filesystem::create_symlink("/dev/null", nullJob);
    for (const auto& job : {pipeJob, nullJob}) {
        const auto refused = jobNew(job);
        EXPECT_EQ(refused.status, 1) << job;
        EXPECT_NE(refused.err.find("not a regular file"), std::string::npos) << refused.err;
    }
    EXPECT_TRUE(isFifo(pipeJob));
    EXPECT_TRUE(std::filesystem::is_symlink(nullJob));
    EXPECT_TRUE(devNullIntact());

    // Bytes that are not UTF-8 cannot go into a job file: a usage error, nothing left.
    const auto before = entries();
    EXPECT_EQ(jobNew(dir.path() / "bad.json", "Chime\xff").status, 2);
    EXPECT_EQ(run({"job", "new", (dir.path() / "bad\xfe.json").string(), "--target", "kiva300",
                   "--image", dat.string()})
                  .status,
              2);
    // An image whose path is not UTF-8 is named escaped, never as raw bytes.
    const auto oddImage = dir.path() / "chime\xff.dat";
    std::filesystem::copy_file(dat, oddImage);
    const auto withOddImage = run({"job", "new", (dir.path() / "odd.json").string(), "--target",
                                   "kiva300", "--image", oddImage.string()});
    EXPECT_EQ(withOddImage.status, 2);
    EXPECT_NE(withOddImage.err.find("chime\\xFF.dat: the image's path is not valid UTF-8"),
              std::string::npos)
        << withOddImage.err;
    std::filesystem::remove(oddImage);
    EXPECT_EQ(entries(), before);

    // A job in a folder whose name is not UTF-8 still shows as one JSON object.
    const auto odd = dir.path() / "line\xff";
    std::filesystem::create_directory(odd);
    ASSERT_EQ(jobNew(odd / "j.json").status, 0);
    const auto shown = run({"--json", "job", "show", (odd / "j.json").string()});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(nlohmann::json::parse(shown.outLines().at(0)).at("image").at("path"), "../chime.dat");
}

TEST_F(ProductionCli, ProduceOnAScriptedSocketThenExportTheRecords) {
    const auto job = kivaJob();
    writerIni("[Socket]\nUnits=6\nBad=3,5\n");
    const auto produced =
        runR({"produce", job, "--units", "6", "--trigger", "insert", "--operator", "Ana"});
    EXPECT_EQ(produced.status, 1) << produced.err;
    std::vector<std::string> summary;
    const std::regex unitLine(R"(UNIT \d+ (PASS|FAIL) \d+\.\ds.*)");
    for (const auto& line : produced.outLines())
        if (std::regex_match(line, unitLine) || line.rfind("TOTAL ", 0) == 0)
            summary.push_back(line.substr(0, 11) + (line.find(" FAIL ") != std::string::npos &&
                                                            line.rfind("UNIT", 0) == 0
                                                        ? line.substr(line.find("s ") + 1)
                                                        : ""));
    EXPECT_EQ(summary, (std::vector<std::string>{
                           "UNIT 1 PASS", "UNIT 2 PASS", "UNIT 3 FAIL VDD failed!", "UNIT 4 PASS",
                           "UNIT 5 FAIL VDD failed!", "UNIT 6 PASS", "TOTAL 6 PAS"}));
    EXPECT_EQ(produced.outLines().back(), "TOTAL 6 PASS 4 FAIL 2 YIELD 66.7%");
    // The operations' own lines come before each summary line.
    EXPECT_NE(produced.out.find("[ WRITE AND VERIFY ]\n"), std::string::npos);

    const auto csv = runR({"records", "--csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const auto rows = parseCsv(csv.out);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0][0], "id");
    EXPECT_EQ(rows[0].size(), 19u);
    EXPECT_EQ(rows[0].back(), "lot");
    EXPECT_EQ(rows[3][11], "fail");
    EXPECT_EQ(rows[3][12], "  -> Chip detect...");
    EXPECT_EQ(rows[1][3], "Ana");
    EXPECT_EQ(rows[1][10], "sim:" + std::filesystem::absolute(dir.writerDir()).string());

    const auto json = runR({"--json", "records", "--job", job});
    ASSERT_EQ(json.status, 0) << json.err;
    const auto lines = json.bodyLines();
    ASSERT_EQ(lines.size(), 6u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto r = nlohmann::json::parse(lines[i]);
        EXPECT_EQ(r.at("kind"), "record");
        EXPECT_EQ(r.at("id"), rows[i + 1][0]);
        EXPECT_EQ(r.at("result"), i == 2 || i == 4 ? "fail" : "pass");
        EXPECT_EQ(r.at("job_name"), "Chime");
    }
    // --since after everything: nothing; a bad time: a usage error.
    EXPECT_TRUE(runR({"--json", "records", "--since", "2999-01-01"}).bodyLines().empty());
    EXPECT_EQ(runR({"records", "--since", "soon"}).status, 2);

    const auto summaryRun = runR({"records", "summary", "--job", job});
    ASSERT_EQ(summaryRun.status, 0) << summaryRun.err;
    EXPECT_NE(summaryRun.out.find("TOTAL 6 PASS 4 FAIL 2 YIELD 66.7%\n"), std::string::npos)
        << summaryRun.out;
    EXPECT_NE(summaryRun.out.find("     2  VDD failed!\n"), std::string::npos) << summaryRun.out;
}

// A job name, an operator and an image path are shown escaped: none of them
// can end a line of job show, produce or records summary and forge another.
TEST_F(ProductionCli, NamesWithLineBreaksNeverForgeALine) {
    const std::string forged = "TOTAL 1000 PASS 1000 FAIL 0 YIELD 100.0%";
    const auto dat = dir.path() / "chime\nUNIT 7 PASS.dat";
    std::filesystem::copy_file(sample("kiva300-demo.dat"), dat);
    const auto job = (dir.path() / "evil.json").string();
    ASSERT_EQ(run({"job", "new", job, "--target", "kiva300", "--image", dat.string(), "--name",
                   "Evil\n" + forged})
                  .status,
              0);
    writerIni("[Socket]\nUnits=1\n");
    const CliRun runs[] = {
        run({"job", "show", job}),
        runR({"produce", job, "--units", "1", "--trigger", "insert", "--operator",
              "Ana\r\n" + forged}),
        runR({"records", "summary"}),
    };
    for (const auto& r : runs) {
        EXPECT_EQ(r.status, 0) << r.err;
        for (const auto& line : r.outLines()) {
            EXPECT_NE(line, forged);
            EXPECT_NE(line.rfind("UNIT 7", 0), 0u) << line;
        }
    }
    EXPECT_NE(runs[0].out.find("Job:       Evil\\n" + forged + "\n"), std::string::npos)
        << runs[0].out;
    EXPECT_NE(runs[2].out.find("JOB Evil\\n" + forged + " ("), std::string::npos) << runs[2].out;
    EXPECT_NE(runs[2].out.find("TOTAL 1 PASS 1 FAIL 0 YIELD 100.0%\n"), std::string::npos);
}

TEST_F(ProductionCli, ProduceJsonObjectsAndAChangedImage) {
    const auto job = kivaJob();
    writerIni("[Socket]\nUnits=2\n");
    const auto produced = runR({"--json", "produce", job, "--units", "2", "--trigger", "insert"});
    EXPECT_EQ(produced.status, 0) << produced.err;
    std::vector<nlohmann::json> units;
    for (const auto& line : produced.outLines()) {
        const auto j = nlohmann::json::parse(line);
        ASSERT_TRUE(j.contains("kind")) << line;
        if (j.at("kind") == "unit" || j.at("kind") == "total") units.push_back(j);
    }
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0].at("result"), "pass");
    EXPECT_TRUE(units[0].at("failure").is_null());
    EXPECT_EQ(units[0].at("record").get<std::string>().size(), 36u);
    EXPECT_EQ(units[2], nlohmann::json::parse(
                            R"({"kind":"total","units":2,"passed":2,"failed":0,"yield":100.0})"));

    // The image no longer the job's: stopped before any unit, exit 1.
    std::filesystem::resize_file(dir.path() / "chime.dat", 100);
    const auto stopped = runR({"produce", job, "--units", "1", "--trigger", "insert"});
    EXPECT_EQ(stopped.status, 1);
    EXPECT_NE(stopped.err.find("has changed since the job was made"), std::string::npos)
        << stopped.err;
    EXPECT_EQ(stopped.outLines().back(), "TOTAL 0 PASS 0 FAIL 0 YIELD 0.0%");
    EXPECT_EQ(runR({"produce", job, "--trigger", "sometimes"}).status, 2);
    EXPECT_EQ(runR({"produce", (dir.path() / "none.json").string()}).status, 2);
}

// SIGINT in the middle of a unit: the unit runs to its end (the Writer gets
// its closing command), its record and those before it are kept, then the run stops.
TEST_F(ProductionCli, InterruptFinishesTheRunningUnit) {
    const auto image = dir.write("big.bin", patternImage(3000));
    const auto job = (dir.path() / "big.json").string();
    ASSERT_EQ(run({"job", "new", job, "--target", "tarn20", "--image", image.string()}).status, 0);
    writerIni("[Socket]\nUnits=50\n");
    auto b = startCli({"--records", records(), "--writer", dir.sim(), "--temp", dir.temp(),
                       "produce", job, "--trigger", "insert"},
                      dir);
    ASSERT_TRUE(waitForOutput(b, "UNIT 1 PASS"));
    ASSERT_TRUE(waitForOutput(b, "[ WRITE ]", 2));
    ASSERT_EQ(kill(b.pid, SIGINT), 0);
    EXPECT_EQ(b.wait(), 0);
    const std::string out = b.out();
    EXPECT_NE(out.find("UNIT 2 PASS"), std::string::npos) << out;
    EXPECT_EQ(out.find("UNIT 3"), std::string::npos) << out;
    EXPECT_NE(out.find("TOTAL 2 PASS 2 FAIL 0 YIELD 100.0%\n"), std::string::npos);
    // Unit 2's verify ran to its closing lines after the signal.
    const auto verify2 = out.rfind("[ VERIFY ]");
    ASSERT_NE(verify2, std::string::npos);
    EXPECT_NE(out.find("  -> Done!", verify2), std::string::npos);
    const auto json = runR({"--json", "records"});
    EXPECT_EQ(json.bodyLines().size(), 2u);
}

// SIGKILL at any moment: the records file holds whole records only.
TEST_F(ProductionCli, KilledRunLeavesWholeRecords) {
    const auto job = kivaJob();
    writerIni("[Socket]\nUnits=1000\n");
    auto b = startCli({"--records", records(), "--writer", dir.sim(), "--temp", dir.temp(),
                       "produce", job, "--trigger", "insert"},
                      dir);
    ASSERT_TRUE(waitForOutput(b, "UNIT 3 "));
    ASSERT_EQ(kill(b.pid, SIGKILL), 0);
    b.wait();
    const auto json = runR({"--json", "records"});
    ASSERT_EQ(json.status, 0) << json.err;
    const auto lines = json.bodyLines();
    EXPECT_GE(lines.size(), 3u);
    for (const auto& line : lines) {
        const auto r = nlohmann::json::parse(line);
        EXPECT_EQ(r.at("result"), "pass");
        EXPECT_EQ(r.at("job_name"), "Chime");
        EXPECT_EQ(r.at("id").get<std::string>().size(), 36u);
    }
}

TEST_F(ProductionCli, PasswordLineChecksAgainstItsPassword) {
    const auto capture = dir.write("pw.txt", std::string("s3cret\n"));
    TempDir out;
    std::vector<std::string> store = {SONOPROG_CLI_PATH, "production", "password"};
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto outPath = (out.path() / "o").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, capture.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string line = readText(outPath);
    EXPECT_TRUE(std::regex_match(
        line, std::regex(R"(EngineerPassword=pbkdf2-sha256\$\d+\$[0-9a-f]{32}\$[0-9a-f]{64}\n)")))
        << line;
}

// A Writer stops after its failures in a row; its socket's insertions are
// counted in the records, warned about at its life, listed by `writers` and
// started again by an engineer's `production socket-reset`.
TEST_F(ProductionCli, FailuresInARowStopTheWriterAndItsSocketIsCountedUntilReset) {
    const auto job = kivaJob();
    const auto hash = sonoprog::production::makePasswordHash("s3cret", 1);
    ASSERT_TRUE(hash);
    std::string ini = readText((cliProgram().parent_path() / "Setup.ini").string());
    const auto at = ini.find("EngineerPassword=\n");
    ASSERT_NE(at, std::string::npos);
    ini.replace(at, 18, "EngineerPassword=" + *hash + "\n");
    // The stop and the life from the settings, as the window's runs take them.
    const auto stop = ini.find("StopAfterFails=3\n");
    ASSERT_NE(stop, std::string::npos);
    ini.replace(stop, 17, "StopAfterFails=2\n");
    setup = dir.write("Setup.ini", ini + "[Socket]\nLife=3\n").string();
    writerIni("[Socket]\nUnits=6\nBad=2,3\n");

    const auto produced = runR({"produce", job, "--units", "6", "--trigger", "insert"});
    EXPECT_EQ(produced.status, 1) << produced.err;
    EXPECT_EQ(produced.outLines().back(), "TOTAL 3 PASS 1 FAIL 2 YIELD 33.3%");
    EXPECT_NE(produced.err.find("2 failures in a row: check the socket and the image"),
              std::string::npos)
        << produced.err;
    const std::string writer = "sim:" + std::filesystem::absolute(dir.writerDir()).string();
    EXPECT_NE(produced.err.find("The socket of " + writer +
                                " has had 3 insertions, its life is 3; replace it."),
              std::string::npos)
        << produced.err;

    const auto socketLine = [&] {
        for (const auto& line : runR({"--json", "writers"}).bodyLines()) {
            const auto j = nlohmann::json::parse(line);
            if (j.at("kind") == "socket" && j.at("writer") == writer) return j;
        }
        return nlohmann::json();
    };
    const auto worn = socketLine();
    EXPECT_EQ(worn.value("insertions", -1), 3) << worn;
    EXPECT_EQ(worn.value("wear", ""), "at-life") << worn;

    // The engineer's password from standard input; a wrong one changes nothing.
    const auto reset = [&](const std::string& password) {
        const auto input = dir.write("pw.txt", password + "\n");
        return sonoprog::test::startCli({"--setup", setup, "--records", records(), "production",
                                         "socket-reset", dir.sim()},
                                        CliStreams{"", input.string()})
            .wait()
            .status;
    };
    EXPECT_EQ(reset("wrong"), 1);
    EXPECT_EQ(socketLine().value("insertions", -1), 3);
    EXPECT_EQ(reset("s3cret"), 0);
    // The unlock made the hash of one round again, with the rounds of today.
    const auto stored =
        sonoprog::core::IniFile::load(setup).readString("Production", "EngineerPassword");
    EXPECT_EQ(stored.rfind("pbkdf2-sha256$600000$", 0), 0u) << stored;
    EXPECT_TRUE(sonoprog::production::checkPassword("s3cret", stored));
    const auto fresh = socketLine();
    EXPECT_EQ(fresh.value("insertions", -1), 0) << fresh;
    EXPECT_EQ(fresh.value("wear", ""), "fine") << fresh;
    EXPECT_TRUE(fresh.at("reset_time").is_string()) << fresh;
}
