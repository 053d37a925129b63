#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/CliServices.h"
#include "cli/TerminalPane.h"
#include "core/FileChooser.h"
#include "core/OperationFrame.h"
#include "core/OperationLog.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;
using namespace sonoprog::cli;
using core::LineKind;
using core::LogLine;

namespace {

// A FILE* whose contents the test reads back.
class Capture {
public:
    Capture() : f_(std::tmpfile()) {}
    ~Capture() { std::fclose(f_); }
    std::FILE* file() { return f_; }
    std::string text() {
        std::fflush(f_);
        long size = std::ftell(f_);
        std::string s(static_cast<std::size_t>(size), '\0');
        std::rewind(f_);
        std::size_t n = std::fread(s.data(), 1, s.size(), f_);
        s.resize(n);
        std::fseek(f_, 0, SEEK_END);
        return s;
    }

private:
    std::FILE* f_;
};

}  // namespace

TEST(Json, LinesCarryTheirMarkAndTheBareText) {
    struct Case {
        core::LogLine line;
        std::string json;
    } cases[] = {
        {{LineKind::Pass, "    [O] Passed!", core::kPassBlue, false},
         R"({"kind":"line","mark":"pass","text":"Passed!"})"},
        {{LineKind::Heading, "[ WRITE ]", std::nullopt, true},
         R"({"kind":"line","mark":"heading","text":"[ WRITE ]"})"},
        {{LineKind::Time, "Start: 04:50:07", core::kTimeGreen, false},
         R"({"kind":"line","mark":"step","text":"Start: 04:50:07"})"},
        {{LineKind::Step, "  -> Chip detect...", std::nullopt, false},
         R"({"kind":"line","mark":"step","text":"Chip detect..."})"},
        // A holder's own mark goes with the result line's.
        {{LineKind::Fail, "    [X]    [X] USB failed!", core::kFailRed, false},
         R"({"kind":"line","mark":"fail","text":"USB failed!"})"},
        // The product's words stay as they are, blanks inside included.
        {{LineKind::Warn, "    [!] Cancel!  [X] ", core::kFailRed, false},
         R"({"kind":"line","mark":"warn","text":"Cancel!  [X] "})"},
    };
    for (const auto& c : cases) EXPECT_EQ(jsonLine(c.line), c.json) << c.line.text;
}

TEST(Json, StringsAreEscapedAndAlwaysValidUtf8) {
    EXPECT_EQ(jsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(jsonString("tab\there\nline\r\x01\x7f"), R"("tab\there\nline\r\u0001\u007F")");
    EXPECT_EQ(jsonString("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5"),
              "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5\"");
    // An 8-bit path that is not UTF-8, a lone continuation byte, a cut sequence,
    // an overlong form and a surrogate: each byte becomes its Latin-1 escape.
    EXPECT_EQ(jsonString("C:\\T\xe9st"), R"("C:\\T\u00E9st")");
    EXPECT_EQ(jsonString("\x80"), R"("\u0080")");
    EXPECT_EQ(jsonString("\xe2\x82"), R"("\u00E2\u0082")");
    EXPECT_EQ(jsonString("\xc0\xaf"), R"("\u00C0\u00AF")");
    EXPECT_EQ(jsonString("\xed\xa0\x80"), R"("\u00ED\u00A0\u0080")");
}

TEST(Terminal, ColoursOnlyWhenAsked) {
    LogLine fail{LineKind::Fail, "    [X] USB failed!", core::kFailRed, false};
    LogLine heading{LineKind::Heading, "[ VERIFY ]", std::nullopt, true};
    LogLine step{LineKind::Step, "  -> Done!", std::nullopt, false};
    EXPECT_EQ(terminalLine(fail, false), "    [X] USB failed!");
    EXPECT_EQ(terminalLine(fail, true), "\033[31m    [X] USB failed!\033[0m");
    EXPECT_EQ(terminalLine(heading, true), "\033[1m[ VERIFY ]\033[0m");
    EXPECT_EQ(terminalLine(step, true), "  -> Done!");
    EXPECT_EQ(terminalLine({LineKind::Pass, "x", core::Rgb{1, 2, 3}, true}, true),
              "\033[1;38;2;1;2;3mx\033[0m");
}

TEST(Terminal, PaneShowsAFrameLineByLineAndNotesFailures) {
    Capture out, err;
    TerminalPane pane(out.file(), err.file(), {});
    core::OperationLog log(pane);
    NoLock lock;
    test::FixedClock clock;
    {
        core::OperationFrame frame(log, lock, clock, "[ WRITE ]", core::TimeLines::Yes);
        frame.step("  -> Chip detect...");
        frame.progress(40);
        EXPECT_FALSE(pane.sawFail());
        frame.fail("USB failed!");
    }
    EXPECT_TRUE(pane.sawFail());
    EXPECT_EQ(out.text(),
              "[ WRITE ]\nStart: 04:50:07\n  -> Chip detect...\n    [X] USB failed!\n"
              "End: 04:50:07\n");
    EXPECT_EQ(err.text(), "");  // no bar when standard error is not a terminal
}

TEST(Terminal, JsonProgressOnlyWhenItChangesAndAfreshPerOperation) {
    Capture out, err;
    TerminalPane pane(out.file(), err.file(), {true, false, false});
    core::OperationLog log(pane);
    log.progress(0);
    log.progress(0);
    log.progress(150);  // clamped by the log
    log.progress(100);
    pane.clearLines();
    log.progress(100);
    log.warn("Cancel!");
    EXPECT_EQ(out.text(),
              "{\"kind\":\"progress\",\"percent\":0}\n{\"kind\":\"progress\",\"percent\":100}\n"
              "{\"kind\":\"progress\",\"percent\":100}\n"
              "{\"kind\":\"line\",\"mark\":\"warn\",\"text\":\"Cancel!\"}\n");
    EXPECT_FALSE(pane.sawFail());
}

TEST(Terminal, NoGaugeAfterAFailUntilTheNextOperation) {
    Capture out, err;
    TerminalPane pane(out.file(), err.file(), {true, false, false});
    core::OperationLog log(pane);
    log.progress(40);
    log.fail("Verify failed!");
    log.progress(100);  // a closing step that sets the gauge whatever came before
    pane.clearLines();
    log.progress(5);
    EXPECT_EQ(out.text(),
              "{\"kind\":\"progress\",\"percent\":40}\n"
              "{\"kind\":\"line\",\"mark\":\"fail\",\"text\":\"Verify failed!\"}\n"
              "{\"kind\":\"progress\",\"percent\":5}\n");
    EXPECT_EQ(pane.firstFail(), "Verify failed!");
}

TEST(Terminal, ProgressBarGoesToStandardErrorAndMakesRoomForLines) {
    Capture out, err;
    TerminalPane pane(out.file(), err.file(), {false, false, true});
    pane.setProgress(50);
    pane.appendLine({LineKind::Pass, "    [O] Passed!", core::kPassBlue, false});
    EXPECT_EQ(out.text(), "    [O] Passed!\n");
    EXPECT_EQ(err.text(), "\r[" + std::string(20, '#') + std::string(20, ' ') + "]  50%\r\033[K");
}

TEST(Terminal, ProgressCarriesTheFiguresOnTheGaugesStepsOrOnItsOwnWithoutAGauge) {
    using core::ProgressUnit;
    const core::ProgressFigures early{ProgressUnit::Pages, 5, 200, 0.5, std::nullopt};
    const core::ProgressFigures later{ProgressUnit::Pages, 20, 200, 2.0, 18.0};
    {
        // A page loop: figures, then the gauge of the same step.
        Capture out, err;
        TerminalPane pane(out.file(), err.file(), {true, false, false});
        pane.setProgressFigures(early);
        pane.setProgress(2);
        pane.setProgressFigures(later);
        pane.setProgressFigures(later);  // the gauge stands: nothing new
        pane.setProgress(10);
        EXPECT_EQ(out.text(),
                  "{\"kind\":\"progress\",\"percent\":2,\"unit\":\"pages\",\"done\":5,"
                  "\"total\":200,\"elapsed_s\":0.5,\"eta_s\":null}\n"
                  "{\"kind\":\"progress\",\"percent\":10,\"unit\":\"pages\",\"done\":20,"
                  "\"total\":200,\"elapsed_s\":2.0,\"eta_s\":18.0}\n");
    }
    {
        // Work without a gauge prints at each whole percentage of its own figures.
        Capture out, err;
        TerminalPane pane(out.file(), err.file(), {true, false, false});
        pane.setProgressFigures({ProgressUnit::Files, 0, 3, 0.0, std::nullopt});
        pane.setProgressFigures({ProgressUnit::Files, 0, 3, 0.2, std::nullopt});
        pane.setProgressFigures({ProgressUnit::Files, 3, 3, 9.0, 0.0});
        EXPECT_EQ(out.text(),
                  "{\"kind\":\"progress\",\"percent\":0,\"unit\":\"files\",\"done\":0,"
                  "\"total\":3,\"elapsed_s\":0.0,\"eta_s\":null}\n"
                  "{\"kind\":\"progress\",\"percent\":100,\"unit\":\"files\",\"done\":3,"
                  "\"total\":3,\"elapsed_s\":9.0,\"eta_s\":0.0}\n");
    }
    {
        // On a terminal the bar shows the same figures, and moves with them.
        Capture out, err;
        TerminalPane pane(out.file(), err.file(), {false, false, true});
        pane.setProgressFigures(later);
        pane.setProgress(10);
        const std::string line =
            "\r[#         ]  10%  20 of 200 pages \u00B7 0:02 elapsed "
            "\u00B7 0:18 left\033[K";
        EXPECT_EQ(err.text(), line);
        pane.setProgressFigures({ProgressUnit::Pages, 21, 200, 2.25, 19.0});
        EXPECT_NE(err.text().find("21 of 200 pages"), std::string::npos);
    }
}

TEST(Prompter, BoxesGoToStandardErrorAndQuestionsFollowYes) {
    Capture err;
    StderrPrompter no(err.file(), false);
    std::string order;
    no.beforePrint = [&] { order += "P"; };
    no.beforeError = [&] { order += "E"; };
    no.showMessage("INFO", "Finish to make BIN file!", core::BoxIcon::Information);
    EXPECT_EQ(no.errorBoxes(), 0);
    no.showMessage("ERROR", "[USB] Failed to transmit data!", core::BoxIcon::Error);
    EXPECT_EQ(no.errorBoxes(), 1);
    EXPECT_FALSE(no.askYesNo("WARNING", "Replace?", core::BoxIcon::Information));
    EXPECT_EQ(no.refusals(), 1);
    EXPECT_EQ(order, "PPEP");
    EXPECT_EQ(err.text(),
              "INFO: Finish to make BIN file!\nERROR: [USB] Failed to transmit data!\n"
              "WARNING: Replace? -> No (--yes answers Yes)\n");

    Capture err2;
    StderrPrompter yes(err2.file(), true);
    EXPECT_TRUE(yes.askYesNo("WARNING", "Replace?", core::BoxIcon::Information));
    EXPECT_EQ(yes.refusals(), 0);
    EXPECT_EQ(err2.text(), "WARNING: Replace? -> Yes\n");
}

TEST(FileChooser, AnswersInOrderThenCancels) {
    ArgumentFileChooser files;
    files.openFiles = {"a.log", "b.bin"};
    files.saveFiles = {"out.bin"};
    core::FileDialogRequest req{"BIN file|*.bin", "bin"};
    EXPECT_EQ(files.chooseOpenFile(req), "a.log");
    EXPECT_EQ(files.chooseSaveFile(req), "out.bin");
    EXPECT_EQ(files.chooseSaveFile(req), std::nullopt);
    EXPECT_EQ(files.chooseOpenFiles(req), std::vector<std::string>{"b.bin"});
    EXPECT_EQ(files.chooseOpenFile(req), std::nullopt);
}
