#pragma once

#include <filesystem>
#include <string>

#include "records/RecordStore.h"

namespace sonoprog::bench {

// A line's records as the bench figures need them: ten stations on two
// shifts of eight hours, a thousand units an hour each, three jobs taking
// turns, about 3% failures over five fail lines, a reset of each job's
// counters at the start of every day, and a lot for each job and day. The same `n` always gives the
// same records (times, stations, results), apart from their random ids.
records::UnitRecord generatedRecord(long long index);

// Writes records 0..n-1 through the store's own insert statement, in
// transactions of `batch` (appendAll); false with `error` set on failure. A
// line's database takes small transactions: its summary rows are updated by
// every record, and a row updated many times in one transaction leaves a
// chain of versions that each later update walks.
bool generateRecords(records::RecordStore& store, long long n, std::string& error,
                     bool showProgress = false, long long batch = 100000);

// The same into a station file, fast: the file is made (or brought to the
// current schema) by the store, then the records go in through the store's
// own insert statement (its trigger keeping the summaries as for every
// record) on a connection of its own with a large cache, without waiting
// for the disk, a million to a transaction. For making files of millions of
// records; not how a station writes.
bool generateRecordsFast(const std::filesystem::path& file, long long n, std::string& error);

// The same into a line's database, fast: the database is made (or brought
// to the current schema) by the store, then the records go in through the
// store's own insert statement (its trigger keeping the summaries) on a
// connection of its own that sends a thousand records to a transaction
// without waiting for each answer, and does not wait for the disk at commit.
bool generateRecordsFastPostgres(const std::string& address, long long n, std::string& error);

// A station file as the program made it before the summaries (the units
// table alone) with `n` generated records: what an upgrade starts from.
bool generateUnitsOnlyFile(const std::filesystem::path& file, long long n, std::string& error);

}  // namespace sonoprog::bench
