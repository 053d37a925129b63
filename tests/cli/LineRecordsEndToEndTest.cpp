// A station on a line: produce with its records going to the line's
// PostgreSQL database, named by Setup.ini or --records, on a real server the
// test starts, stops and starts again.

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "tests/cli/CliRunner.h"
#include "tests/support/PostgresServer.h"

using namespace sonoprog::test;

namespace {

class LineRecordsCli : public CliTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ready()) << server.problem();
        ASSERT_TRUE(server.start()) << server.log();
        // The station's own file lives in the state folder; keep it in the test's.
        ::setenv("XDG_STATE_HOME", (dir.path() / "state").c_str(), 1);
        setup = dir.write("Setup.ini", "[Records]\nDatabase=" + server.address() + "\n").string();
        const auto dat = dir.path() / "chime.dat";
        std::filesystem::copy_file(sample("kiva300-demo.dat"), dat);
        job = (dir.path() / "chime.json").string();
        const auto made = run(
            {"job", "new", job, "--target", "kiva300", "--image", dat.string(), "--name", "Chime"});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }

    std::filesystem::path stationFile() const {
        return dir.path() / "state/sonoprog/records.sqlite";
    }
    std::set<std::string> idsIn(const CliRun& exported) {
        std::set<std::string> ids;
        for (const auto& line : exported.bodyLines())
            ids.insert(nlohmann::json::parse(line).at("id").get<std::string>());
        return ids;
    }

    PostgresServer server;
    std::string job;
};

}  // namespace

TEST_F(LineRecordsCli, UnitsReachTheLineAndWaitOnTheStationWhileTheServerIsAway) {
    writerIni("[Socket]\nUnits=3\nBad=2\n");
    const auto first = run({"--json", "produce", job, "--units", "3", "--trigger", "insert"});
    EXPECT_EQ(first.status, 1) << first.err;
    const auto summary = run({"records", "summary"});
    ASSERT_EQ(summary.status, 0) << summary.err;
    EXPECT_NE(summary.out.find("TOTAL 3 PASS 2 FAIL 1 YIELD 66.7%\n"), std::string::npos)
        << summary.out;
    EXPECT_NE(summary.out.find("WAITING 0 records for postgresql://"), std::string::npos)
        << summary.out;
    EXPECT_TRUE(std::filesystem::exists(stationFile())) << "the station keeps its own copy";

    // The server goes away: the station programs on, its units wait in its file.
    ASSERT_TRUE(server.stop());
    writerIni("[Socket]\nUnits=2\n");
    const auto away = run({"--json", "produce", job, "--units", "2", "--trigger", "insert"});
    EXPECT_EQ(away.status, 0) << away.err;
    const auto waiting = run({"--json", "records", "summary"});
    ASSERT_EQ(waiting.status, 0) << waiting.err;
    const auto last = nlohmann::json::parse(waiting.bodyLines().back());
    EXPECT_EQ(last.at("kind"), "waiting");
    EXPECT_EQ(last.at("records"), 2);
    // The station's own file answers meanwhile.
    const auto fromStation = run({"--json", "records"});
    EXPECT_EQ(fromStation.status, 0) << fromStation.err;
    EXPECT_EQ(idsIn(fromStation).size(), 5u);
    EXPECT_NE(fromStation.err.find("this station's own records answer instead"), std::string::npos)
        << fromStation.err;

    // Back: the next command sends them on, each once.
    ASSERT_TRUE(server.start()) << server.log();
    const auto back = run({"records", "summary"});
    EXPECT_NE(back.out.find("TOTAL 5 PASS 4 FAIL 1 YIELD 80.0%\n"), std::string::npos) << back.out;
    EXPECT_NE(back.out.find("WAITING 0 records"), std::string::npos) << back.out;
    const auto onServer = idsIn(run({"--json", "--records", server.address(), "records"}));
    EXPECT_EQ(onServer.size(), 5u);
    EXPECT_EQ(onServer, idsIn(run({"--json", "--records", stationFile().string(), "records"})));
}

TEST_F(LineRecordsCli, TheRecordsOptionNamesTheLineOverSetupAndAFileStaysAFile) {
    writerIni("[Socket]\nUnits=1\n");
    const auto file = (dir.path() / "own.sqlite").string();
    EXPECT_EQ(
        run({"--records", file, "produce", job, "--units", "1", "--trigger", "insert"}).status, 0);
    const auto own = run({"--records", file, "records", "summary"});
    EXPECT_EQ(own.out.find("WAITING"), std::string::npos) << "a file sends nothing on";
    EXPECT_TRUE(idsIn(run({"--json", "--records", server.address(), "records"})).empty());

    const auto wrong = run({"--records", "postgresql://op:s3cret@[::1/records", "records"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("not a database address"), std::string::npos) << wrong.err;
    EXPECT_EQ(wrong.err.find("s3cret"), std::string::npos) << wrong.err;
}

TEST_F(LineRecordsCli, AServerThatStopsAnsweringHoldsUpNeitherTheUnitsNorAStop) {
    using namespace std::chrono;
    // Taken and never answered: no reset comes, no keepalive notices.
    ASSERT_TRUE(server.freeze());
    writerIni("[Socket]\nUnits=3\n");
    const auto started = steady_clock::now();
    const auto frozen = run({"--json", "produce", job, "--units", "3", "--trigger", "insert"});
    const auto took = steady_clock::now() - started;
    EXPECT_EQ(frozen.status, 0) << frozen.err;
    EXPECT_EQ(idsIn(run({"--json", "--records", stationFile().string(), "records"})).size(), 3u);
    // Bounds far above what the run needs, far below a hang.
    EXPECT_LT(took, seconds(30)) << "three units behind a silent server";

    // Stopped while waiting for a chip: ends at once, its unit kept for the line.
    writerIni("[Socket]\nUnits=1\n");
    const auto out = (dir.path() / "stopped.out").string();
    auto running = startCli({"--writer", dir.sim(), "--temp", dir.temp(), "--setup", setup,
                             "--json", "produce", job, "--trigger", "insert"},
                            CliStreams{out});
    const auto unitSeen = [&] {
        std::ifstream in(out);
        std::stringstream text;
        text << in.rdbuf();
        return text.str().find("\"kind\":\"unit\"") != std::string::npos;
    };
    for (auto until = steady_clock::now() + seconds(60);
         !unitSeen() && steady_clock::now() < until;)
        std::this_thread::sleep_for(milliseconds(20));
    ASSERT_TRUE(unitSeen());
    const auto interrupted = steady_clock::now();
    ASSERT_EQ(::kill(running.pid(), SIGINT), 0);
    const auto stopped = running.wait();
    EXPECT_EQ(stopped.status, 0) << stopped.err;
    EXPECT_LT(steady_clock::now() - interrupted, seconds(4)) << "a stop waits on no server";

    const auto waiting = run({"--json", "records", "summary"});
    ASSERT_EQ(waiting.status, 0) << waiting.err;
    const auto waitingLines = waiting.outLines();
    ASSERT_GE(waitingLines.size(), 2u);  // ... the waiting records, the closing result
    EXPECT_EQ(nlohmann::json::parse(waitingLines[waitingLines.size() - 2]).at("records"), 4);

    // A gang stopped while its workers still wait on the silent server to take
    // their records: it ends at once, and no unit starts after the stop.
    std::string writers;
    for (const std::string w : {"g1", "g2"}) {
        dir.write(w + "/writer.ini", "[Socket]\nUnits=3\n");
        writers += (writers.empty() ? "sim:" : ",sim:") + (dir.path() / w).string();
    }
    const auto gangOut = (dir.path() / "gang.out").string();
    auto gang = startCli(
        {"--temp", dir.temp(), "--setup", setup, "--json", "produce", job, "--writers", writers},
        CliStreams{gangOut});
    std::this_thread::sleep_for(seconds(1));
    const auto asked = steady_clock::now();
    ASSERT_EQ(::kill(gang.pid(), SIGINT), 0);
    const auto gangStopped = gang.wait();
    EXPECT_LT(steady_clock::now() - asked, seconds(4)) << "a worker's opening waits on no server";
    EXPECT_EQ(gangStopped.status, 0) << gangStopped.err;
    EXPECT_EQ(readText(gangOut).find("\"kind\":\"unit\""), std::string::npos) << readText(gangOut);

    // Answering again: the four go on, each once.
    ASSERT_TRUE(server.thaw());
    const auto back = run({"records", "summary"});
    EXPECT_NE(back.out.find("TOTAL 4 PASS 4 FAIL 0"), std::string::npos) << back.out << back.err;
    EXPECT_NE(back.out.find("WAITING 0 records"), std::string::npos) << back.out;
    EXPECT_EQ(idsIn(run({"--json", "--records", server.address(), "records"})),
              idsIn(run({"--json", "--records", stationFile().string(), "records"})));
}
