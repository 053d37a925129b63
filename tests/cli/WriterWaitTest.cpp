// produce with no Writer attached: it waits, says so every ten seconds with
// the hint that names the virtual Writer, and --wait ends the wait.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "cli/WriterWait.h"
#include "tests/cli/CliRunner.h"

namespace sonoprog::test {
namespace {

using namespace std::chrono_literals;
using cli::WriterWait;

TEST(WriterWait, SaysSoEveryTenSecondsUntilAWriterComesOrTheWaitEnds) {
    const struct {
        const char* name;
        std::optional<std::chrono::seconds> limit;
        std::chrono::seconds attachedAfter;  // never, when past the end of the test
        bool stopAt25s;
        WriterWait result;
        std::vector<std::string> said;  // each line's start
    } cases[] = {
        {"attached already", std::nullopt, 0s, false, WriterWait::Attached, {}},
        {"attached after 25 s",
         std::nullopt,
         25s,
         false,
         WriterWait::Attached,
         {"no Writer is attached; waiting", "still no Writer attached after 10 s",
          "still no Writer attached after 20 s"}},
        {"--wait 15",
         15s,
         1000s,
         false,
         WriterWait::TimedOut,
         {"no Writer is attached; waiting", "still no Writer attached after 10 s",
          "no Writer was attached within 15 s"}},
        {"--wait 0",
         0s,
         1000s,
         false,
         WriterWait::TimedOut,
         {"no Writer is attached; waiting", "no Writer was attached within 0 s"}},
        {"stopped",
         std::nullopt,
         1000s,
         true,
         WriterWait::Stopped,
         {"no Writer is attached; waiting", "still no Writer attached after 10 s",
          "still no Writer attached after 20 s"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto now = std::chrono::steady_clock::time_point{};
        const auto start = now;
        std::atomic<bool> stop{false};
        std::vector<std::string> said;
        cli::WriterWaitHooks hooks;
        hooks.attached = [&] { return now - start >= c.attachedAfter; };
        hooks.now = [&] { return now; };
        hooks.sleep = [&](std::chrono::milliseconds d) {
            now += d;
            if (c.stopAt25s && now - start >= 25s) stop = true;
        };
        hooks.say = [&](const std::string& line) { said.push_back(line); };
        hooks.stop = &stop;
        EXPECT_EQ(cli::waitForWriter(hooks, c.limit), c.result);
        ASSERT_EQ(said.size(), c.said.size());
        for (std::size_t i = 0; i < said.size(); ++i) {
            EXPECT_EQ(said[i].rfind(c.said[i], 0), 0u) << said[i];
            EXPECT_NE(said[i].find("--writer sim"), std::string::npos) << said[i];
        }
        if (c.limit && c.result == WriterWait::TimedOut) {
            EXPECT_EQ(now - start, *c.limit);
        }
    }
}

TEST(WriterWait, ProduceWithoutAWriterEndsWithExitThreeAfterItsWait) {
    CliFixtureDir dir;
    const auto dat = dir.path() / "chime.dat";
    std::filesystem::copy_file(sample("kiva300-demo.dat"), dat);
    const auto job = (dir.path() / "chime.json").string();
    ASSERT_EQ(runCli({"job", "new", job, "--target", "kiva300", "--image", dat.string()}).status,
              0);
    const auto run = runCli({"--temp", dir.temp(), "--records", (dir.path() / "r.sqlite").string(),
                             "produce", job, "--trigger", "insert", "--wait", "1"});
    if (run.err.find("no Writer is attached") == std::string::npos)
        GTEST_SKIP() << "a Writer is attached to this machine: " << run.err;
    EXPECT_EQ(run.status, cli::kExitNoWriter) << run.err;
    EXPECT_NE(run.err.find("no Writer was attached within 1 s (--writer sim"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace sonoprog::test
