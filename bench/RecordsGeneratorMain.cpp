// sonoprog_records_gen N FILE|postgresql://... [--units-only|--fast]
// Writes N generated unit records (see RecordsGenerator.h) into a station
// file or a line's database through the store's own insert statement; with
// --fast, through the same statement on a connection that does not wait for
// the disk (and, to a line's database, for each answer); with --units-only,
// a station file of the schema before the summaries.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/RecordsGenerator.h"
#include "records/PostgresRecordStore.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s N FILE|postgresql://... [--units-only|--fast]\n", argv[0]);
        return 2;
    }
    const long long n = std::atoll(argv[1]);
    const std::string location = argv[2];
    const bool unitsOnly = argc > 3 && std::strcmp(argv[3], "--units-only") == 0;
    const bool fast = argc > 3 && std::strcmp(argv[3], "--fast") == 0;
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    bool ok;
    if (unitsOnly) {
        ok = sonoprog::bench::generateUnitsOnlyFile(location, n, error);
    } else if (fast) {
        ok = sonoprog::records::isServerAddress(location)
                 ? sonoprog::bench::generateRecordsFastPostgres(location, n, error)
                 : sonoprog::bench::generateRecordsFast(location, n, error);
    } else {
        // The line's database itself, not a station sending on to it.
        std::unique_ptr<sonoprog::records::RecordStore> store;
        if (sonoprog::records::isServerAddress(location))
            store = sonoprog::records::PostgresRecordStore::open(location, error);
        else
            store = sonoprog::records::openRecordStore(location, {}, error);
        ok = store && sonoprog::bench::generateRecords(
                          *store, n, error, true,
                          sonoprog::records::isServerAddress(location) ? 1000 : 100000);
    }
    if (!ok) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "%lld records in %.1f s\n", n,
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}
