// The records at a line's volume: the cost of one unit's records (append and
// counters, as the loop pays it) on a large file against an empty one,
// `records summary`, the CSV export's rate and memory, and the upgrade of a
// file made before the summaries.
//
// The large file has SONOPROG_RECORDS_UNITS generated records (default
// 100,000, so that a bench run stays short); it is made once in the bench
// data folder, or named by SONOPROG_RECORDS_FILE (a file made with
// sonoprog_records_gen, e.g. 10,000,000 records in /tmp).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "bench/BenchSupport.h"
#include "bench/RecordsGenerator.h"
#include "records/RecordFormat.h"
#include "records/SqliteRecordStore.h"

namespace sonoprog {
namespace {

constexpr int kUnits = 50;  // one sample of the per-unit cost

long long largeUnits() {
    const char* n = std::getenv("SONOPROG_RECORDS_UNITS");
    return n && *n ? std::atoll(n) : 100000;
}

std::unique_ptr<records::SqliteRecordStore> openFile(const std::filesystem::path& file) {
    std::string error;
    auto store = records::SqliteRecordStore::open(file, error);
    if (!store) bench::fatal(error);
    return store;
}

std::filesystem::path largeFile() {
    if (const char* named = std::getenv("SONOPROG_RECORDS_FILE"); named && *named) return named;
    const auto file = bench::dataDir() / ("records-" + std::to_string(largeUnits()) + ".sqlite");
    if (!std::filesystem::exists(file)) {
        const auto partial = file.string() + ".new";
        std::filesystem::remove(partial);
        std::string error;
        {
            auto store = openFile(partial);
            if (!bench::generateRecords(*store, largeUnits(), error)) bench::fatal(error);
        }
        std::filesystem::rename(partial, file);
    }
    return file;
}

// What the loop does per unit: append its record, read the job's counters.
bench::Timed units(records::RecordStore& store) {
    auto r = bench::generatedRecord(largeUnits() + 1);
    const bench::Stopwatch watch;
    for (int i = 0; i < kUnits; ++i) {
        r.id = records::newRecordId();
        if (!store.append(r)) bench::fatal(store.lastError());
        store.counters(r.jobSha256);
    }
    return watch.stop();
}

// A station opens its records once per run and then pays per unit, so the
// figure keeps each store open across samples, and a warm-up of one sample
// first reads the upper levels of the file's indexes. The first units after
// opening are shown on their own (`units-large-cold`).
records::RecordStore& openedOnce(const std::filesystem::path& file) {
    static std::map<std::filesystem::path, std::unique_ptr<records::SqliteRecordStore>> stores;
    auto& store = stores[file];
    if (!store) {
        store = openFile(file);
        units(*store);
    }
    return *store;
}

bench::Timed unitsOnEmptyFile() {
    static const auto file = [] {
        const auto f = bench::dataDir() / "records-empty.sqlite";
        for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(f.string() + end);
        return f;
    }();
    return units(openedOnce(file));
}

bench::Timed unitsOnLargeFile() {
    return units(openedOnce(largeFile()));
}

bench::Timed unitsOnLargeFileJustOpened() {
    auto store = openFile(largeFile());
    return units(*store);
}

bench::Timed summary() {
    auto store = openFile(largeFile());
    const bench::Stopwatch watch;
    if (!store->summary(std::nullopt)) bench::fatal(store->lastError());
    return watch.stop();
}

// The export as `records --csv` streams it, into /dev/null.
bench::Timed csv() {
    auto store = openFile(largeFile());
    std::FILE* out = std::fopen("/dev/null", "wb");
    std::string buffer = records::csvHeader();
    long long rows = 0;
    const bench::Stopwatch watch;
    const bool ok = store->forEach({}, [&](const records::UnitRecord& r) {
        records::appendCsvRow(buffer, r);
        if (buffer.size() >= (1 << 16)) {
            std::fwrite(buffer.data(), 1, buffer.size(), out);
            buffer.clear();
        }
        ++rows;
        return true;
    });
    std::fwrite(buffer.data(), 1, buffer.size(), out);
    bench::Timed t = watch.stop();
    std::fclose(out);
    if (!ok) bench::fatal(store->lastError());
    std::fprintf(stderr, "records/csv: %lld rows, %.0f rows/s\n", rows, rows / t.seconds);
    return t;
}

// A copy of a file made before the summaries, opened (and so upgraded).
bench::Timed upgrade() {
    const long long n = largeUnits();
    const auto original = bench::dataDir() / ("records-v1-" + std::to_string(n) + ".sqlite");
    std::string error;
    if (!std::filesystem::exists(original) && !bench::generateUnitsOnlyFile(original, n, error))
        bench::fatal(error);
    const auto copy = bench::dataDir() / "records-v1-copy.sqlite";
    for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(copy.string() + end);
    std::filesystem::copy_file(original, copy);
    bench::warmPageCache(copy);
    const bench::Stopwatch watch;
    openFile(copy);
    return watch.stop();
}

}  // namespace
}  // namespace sonoprog

SONOPROG_SCENARIO("records/units-empty", sonoprog::unitsOnEmptyFile);
SONOPROG_SCENARIO("records/units-large", sonoprog::unitsOnLargeFile);
SONOPROG_SCENARIO("records/units-large-cold", sonoprog::unitsOnLargeFileJustOpened);
SONOPROG_SCENARIO("records/summary", sonoprog::summary);
SONOPROG_SCENARIO("records/csv", sonoprog::csv);
SONOPROG_SCENARIO("records/upgrade", sonoprog::upgrade);
