#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ChipRun.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;

namespace {

struct ChipRunTest : ::testing::Test, test::RecordingServices {
    test::RecordingPrompter prompter;
    core::AppPaths paths;
    core::OperationServices services{log, lock, yield, prompter, clock, paths};

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& line : pane.lines) out.push_back(line.text);
        return out;
    }
};

// A run whose steps pass or fail as told and that notes when it lets go of
// what it holds, beside the lock's own events.
class ScriptedRun final : public core::ChipRun {
public:
    ScriptedRun(const core::OperationServices& s, std::vector<std::string>& events)
        : core::ChipRun(s, "[ RUN ]"), events_(events) {}

    void step(const char* text, bool passes) {
        if (!begin(text)) return;
        if (passes)
            frame_.pass("done");
        else
            frame_.fail("refused");
    }
    void closing() { frame_.step("  -> Closing..."); }

private:
    void release() override { events_.push_back("release"); }
    std::vector<std::string>& events_;
};

}  // namespace

TEST_F(ChipRunTest, AFailedStepSkipsTheRestUpToTheClosingStepsAndLetsGoBeforeTheUnlock) {
    struct Case {
        const char* name;
        bool first, second;
        bool result;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"all pass",
         true,
         true,
         true,
         {"[ RUN ]", "  -> One...", "    [O] done", "    [O] done", "  -> Closing..."}},
        {"first fails",
         false,
         true,
         false,
         {"[ RUN ]", "  -> One...", "    [X] refused", "  -> Closing..."}},
        {"second fails",
         true,
         false,
         false,
         {"[ RUN ]", "  -> One...", "    [O] done", "    [X] refused", "  -> Closing..."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        lock.events.clear();
        bool result = false;
        {
            ScriptedRun run(services, lock.events);
            run.step("  -> One...", c.first);
            run.step("", c.second);  // a step without a line of its own
            run.closing();
            result = run.end();
            EXPECT_EQ(run.end(), result);  // a second end changes nothing
        }
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(texts(), c.lines);
        EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "release", "unlock"}));
        EXPECT_FALSE(lock.locked);
    }
}
