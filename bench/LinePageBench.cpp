// The line page's /api/line, as a browser asks it: the 95th percentile of 200
// requests over loopback to an in-process server, on a station's file and on
// a PostgreSQL database. The records hold the summaries of a line at its
// volume: 10 stations, two shifts (16 hours a day) for 92 days, 700 units an
// hour each (10,304,000 units), one job per station and week, three fail
// reasons. The summary rows are written directly; the units table holds only
// a few records (the page reads units only for /api/units).
#include <httplib.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "bench/BenchSupport.h"
#include "bench/RecordsGenerator.h"
#include "cli/LineServer.h"
#include "records/LineQueries.h"
#include "records/PostgresRecordStore.h"
#include "records/SqliteRecordStore.h"
#include "tests/support/LineSummaries.h"
#include "tests/support/PostgresServer.h"

using namespace sonoprog;

namespace {

constexpr int kStations = 10;
constexpr int kDays = 92;
constexpr int kShiftHours = 16;
constexpr int kUnitsPerHour = 700;
constexpr int kRequests = 200;

// The summary rows, as INSERT statements of 1,000 rows each, ending at the current hour.
std::vector<std::string> summaryInserts(const std::string& now) {
    std::vector<std::string> out;
    std::string sql;
    int rows = 0;
    auto add = [&](const std::string& values) {
        sql += (rows % 1000 == 0 ? "INSERT INTO unit_hours VALUES " : ",") + values;
        if (++rows % 1000 == 0) out.push_back(std::move(sql)), sql.clear();
    };
    const char* reasons[] = {"  [X] Failed at page 0x000120!", "[!] Verify failed",
                             "  [X] Chip not blank"};
    for (int h = 0; h < kDays * 24; ++h) {
        if (h % 24 >= kShiftHours) continue;
        const std::string hour = records::hourOf(now, -h);
        const std::string last = hour + ":59:59.000Z";
        for (int s = 0; s < kStations; ++s) {
            const std::string station = "station-" + std::to_string(s);
            const int week = h / (24 * 7);
            const std::string job =
                std::string(63, 'a' + s % 26) + static_cast<char>('a' + week % 26);
            const std::string name = "Job " + std::to_string(s) + "/" + std::to_string(week);
            const std::string key =
                "('" + station + "','" + job + "','" + name + "','" + hour + "',";
            int failed = 0;
            for (int r = 0; r < 3; ++r) {
                const int n = 1 + (h + s + r) % 7;
                failed += n;
                add(key + "'fail','" + reasons[r] + "'," + std::to_string(n) + ",'" + last + "')");
            }
            add(key + "'pass',''," + std::to_string(kUnitsPerHour - failed) + ",'" + last + "')");
        }
    }
    if (!sql.empty()) out.push_back(sql);
    return out;
}

// A few real records through the store's own insert path, then the summary
// tables made and filled.
bool fillRecords(records::RecordStore& store, const std::string& now) {
    for (int i = 0; i < 100; ++i) {
        records::UnitRecord r;
        r.id = records::newRecordId();
        r.time = records::timeAfter(now, -i * 5);
        r.station = "station-" + std::to_string(i % kStations);
        r.jobName = "Job";
        r.jobSha256 = std::string(64, 'f');
        r.target = "kiva300";
        r.result = std::string(records::kResultPass);
        if (!store.append(r)) return false;
    }
    return true;
}

struct Page {
    std::unique_ptr<cli::LineServer> server;
    std::thread thread;
    int port = -1;
    ~Page() {
        if (server) server->stop();
        if (thread.joinable()) thread.join();
    }
    bool start(const std::string& location,
               std::function<std::string()> now = records::utcTimeNow) {
        std::string error;
        auto queries = records::LineQueries::open(location, error);
        if (!queries) return false;
        server = std::make_unique<cli::LineServer>(std::move(queries), std::move(now));
        port = server->bind({"127.0.0.1", 0});
        if (port <= 0) return false;
        thread = std::thread([this] { server->run(); });
        return true;
    }
};

bench::Timed percentile95(Page& page) {
    httplib::Client client("127.0.0.1", page.port);
    client.set_keep_alive(true);
    std::vector<double> seconds;
    const bench::Stopwatch all;
    for (int i = 0; i < kRequests; ++i) {
        const auto start = std::chrono::steady_clock::now();
        auto res = client.Get("/api/line");
        if (!res || res->status != 200) return {-1, 0, 0, 0, 0};
        seconds.push_back(bench::secondsSince(start));
    }
    bench::Timed t = all.stop();
    std::sort(seconds.begin(), seconds.end());
    t.seconds = seconds[seconds.size() * 95 / 100];
    t.cpuSeconds /= kRequests;
    return t;
}

// The summaries of the whole line written into `location`, after a few
// records through `store`.
bool makeLine(records::RecordStore& store, const std::string& location) {
    const std::string now = records::utcTimeNow();
    if (!fillRecords(store, now) || !test::checkLineSummaries(location).empty()) return false;
    for (const auto& insert : summaryInserts(now))
        if (!test::runSql(location, insert).empty()) return false;
    return true;
}

bench::Timed sqliteLine() {
    static Page page;
    static const bool ready = [] {
        const auto file = bench::dataDir() / "line-page.sqlite";
        for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + end);
        std::string error;
        auto store = records::SqliteRecordStore::open(file, error);
        return store && makeLine(*store, file.string()) && page.start(file.string());
    }();
    return ready ? percentile95(page) : bench::Timed{-1, 0, 0, 0, 0};
}

bench::Timed postgresLine() {
    struct Line {
        test::PostgresServer server;
        Page page;  // stopped before the server
    };
    static Line line;
    static const bool ready = [] {
        if (!line.server.ready() || !line.server.start()) return false;
        std::string error;
        auto store = records::PostgresRecordStore::open(line.server.address(), error);
        return store && makeLine(*store, line.server.address()) &&
               line.page.start(line.server.address());
    }();
    return ready ? percentile95(line.page) : bench::Timed{-1, 0, 0, 0, 0};
}

// The same over generated records written one by one through the trigger
// (sonoprog_records_gen): a station file named by SONOPROG_RECORDS_FILE, a
// line's database by SONOPROG_RECORDS_DATABASE, SONOPROG_RECORDS_UNITS
// records each. The page's clock stands ten minutes after the last record.
bench::Timed generatedLine(const char* variable) {
    static std::map<std::string, std::unique_ptr<Page>> pages;
    const char* location = std::getenv(variable);
    if (!location || !*location) return {-1, 0, 0, 0, 0};
    auto& page = pages[variable];
    if (!page) {
        const char* units = std::getenv("SONOPROG_RECORDS_UNITS");
        const long long n = units && *units ? std::atoll(units) : 0;
        if (n <= 0) return {-1, 0, 0, 0, 0};
        const std::string now = records::timeAfter(bench::generatedRecord(n - 1).time, 600);
        page = std::make_unique<Page>();
        if (!page->start(location, [now] { return now; })) return {-1, 0, 0, 0, 0};
    }
    return percentile95(*page);
}

}  // namespace

SONOPROG_SCENARIO("line/api-line-generated-sqlite",
                  [] { return generatedLine("SONOPROG_RECORDS_FILE"); });
SONOPROG_SCENARIO("line/api-line-generated-postgresql",
                  [] { return generatedLine("SONOPROG_RECORDS_DATABASE"); });
SONOPROG_SCENARIO("line/api-line-sqlite", sqliteLine);
SONOPROG_SCENARIO("line/api-line-postgresql", postgresLine);
