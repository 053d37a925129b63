// produce --writers: one worker process per virtual Writer, their output
// merged, the totals over all of them and per Writer, and the records each
// worker writes into the one database.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "cli/GangRun.h"
#include "tests/cli/CliRunner.h"

using namespace sonoprog;
using namespace sonoprog::test;

namespace {

class GangRun : public CliTest {
protected:
    GangRun() { outFile = (dir.path() / "gang.out").string(); }

    std::string records() const { return (dir.path() / "records.sqlite").string(); }
    std::string writerDir(const std::string& name) const { return (dir.path() / name).string(); }
    // A virtual Writer folder of its own with this writer.ini.
    std::string simWriter(const std::string& name, const std::string& ini) {
        dir.write(name + "/writer.ini", ini);
        return "sim:" + writerDir(name);
    }
    std::string kivaJob() {
        const auto dat = dir.path() / "chime.dat";
        std::filesystem::copy_file(sample("kiva300-demo.dat"), dat);
        const auto job = (dir.path() / "chime.json").string();
        EXPECT_EQ(run({"job", "new", job, "--target", "kiva300", "--image", dat.string()}).status,
                  0);
        return job;
    }
    // The gang's arguments: the test's records and Temp, then `args`.
    std::vector<std::string> gang(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--records", records(), "--temp", dir.temp()});
        return args;
    }
    CliProcess start(const std::vector<std::string>& args) {
        return startCli(gang(args), CliStreams{outFile});
    }
    // Waits (at most a minute) until the gang's output so far holds every text.
    bool waitFor(const std::vector<std::string>& texts) const {
        for (int i = 0; i < 6000; ++i) {
            const std::string out = readText(outFile);
            bool all = true;
            for (const auto& t : texts) all = all && out.find(t) != std::string::npos;
            if (all) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::vector<nlohmann::json> storedRecords() {
        const auto listed = runCli({"--records", records(), "--json", "records"});
        EXPECT_EQ(listed.status, 0) << listed.err;
        std::vector<nlohmann::json> all;
        for (const auto& line : listed.bodyLines()) all.push_back(nlohmann::json::parse(line));
        return all;
    }

    std::string outFile;
};

// The children a process has now (those that have ended and wait to be
// reaped left out), from /proc.
std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...: the name in brackets may hold blanks.
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && state != 'Z') children.push_back(std::stoi(name));
    }
    return children;
}

// The objects of a JSON gang run by kind, in order.
std::multimap<std::string, nlohmann::json> byKind(const CliRun& run) {
    std::multimap<std::string, nlohmann::json> objects;
    for (const auto& line : run.bodyLines()) {
        auto j = nlohmann::json::parse(line);
        objects.emplace(j.at("kind").get<std::string>(), j);
    }
    return objects;
}

}  // namespace

// Three Writers: one good, one with a bad chip, one pulled out during its
// second unit. The pulled-out one waits for its Writer as one Writer alone
// would, the others finish; SIGINT then stops the gang with its totals.
TEST_F(GangRun, OneWriterFailingAndOnePulledOutLeaveTheOthersAlone) {
    const auto job = kivaJob();
    const auto good = simWriter("good", "[Socket]\nUnits=4\n");
    const auto bad = simWriter("bad", "[Socket]\nUnits=4\nBad=2\n");
    // Every transfer from the 200th on fails: inside the second Kiva300 unit.
    const auto pulled = simWriter("pulled", "[Socket]\nUnits=4\n[Writer]\nFailFrom=200\n");
    auto gangRun = start({"--json", "produce", job, "--units", "4", "--operator", "Ana",
                          "--writers", good + "," + bad + "," + pulled});
    ASSERT_TRUE(waitFor({R"("kind":"unit","writer":")" + good + R"(","n":4)",
                         R"("kind":"unit","writer":")" + bad + R"(","n":4)",
                         R"("kind":"unit","writer":")" + pulled + R"(","n":2)"}));
    // The pulled-out worker polls on; the other two have ended by themselves.
    for (int i = 0; i < 500 && childrenOf(gangRun.pid()).size() > 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(childrenOf(gangRun.pid()).size(), 1u);
    ASSERT_EQ(::kill(gangRun.pid(), SIGINT), 0);
    const CliRun done = gangRun.wait();
    EXPECT_EQ(done.status, 1) << done.err;

    const auto objects = byKind(done);
    std::map<std::string, std::vector<std::string>> results;  // per Writer, in order
    std::set<std::string> unitRecords;
    for (auto [it, end] = objects.equal_range("unit"); it != end; ++it) {
        const auto& u = it->second;
        results[u.at("writer")].push_back(u.at("result").get<std::string>() + " " +
                                          u.at("failure").dump());
        unitRecords.insert(u.at("record").get<std::string>());
    }
    EXPECT_EQ(results[good], std::vector<std::string>(4, "pass null"));
    EXPECT_EQ(results[bad], (std::vector<std::string>{"pass null", "fail \"VDD failed!\"",
                                                      "pass null", "pass null"}));
    EXPECT_EQ(results[pulled], (std::vector<std::string>{"pass null", "fail \"USB failed!\""}));
    // The overall total, then one per Writer in the order they were named.
    const auto lines = done.bodyLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(done.outLines().back(),
              R"({"kind":"result","ok":false,"exit":1,"message":"a unit failed"})");
    EXPECT_EQ(
        nlohmann::json::parse(lines[lines.size() - 4]),
        nlohmann::json::parse(R"({"kind":"total","units":10,"passed":8,"failed":2,"yield":80.0})"));
    const std::vector<std::pair<std::string, std::string>> perWriter = {
        {good, R"("units":4,"passed":4,"failed":0,"yield":100.0)"},
        {bad, R"("units":4,"passed":3,"failed":1,"yield":75.0)"},
        {pulled, R"("units":2,"passed":1,"failed":1,"yield":50.0)"}};
    for (std::size_t i = 0; i < perWriter.size(); ++i)
        EXPECT_EQ(lines[lines.size() - 3 + i], R"({"kind":"total","writer":")" +
                                                   perWriter[i].first + "\"," +
                                                   perWriter[i].second + "}");
    // The poll failing on the pulled-out Writer is said on standard error, for it.
    EXPECT_NE(done.err.find(R"({"kind":"error","writer":")" + pulled +
                            R"(","text":"the insertion poll failed)"),
              std::string::npos)
        << done.err;
    EXPECT_EQ(done.err.find("worker ended"), std::string::npos) << done.err;

    // Each unit is in the records once, under its own Writer.
    std::map<std::string, int> perIdentity;
    std::set<std::string> recordIds;
    for (const auto& r : storedRecords()) {
        recordIds.insert(r.at("id").get<std::string>());
        ++perIdentity[r.at("writer").get<std::string>()];
        EXPECT_EQ(r.at("operator"), "Ana");
    }
    EXPECT_EQ(recordIds, unitRecords);
    EXPECT_EQ(perIdentity, (std::map<std::string, int>{{"sim:" + writerDir("good"), 4},
                                                       {"sim:" + writerDir("bad"), 4},
                                                       {"sim:" + writerDir("pulled"), 2}}));
}

// SIGINT while every Writer is busy: each worker finishes the unit it has
// begun, as one Writer alone does, and the gang ends without a failure.
TEST_F(GangRun, InterruptStopsEveryWorkerAfterItsUnit) {
    const auto job = kivaJob();
    std::vector<std::string> writers;
    for (const char* name : {"w1", "w2", "w3"})
        writers.push_back(simWriter(name, "[Socket]\nUnits=1000\n[Writer]\nRoundTripUs=200\n"));
    auto gangRun =
        start({"produce", job, "--writers", writers[0] + "," + writers[1] + "," + writers[2]});
    ASSERT_TRUE(
        waitFor({"[" + writerDir("w1") + "] UNIT 2 PASS", "[" + writerDir("w2") + "] UNIT 2 PASS",
                 "[" + writerDir("w3") + "] UNIT 2 PASS"}));
    ASSERT_EQ(childrenOf(gangRun.pid()).size(), 3u);
    ASSERT_EQ(::kill(gangRun.pid(), SIGINT), 0);
    const CliRun done = gangRun.wait();
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_TRUE(childrenOf(gangRun.pid()).empty());
    long long units = 0;
    for (const auto& line : done.outLines())
        if (line.find("] UNIT ") != std::string::npos) ++units;
    const auto totals = lastLines(done, 4);
    EXPECT_EQ(totals[0], "TOTAL " + std::to_string(units) + " PASS " + std::to_string(units) +
                             " FAIL 0 YIELD 100.0%");
    EXPECT_EQ(static_cast<long long>(storedRecords().size()), units);
}

// A worker killed, and one that cannot open its Writer: each is reported for
// its Writer, the other Writer runs to its end, and the gang fails.
TEST_F(GangRun, WorkersThatEndBadlyAreReportedAndTheOthersGoOn) {
    const auto job = kivaJob();
    const auto steady = simWriter("steady", "[Socket]\nUnits=3\n[Writer]\nRoundTripUs=300\n");
    const auto doomed = simWriter("doomed", "[Socket]\nUnits=1000\n");
    dir.write("plain-file", std::string("not a folder"));
    const auto broken = "sim:" + writerDir("plain-file");
    auto gangRun =
        start({"produce", job, "--units", "3", "--writers", steady + "," + doomed + "," + broken});
    ASSERT_TRUE(waitFor({"[" + writerDir("doomed") + "] UNIT 1 PASS"}));
    // The doomed worker is the one with the doomed folder on its command line.
    pid_t victim = -1;
    for (pid_t child : childrenOf(gangRun.pid())) {
        const std::string cmdline = readText("/proc/" + std::to_string(child) + "/cmdline");
        if (cmdline.find(writerDir("doomed")) != std::string::npos) victim = child;
    }
    ASSERT_GT(victim, 0);
    ASSERT_EQ(::kill(victim, SIGKILL), 0);
    const CliRun done = gangRun.wait();
    EXPECT_EQ(done.status, 1);
    EXPECT_NE(done.err.find("[" + writerDir("doomed") + "] worker ended: signal 9\n"),
              std::string::npos)
        << done.err;
    EXPECT_NE(done.err.find("[" + writerDir("plain-file") + "] worker ended: exit status 1\n"),
              std::string::npos)
        << done.err;
    EXPECT_EQ(done.out.find("[" + writerDir("plain-file") + "] UNIT"), std::string::npos);
    const auto totals = lastLines(done, 4);
    EXPECT_EQ(totals[1], "[" + writerDir("steady") + "] TOTAL 3 PASS 3 FAIL 0 YIELD 100.0%");
    EXPECT_EQ(totals[3], "[" + writerDir("plain-file") + "] TOTAL 0 PASS 0 FAIL 0 YIELD 0.0%");
}

TEST_F(GangRun, ListsThatCannotRunAreUsageErrors) {
    const auto job = kivaJob();
    const auto a = simWriter("a", "[Socket]\nUnits=1\n");
    const auto b = simWriter("b", "[Socket]\nUnits=1\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--writer", a, "produce", job, "--writers", b}, "'--writer' or '--writers', not both"},
        {{"produce", job, "--writers", a + "," + b, "--trigger", "enter"}, "'--trigger enter'"},
        {{"job", "show", job, "--writers", a}, "'--writers' goes with 'produce' only"},
        {{"produce", job, "--writers", a + "," + a + "/."}, "already in the list"},
        {{"produce", job, "--writers", a + ",sim"}, "'sim' could be any Writer"},
        {{"produce", job, "--writers", a + ",usb"}, "'usb' could be any Writer"},
        {{"produce", job, "--writers", a + ",,"}, "'' is no Writer"},
        {{"produce", job, "--writers", "floppy"}, "'floppy' is no Writer"},
        {{"produce", (dir.path() / "none.json").string(), "--writers", a}, "none.json"},
    };
    for (const auto& [args, message] : cases) {
        const auto refused = runCli(gang(args));
        EXPECT_EQ(refused.status, 2) << args.back();
        EXPECT_NE(refused.err.find(message), std::string::npos) << refused.err;
        EXPECT_EQ(refused.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(records())) << "nothing ran";
}

// Ports and serial numbers against the Writers attached, without a bus.
TEST(GangMembers, UsbWritersAreNamedByTheirPort) {
    const std::vector<link::usb::AttachedWriter> attached = {{"1-1.1", "K1"}, {"1-1.2", ""}};
    std::string error;
    EXPECT_EQ(cli::gangMembers("all", attached, error),
              (std::vector<cli::GangMember>{{"usb:1-1.1", "1-1.1"}, {"usb:1-1.2", "1-1.2"}}));
    EXPECT_EQ(cli::gangMembers("usb:serial=K1,usb:1-1.2,sim:x", attached, error),
              (std::vector<cli::GangMember>{
                  {"usb:serial=K1", "1-1.1"}, {"usb:1-1.2", "1-1.2"}, {"sim:x", "x"}}));
    // One Writer by its serial number and by its port is named twice.
    EXPECT_FALSE(cli::gangMembers("usb:serial=K1,usb:1-1.1", attached, error));
    EXPECT_NE(error.find("'usb:1-1.1' names a Writer already in the list"), std::string::npos);
    EXPECT_FALSE(cli::gangMembers("usb:1-1.9", attached, error));
    EXPECT_EQ(error, "no Writer at usb:1-1.9; attached: usb:1-1.1 (serial K1), usb:1-1.2");
    EXPECT_FALSE(cli::gangMembers("all", {}, error));
    EXPECT_EQ(error, "'--writers all': no Writer is attached");
}

// The gang's parent killed outright: its workers stop after their unit
// rather than programming on with nobody reading their output.
TEST_F(GangRun, WorkersStopWhenTheirParentIsKilled) {
    const auto job = kivaJob();
    const auto one = simWriter("one", "[Socket]\nUnits=1000\n");
    const auto two = simWriter("two", "[Socket]\nUnits=1000\n");
    auto gangRun = start({"produce", job, "--writers", one + "," + two});
    ASSERT_TRUE(waitFor(
        {"[" + writerDir("one") + "] UNIT 1 PASS", "[" + writerDir("two") + "] UNIT 1 PASS"}));
    const auto workers = childrenOf(gangRun.pid());
    ASSERT_EQ(workers.size(), 2u);
    ASSERT_EQ(::kill(gangRun.pid(), SIGKILL), 0);
    gangRun.wait();
    for (pid_t worker : workers) {
        bool gone = false;
        for (int i = 0; i < 3000 && !gone; ++i) {
            gone = ::kill(worker, 0) != 0;
            if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(gone) << "worker " << worker << " still runs";
    }
}

// The lot's quantity is counted over every Writer: once it has passed, every
// worker stops after its unit, and each record carries the lot.
TEST_F(GangRun, QuantityOverAllWritersEndsTheRun) {
    const auto job = kivaJob();
    const auto w1 = simWriter("w1", "[Socket]\nUnits=1000\n[Writer]\nRoundTripUs=200\n");
    const auto w2 = simWriter("w2", "[Socket]\nUnits=1000\n[Writer]\nRoundTripUs=200\n");
    const CliRun done =
        start({"produce", job, "--writers", w1 + "," + w2, "--quantity", "6", "--lot", "=L-9"})
            .wait();
    EXPECT_EQ(done.status, 0) << done.err;
    long long units = 0;
    std::vector<std::string> remaining;
    for (const auto& line : done.outLines()) {
        if (line.find("] UNIT ") != std::string::npos) ++units;
        if (line.rfind("REMAINING ", 0) == 0) remaining.push_back(line);
    }
    // A unit already under way on the other Writer when the sixth passed still counts.
    EXPECT_GE(units, 6);
    EXPECT_LE(units, 8);
    ASSERT_GE(remaining.size(), 6u);
    EXPECT_EQ(remaining[0], "REMAINING 5 of 6");
    EXPECT_EQ(remaining[5], "REMAINING 0 of 6");
    const auto stored = storedRecords();
    EXPECT_EQ(static_cast<long long>(stored.size()), units);
    for (const auto& r : stored) EXPECT_EQ(r.at("lot"), "=L-9");
    const auto csv = runCli({"--records", records(), "records", "--lot", "=L-9", "--csv"});
    EXPECT_EQ(csv.outLines().size(), static_cast<std::size_t>(units) + 1);
    // The lot is the last cell, kept from being read as a formula.
    EXPECT_NE(csv.outLines().at(1).find(",'=L-9"), std::string::npos) << csv.outLines().at(1);
}
