#include <gtest/gtest.h>

#include <filesystem>

#include "production/WorkerLines.h"
#include "production/WriterGang.h"

namespace sonoprog::test {
namespace {

using production::WriterProblem;

// Each list as both faces read it: the command line's verdict (the members'
// ids, or its error) and the problem of each entry the window gives a tile.
TEST(WriterGang, WritersListRules) {
    const std::vector<link::usb::AttachedWriter> attached = {{"1-1.1", "K1"}, {"1-1.2", ""}};
    const std::string here = std::filesystem::current_path().string();
    struct Case {
        std::string list;
        std::vector<std::string> ids;  // empty: refused with `error`
        std::string error;
        std::vector<WriterProblem> problems;
    };
    const auto none = WriterProblem::None;
    const Case cases[] = {
        {" all ", {"1-1.1", "1-1.2"}, "", {none, none}},
        {"usb:serial=K1, usb:1-1.2 ,sim:x", {"1-1.1", "1-1.2", "x"}, "", {none, none, none}},
        // The same Writer by its serial number and by its port, by two folder texts, by one text
        // twice.
        {"usb:serial=K1,usb:1-1.1",
         {},
         "'--writers': 'usb:1-1.1' names a Writer already in the list",
         {none, WriterProblem::Twice}},
        {"sim:.,sim:" + here + "/.",
         {},
         "'--writers': 'sim:" + here + "/.' names a Writer already in the list",
         {none, WriterProblem::Twice}},
        {"sim:/x,sim:/x", {}, "names a Writer already", {none, WriterProblem::Twice}},
        {"usb:1-1.9",
         {},
         "no Writer at usb:1-1.9; attached: usb:1-1.1 (serial K1), usb:1-1.2",
         {WriterProblem::NotAttached}},
        {"sim:/x,,", {}, "'--writers': '' is no Writer", {none, WriterProblem::NotAWriter}},
        {"", {}, "'' is no Writer", {WriterProblem::NotAWriter}},
        {"floppy", {}, "'floppy' is no Writer (expected sim:DIR", {WriterProblem::NotAWriter}},
        // "all" inside a list is a Writer text like any other, and names none.
        {"all,sim:/x", {}, "'all' is no Writer", {WriterProblem::NotAWriter, none}},
        {"sim:/x,sim", {}, "'sim' could be any Writer", {none, WriterProblem::AnyWriter}},
        {"usb", {}, "'usb' could be any Writer", {WriterProblem::AnyWriter}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.list);
        std::string error;
        const auto members = production::gangMembers(c.list, attached, error);
        if (c.ids.empty()) {
            EXPECT_FALSE(members);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        } else {
            ASSERT_TRUE(members) << error;
            std::vector<std::string> ids;
            for (const auto& m : *members) ids.push_back(m.id);
            EXPECT_EQ(ids, c.ids);
        }
        std::vector<WriterProblem> problems;
        for (const auto& e : production::readWriterList(c.list, attached).entries)
            problems.push_back(e.problem);
        EXPECT_EQ(problems, c.problems);
    }
    std::string error;
    EXPECT_FALSE(production::gangMembers("all", {}, error));
    EXPECT_EQ(error, "'--writers all': no Writer is attached");
    EXPECT_EQ(production::readWriterList("all", {}).firstError("Writers="),
              "'Writers=all': no Writer is attached");
}

// The worker's command line: the job after "--", and no records location on it.
TEST(WriterGang, WorkerArguments) {
    production::WorkerCommand c;
    c.writer = "sim:/w";
    c.jobPath = "-odd.json";
    c.recordsFd = 7;
    c.operatorName = "Ana";
    EXPECT_EQ(
        production::workerArguments(c),
        (std::vector<std::string>{"--writer", "sim:/w", "--json", "--records-fd", "7", "produce",
                                  "--trigger", "insert", "--operator", "Ana", "--", "-odd.json"}));
}

// Every kind written and read back, with texts that would break a line.
TEST(WorkerLines, EachKindRoundTrips) {
    const std::string hostile = "two\nlines\r\"quoted\" \\ \x01 end";
    production::UnitOutcome unit;
    unit.n = 4;
    unit.seconds = 1.25;
    unit.failure = hostile;
    unit.recordId = "r-4";
    const production::LoopResult total{3, 1};
    using K = production::WorkerKind;
    struct Case {
        std::string written;
        K kind;
        std::string text;
    };
    const Case cases[] = {
        {production::lineObject("fail", hostile), K::Line, hostile},
        {production::progressObject(37), K::Progress, ""},
        {production::unitSummaryJson(unit), K::Unit, ""},
        {production::totalJson(total), K::Total, ""},
        {production::noteObject("status", "Writer Disconnect"), K::Status, "Writer Disconnect"},
        {production::noteObject("error", hostile), K::Error, hostile},
        {production::noteObject("warning", hostile), K::OtherNote, hostile},
        {production::resultObject(false, 1, hostile), K::Result, hostile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        EXPECT_EQ(c.written.find('\n'), std::string::npos);
        const auto read = production::readWorkerLine(c.written);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->kind, c.kind);
        EXPECT_EQ(read->text, c.text);
    }
    const auto u = production::readWorkerLine(production::unitSummaryJson(unit));
    EXPECT_EQ(u->unit.n, 4);
    EXPECT_FALSE(u->unit.passed);
    EXPECT_EQ(u->unit.failure, hostile);
    EXPECT_EQ(u->unit.recordId, "r-4");
    EXPECT_EQ(production::readWorkerLine(production::totalJson(total))->total.failed, 1);
    EXPECT_EQ(production::readWorkerLine(production::progressObject(37))->percent, 37);
    const auto r = production::readWorkerLine(production::resultObject(false, 1, "x"));
    EXPECT_EQ(r->exit, 1);
    EXPECT_FALSE(r->ok);
    EXPECT_EQ(production::readWorkerLine(production::lineObject("pass", "ok"))->mark, "pass");

    // Split as they arrive: in pieces, several in one read, the last without its end.
    production::LineSplitter splitter;
    std::vector<std::string> lines;
    const auto each = [&](std::string_view l) { lines.emplace_back(l); };
    splitter.feed("{\"kind\":\"pro", each);
    splitter.feed("gress\",\"percent\":5}\n\n{\"kind\"", each);
    splitter.feed(":\"total\"}", each);
    EXPECT_EQ(lines, (std::vector<std::string>{R"({"kind":"progress","percent":5})", ""}));
    EXPECT_EQ(splitter.finish(), R"({"kind":"total"})");
    EXPECT_FALSE(splitter.finish());
}

}  // namespace
}  // namespace sonoprog::test
