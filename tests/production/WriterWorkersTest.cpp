#include <gtest/gtest.h>

#include "production/WriterWorkers.h"

namespace sonoprog::test {
namespace {

using production::TileStatus;
using production::WorkerReport;

TEST(WriterList, ShortNames) {
    EXPECT_EQ(production::writerShortName("usb:1-1.3"), "1-1.3");
    EXPECT_EQ(production::writerShortName("usb:serial=A7 01"), "A7 01");
    EXPECT_EQ(production::writerShortName("sim:/srv/bench/b2/"), "b2");
    EXPECT_EQ(production::writerShortName("sim:/"), "sim:/");
    EXPECT_EQ(production::writerShortName("not a writer"), "not a writer");
}

TEST(WriterReport, AWorkerRunFromInsertChipToItsTotal) {
    WorkerReport r;
    r.started();
    EXPECT_EQ(r.statusText(), "INSERT CHIP");
    // Lines that are no whole object of their kind change nothing.
    for (const char* junk : {"", "garbage", "[1,2]", R"({"text":"no kind"})", R"({"kind":3})",
                             R"({"kind":"unit","n":"1","result":"pass"})",
                             R"({"kind":"unit","n":1,"result":"maybe"})"})
        EXPECT_FALSE(r.outputLine(junk)) << junk;
    EXPECT_EQ(r.status(), TileStatus::InsertChip);

    r.outputLine(R"({"kind":"info","text":"[ WRITE AND VERIFY ]","rgb":"#000000","bold":true})");
    EXPECT_EQ(r.statusText(), "PROGRAMMING");
    r.outputLine(R"({"kind":"progress","percent":250})");
    EXPECT_EQ(r.percent(), 100);
    const auto first = r.outputLine(
        R"({"kind":"unit","n":1,"result":"pass","seconds":1.25,"failure":null,"record":"id-1"})");
    ASSERT_TRUE(first);
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
    r.outputLine(R"({"kind":"total","units":2,"passed":1,"failed":1,"yield":50.0})");
    // The worker's closing object is no chip being programmed.
    r.outputLine(R"({"kind":"result","ok":false,"exit":1,"message":"a unit failed"})");
    EXPECT_EQ(r.statusText(), "FAIL\nVDD failed!");
    r.ended(false, 1);  // exit 1: a unit failed, not the worker
    EXPECT_EQ(r.statusText(), "FAIL\nVDD failed!");

    // A restart keeps the counters; a stop while waiting for a chip is READY.
    r.started();
    EXPECT_EQ(r.counters(), (records::Counters{1, 1}));
    r.outputLine(R"({"kind":"total","units":0,"passed":0,"failed":0,"yield":0.0})");
    r.ended(false, 0);
    EXPECT_EQ(r.statusText(), "READY");
    r.resetCounters();
    EXPECT_EQ(r.counters(), (records::Counters{}));
}

TEST(WriterReport, WorkersThatLoseTheirWriterOrGiveUp) {
    WorkerReport pulled;
    pulled.started();
    pulled.errorLine(R"({"kind":"status","text":"Writer Disconnect"})");
    // Its unit fails on the missing Writer; the panel keeps saying why.
    pulled.outputLine(
        R"({"kind":"unit","n":1,"result":"fail","seconds":0.1,"failure":"No reply","record":"x"})");
    pulled.outputLine(R"({"kind":"progress","percent":5})");
    EXPECT_EQ(pulled.statusText(), "Writer Disconnect");
    EXPECT_EQ(pulled.counters(), (records::Counters{0, 1}));
    // Plugged in again: the next pass is shown.
    pulled.outputLine(
        R"({"kind":"unit","n":2,"result":"pass","seconds":0.1,"failure":null,"record":"y"})");
    EXPECT_EQ(pulled.statusText(), "PASS");

    // An error is shown once the worker has ended, total or not.
    WorkerReport aborted;
    aborted.started();
    aborted.errorLine(R"({"kind":"error","text":"The image /j/a.dat has changed; stopped."})");
    EXPECT_EQ(aborted.statusText(), "INSERT CHIP");
    aborted.outputLine(R"({"kind":"total","units":0,"passed":0,"failed":0,"yield":0.0})");
    aborted.ended(false, 1);
    EXPECT_EQ(aborted.statusText(), "STOPPED\nThe image /j/a.dat has changed; stopped.");

    // Gone without a word or a total: the Writer's side is the likely cause.
    WorkerReport silent;
    silent.started();
    silent.ended(false, 1);
    EXPECT_EQ(silent.status(), TileStatus::Disconnected);
}

// The detail under a status is one line, whatever names it quotes.
TEST(WriterReport, ADetailNeverAddsALine) {
    EXPECT_EQ(production::tileStatusText(TileStatus::Stopped, "The image a\nPASS.dat\x1b"),
              "STOPPED\nThe image a\\nPASS.dat\\x1B");
}

}  // namespace
}  // namespace sonoprog::test
