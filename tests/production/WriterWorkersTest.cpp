#include <gtest/gtest.h>

#include "production/WriterWorkers.h"

namespace sonoprog::test {
namespace {

using production::TileStatus;
using production::WorkerReport;

TEST(WriterList, EntriesTrimmedOnceEachAndAllFromTheLister) {
    const auto none = std::function<std::vector<std::string>()>{};
    EXPECT_TRUE(production::writerListEntries("", none).empty());
    EXPECT_TRUE(production::writerListEntries(" , ,", none).empty());
    EXPECT_EQ(production::writerListEntries(" usb:1-1.3 ,usb:1-1.4,,usb:1-1.3, sim:/a b ", none),
              (std::vector<std::string>{"usb:1-1.3", "usb:1-1.4", "sim:/a b"}));
    int asked = 0;
    const auto lister = [&] {
        ++asked;
        return std::vector<std::string>{"usb:1-2", "usb:1-3", "usb:1-2"};
    };
    EXPECT_EQ(production::writerListEntries(" all ", lister),
              (std::vector<std::string>{"usb:1-2", "usb:1-3"}));
    EXPECT_EQ(asked, 1);
    // "all" inside a list is a Writer text like any other (and names none).
    EXPECT_EQ(production::writerListEntries("all,sim:/x", lister),
              (std::vector<std::string>{"all", "sim:/x"}));
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(production::writerListEntries("all", none).empty());
}

TEST(WriterList, ShortNamesForTheListOfUnits) {
    EXPECT_EQ(production::writerShortName("usb:1-1.3"), "1-1.3");
    EXPECT_EQ(production::writerShortName("usb:serial=A7 01"), "A7 01");
    EXPECT_EQ(production::writerShortName("sim:/srv/bench/b2"), "b2");
    EXPECT_EQ(production::writerShortName("sim:/srv/bench/b2/"), "b2");
    EXPECT_EQ(production::writerShortName("sim:/"), "sim:/");
    EXPECT_EQ(production::writerShortName("usb"), "usb");
    EXPECT_EQ(production::writerShortName("not a writer"), "not a writer");
}

TEST(WriterReport, AWorkerRunFromInsertChipToItsTotal) {
    WorkerReport r;
    EXPECT_EQ(r.statusText(), "READY");
    r.started();
    EXPECT_TRUE(r.running());
    EXPECT_EQ(r.statusText(), "INSERT CHIP");
    // Output that is no JSON object changes nothing.
    for (const char* junk : {"", "garbage", "[1,2]", R"({"text":"no kind"})", R"({"kind":3})"})
        EXPECT_FALSE(r.outputLine(junk));
    EXPECT_EQ(r.status(), TileStatus::InsertChip);

    r.outputLine(R"({"kind":"info","text":"[ WRITE AND VERIFY ]","rgb":"#000000","bold":true})");
    EXPECT_EQ(r.statusText(), "PROGRAMMING");
    r.outputLine(R"({"kind":"progress","percent":40})");
    EXPECT_EQ(r.percent(), 40);
    r.outputLine(R"({"kind":"progress","percent":250})");
    EXPECT_EQ(r.percent(), 100);
    const auto first = r.outputLine(
        R"({"kind":"unit","n":1,"result":"pass","seconds":1.25,"failure":null,"record":"id-1"})");
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->passed);
    EXPECT_EQ(first->n, 1);
    EXPECT_EQ(production::unitSummaryLine(*first), "UNIT 1 PASS 1.2s");
    EXPECT_EQ(r.statusText(), "PASS");

    // The next unit's first line: programming again, the gauge from zero.
    r.outputLine(R"({"kind":"progress","percent":10})");
    EXPECT_EQ(r.status(), TileStatus::Programming);
    EXPECT_EQ(r.percent(), 10);
    const auto second = r.outputLine(
        R"({"kind":"unit","n":2,"result":"fail","seconds":0.4,"failure":"VDD failed!","record":"id-2"})");
    ASSERT_TRUE(second);
    EXPECT_EQ(production::unitSummaryLine(*second), "UNIT 2 FAIL 0.4s VDD failed!");
    EXPECT_EQ(r.statusText(), "FAIL\nVDD failed!");
    EXPECT_EQ(r.counters(), (records::Counters{1, 1}));

    r.outputLine(R"({"kind":"total","units":2,"passed":1,"failed":1,"yield":50.0})");
    r.ended(false, 1);  // exit 1: a unit failed, not the worker
    EXPECT_FALSE(r.running());
    EXPECT_EQ(r.statusText(), "FAIL\nVDD failed!");  // the last unit's word stays

    // A restart keeps the counters; a reset clears them.
    r.started();
    EXPECT_EQ(r.counters(), (records::Counters{1, 1}));
    EXPECT_EQ(r.percent(), 0);
    r.outputLine(R"({"kind":"total","units":0,"passed":0,"failed":0,"yield":0.0})");
    r.ended(false, 0);
    EXPECT_EQ(r.statusText(), "READY");
    r.resetCounters();
    EXPECT_EQ(r.counters(), (records::Counters{}));
}

TEST(WriterReport, WorkersThatEndBadlyOrLoseTheirWriter) {
    WorkerReport pulled;
    pulled.started();
    pulled.outputLine(R"({"kind":"progress","percent":30})");
    pulled.errorLine(R"({"kind":"status","text":"Writer Disconnect"})");
    EXPECT_EQ(pulled.statusText(), "Writer Disconnect");
    // Its unit fails on the missing Writer; the panel keeps saying why.
    pulled.outputLine(R"({"kind":"info","text":"  -> Chip detect..."})");
    pulled.outputLine(
        R"({"kind":"unit","n":1,"result":"fail","seconds":0.1,"failure":"No reply","record":"x"})");
    EXPECT_EQ(pulled.statusText(), "Writer Disconnect");
    EXPECT_EQ(pulled.counters(), (records::Counters{0, 1}));
    // Plugged in again: the next pass is shown.
    pulled.outputLine(
        R"({"kind":"unit","n":2,"result":"pass","seconds":0.1,"failure":null,"record":"y"})");
    EXPECT_EQ(pulled.statusText(), "PASS");

    // A Writer that stops answering the insertion poll after a failed unit is
    // as good as pulled out, while its worker retries and after it ends.
    WorkerReport silentWriter;
    silentWriter.started();
    silentWriter.outputLine(
        R"({"kind":"unit","n":1,"result":"fail","seconds":0.1,"failure":"USB failed!","record":"x"})");
    EXPECT_EQ(silentWriter.statusText(), "FAIL\nUSB failed!");
    silentWriter.errorLine(
        R"x({"kind":"error","text":"the insertion poll failed (Input/Output Error); retrying"})x");
    EXPECT_EQ(silentWriter.status(), TileStatus::Disconnected);
    EXPECT_EQ(silentWriter.statusText(), "Writer Disconnect");
    silentWriter.outputLine(R"({"kind":"progress","percent":5})");
    EXPECT_EQ(silentWriter.status(), TileStatus::Disconnected);
    silentWriter.outputLine(R"({"kind":"total","units":1,"passed":0,"failed":1,"yield":0.0})");
    silentWriter.ended(false, 1);
    EXPECT_EQ(silentWriter.statusText(), "Writer Disconnect");

    WorkerReport killed;
    killed.started();
    killed.outputLine(R"({"kind":"progress","percent":30})");
    killed.ended(true, 9);
    EXPECT_EQ(killed.statusText(), "Writer Disconnect");
    EXPECT_FALSE(killed.running());

    // Refused before any unit: its own words, not a total.
    WorkerReport refused;
    refused.started();
    refused.errorLine(
        R"x({"kind":"error","text":"the virtual Writer in /x is in use by another process (PID 7)"})x");
    EXPECT_EQ(refused.statusText(), "INSERT CHIP");  // said, but not yet ended
    refused.ended(false, 1);
    EXPECT_EQ(refused.statusText(),
              "STOPPED\nthe virtual Writer in /x is in use by another process (PID 7)");

    // Gone without a word or a total: the Writer's side is the likely cause.
    WorkerReport silent;
    silent.started();
    silent.ended(false, 1);
    EXPECT_EQ(silent.status(), TileStatus::Disconnected);

    // A changed image aborts with a total: the reason stays on the panel.
    WorkerReport aborted;
    aborted.started();
    aborted.errorLine(R"({"kind":"error","text":"The image /j/a.dat has changed; stopped."})");
    aborted.outputLine(R"({"kind":"total","units":0,"passed":0,"failed":0,"yield":0.0})");
    aborted.ended(false, 1);
    EXPECT_EQ(aborted.statusText(), "STOPPED\nThe image /j/a.dat has changed; stopped.");
}

TEST(WriterReport, UnitObjectsThatAreNotWholeAreNoUnits) {
    WorkerReport r;
    r.started();
    for (const char* bad :
         {R"({"kind":"unit","result":"pass"})", R"({"kind":"unit","n":"1","result":"pass"})",
          R"({"kind":"unit","n":1,"result":"maybe"})", R"({"kind":"unit","n":1})",
          R"({"kind":"unit","n":1,"result":"pass")"})
        EXPECT_FALSE(r.outputLine(bad)) << bad;
    EXPECT_EQ(r.counters(), (records::Counters{}));
    // Extra or odd fields beside a whole unit do not matter.
    const auto u = production::unitOutcomeFromJson(
        R"({"kind":"unit","n":4,"result":"fail","seconds":"slow","failure":7,"writer":"usb:1-2"})");
    ASSERT_TRUE(u);
    EXPECT_FALSE(u->passed);
    EXPECT_EQ(u->seconds, 0);
    EXPECT_EQ(u->failure, "");
}

}  // namespace
}  // namespace sonoprog::test
