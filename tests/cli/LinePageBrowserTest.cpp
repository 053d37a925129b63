// The line page end to end: sonoprog-cli serve over a station file, the page
// loaded and its scripts run by headless Chromium, and the drawn page read
// back: one row per station with its numbers, and charts that drew them.
// SONOPROG_LINE_SCREENSHOT=FILE.png also keeps a picture of the page.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <thread>

#include "records/LineQueries.h"
#include "records/SqliteRecordStore.h"
#include "tests/cli/CliRunner.h"
#include "tests/records/RecordsFixture.h"
#include "tests/support/LineSummaries.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
using namespace std::chrono_literals;

namespace {

std::string chromium() {
    for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (std::filesystem::exists(path)) return path;
    return {};
}

// Standard output of a shell command (bounded by `timeout`).
std::string capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

struct Station {
    std::string name;
    std::string job;
    int everyMinutes;   // one unit this often
    int failEvery;      // every n-th unit fails; 0: none
    int silentMinutes;  // no unit in the last ... minutes
};

// A demonstration line: five stations over the last 20 hours (well inside
// the page's 24), two jobs, some failures, one station silent for 25 minutes.
const std::vector<Station> kStations = {
    {"line-01", "Greeting", 9, 0, 0},  {"line-02", "Greeting", 11, 7, 0},
    {"line-03", "Chime", 13, 4, 25},   {"line-04", "Chime", 8, 15, 0},
    {"line-05", "Greeting", 17, 3, 0},
};
const char* kReasons[] = {"  [X] Failed at page 0x000120!", "[!] Verify failed at 0x0400",
                          "  [X] Chip not blank"};

struct Expected {
    int units = 0, fail = 0;
};

}  // namespace

TEST(LinePageBrowser, DrawsEveryStationAndItsCharts) {
    const std::string browser = chromium();
    if (browser.empty()) GTEST_SKIP() << "chromium is not installed; the page is not loaded";

    test::TempDir dir;
    const auto file = dir / "station.sqlite";
    std::string error;
    auto store = records::SqliteRecordStore::open(file, error);
    ASSERT_TRUE(store) << error;
    const std::string now = records::utcTimeNow();
    std::map<std::string, Expected> expected;
    int id = 0;
    for (const auto& s : kStations) {
        int n = 0;
        // The last unit a minute after the silence began.
        for (int k = (20 * 60 - s.silentMinutes - 1) / s.everyMinutes; k >= 0; --k) {
            const int minutes = s.silentMinutes + 1 + k * s.everyMinutes;
            ++n;
            const bool fail = s.failEvery && n % s.failEvery == 0;
            auto r = test::fullRecord("u" + std::to_string(++id),
                                      records::timeAfter(now, -60LL * minutes),
                                      fail ? records::kResultFail : records::kResultPass);
            r.station = s.name;
            r.jobName = s.job;
            r.jobSha256 = std::string(64, s.job == "Chime" ? 'c' : 'a');
            r.failLine = fail ? kReasons[n % 3] : "";
            ASSERT_TRUE(store->append(r)) << store->lastError();
            ++expected[s.name].units;
            expected[s.name].fail += fail;
        }
    }
    store.reset();
    ASSERT_EQ(test::checkLineSummaries(file), "");

    const auto out = dir / "serve.out";
    test::CliProcess serve = test::startCli(
        {"--records", file.string(), "serve", "--listen", "127.0.0.1:0"}, {out.string()});
    std::smatch m;
    std::string printed;
    const std::regex addressLine("The line page: (http://127\\.0\\.0\\.1:[0-9]+/) \\(records: ");
    for (int i = 0; i < 100 && !std::regex_search(printed, m, addressLine); ++i) {
        std::this_thread::sleep_for(100ms);
        printed = test::readText(out);
    }
    ASSERT_TRUE(std::regex_search(printed, m, addressLine)) << printed;
    const std::string url = m[1];

    const std::string flags =
        "--headless --disable-gpu --no-sandbox --no-first-run "
        "--user-data-dir=" +
        (dir / "profile").string() + " --window-size=1400,900 --virtual-time-budget=4000 ";
    const std::string dom =
        capture("timeout 90 " + browser + " " + flags + "--dump-dom " + url + " 2>/dev/null");
    if (const char* shot = std::getenv("SONOPROG_LINE_SCREENSHOT"))
        capture("timeout 90 " + browser + " " + flags + "--screenshot=" + shot + " " + url +
                " 2>/dev/null");
    ::kill(serve.pid(), SIGTERM);
    const test::CliRun ran = serve.wait();
    EXPECT_EQ(ran.status, 0) << ran.err;

    ASSERT_NE(dom.find("<table id=\"stations\""), std::string::npos) << dom.substr(0, 2000);
    int drawnStations = 0, lineUnits = 0;
    for (const auto& s : kStations) {
        SCOPED_TRACE(s.name);
        const Expected& want = expected[s.name];
        const std::regex rowPattern("<tr([^>]*data-station=\"" + s.name + "\"[^>]*)>(.*?)</tr>");
        std::smatch row;
        ASSERT_TRUE(std::regex_search(dom, row, rowPattern)) << dom.substr(0, 4000);
        const std::string attributes = row[1], cells = row[2];
        EXPECT_NE(attributes.find("data-units=\"" + std::to_string(want.units) + "\""),
                  std::string::npos)
            << attributes;
        EXPECT_EQ(attributes.find("amber") != std::string::npos, s.silentMinutes > 10)
            << attributes;
        EXPECT_NE(cells.find(">" + s.job + "<"), std::string::npos) << cells;
        const std::string unitsText = std::to_string(want.units) + " (" +
                                      std::to_string(want.units - want.fail) + " pass, " +
                                      std::to_string(want.fail) + " fail)";
        EXPECT_NE(cells.find(unitsText), std::string::npos) << cells;
        // The chart drew 24 hours holding every unit of the station.
        std::smatch chart;
        ASSERT_TRUE(
            std::regex_search(cells, chart,
                              std::regex("<td class=\"chart\" data-drawn-hours=\"([0-9]+)\" "
                                         "data-drawn-units=\"([0-9]+)\">(.*?)</td>")))
            << cells;
        EXPECT_EQ(chart[1], "24");
        EXPECT_EQ(chart[2], std::to_string(want.units));
        EXPECT_NE(chart.str(3).find("<canvas"), std::string::npos);
        if (want.fail > 0) {
            EXPECT_NE(cells.find("Failed at page 0x000120!"), std::string::npos) << cells;
            EXPECT_EQ(cells.find("[X]"), std::string::npos) << "the plain reason: " << cells;
        }
        ++drawnStations;
        lineUnits += want.units;
    }
    EXPECT_EQ(drawnStations, 5);
    std::smatch lineChart;
    ASSERT_TRUE(std::regex_search(
        dom, lineChart, std::regex("id=\"line-chart\"[^>]*data-drawn-units=\"([0-9]+)\"")));
    EXPECT_EQ(lineChart[1], std::to_string(lineUnits));
}
