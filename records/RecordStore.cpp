#include "records/RecordStore.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "core/AppPaths.h"
#include "records/LineRecordStore.h"
#include "records/SqliteRecordStore.h"

namespace sonoprog::records {

Counters countSinceReset(const std::vector<UnitRecord>& jobRecords) {
    Counters counters;
    for (const auto& r : jobRecords) {
        if (r.result == kResultReset)
            counters = {};
        else if (r.result == kResultPass)
            ++counters.passed;
        else if (r.result == kResultFail)
            ++counters.failed;
    }
    return counters;
}

std::vector<JobSummary> summariseRecords(const std::vector<UnitRecord>& records) {
    std::vector<JobSummary> jobs;
    std::map<std::string, std::size_t> index;
    for (const auto& r : records) {
        auto [it, fresh] = index.emplace(r.jobSha256, jobs.size());
        if (fresh) jobs.push_back({r.jobName, r.jobSha256, {}, {}});
        JobSummary& j = jobs[it->second];
        j.jobName = r.jobName;
        if (r.result == kResultReset) {
            j.counters = {};
            j.failures.clear();
        } else if (r.result == kResultPass) {
            ++j.counters.passed;
        } else {
            ++j.counters.failed;
            auto f = std::find_if(j.failures.begin(), j.failures.end(),
                                  [&](const FailureCount& c) { return c.failLine == r.failLine; });
            if (f == j.failures.end())
                j.failures.push_back({r.failLine, 1});
            else
                ++f->count;
        }
    }
    return jobs;
}

bool RecordStore::appendAll(const std::vector<UnitRecord>& records) {
    for (const auto& r : records)
        if (!append(r)) return false;
    return true;
}

bool RecordStore::forEach(const RecordQuery& q, const RecordSink& sink) {
    lastError_.clear();
    const auto all = query(q);
    if (!lastError_.empty()) return false;
    for (const auto& r : all)
        if (!sink(r)) break;
    return true;
}

std::optional<std::vector<JobSummary>> RecordStore::summary(
    const std::optional<std::string>& jobSha256) {
    lastError_.clear();
    RecordQuery q;
    q.jobSha256 = jobSha256;
    const auto all = query(q);
    if (!lastError_.empty()) return std::nullopt;
    return summariseRecords(all);
}

std::optional<std::vector<SocketCount>> RecordStore::socketCounts(
    const std::optional<std::string>&) {
    lastError_ = "the records at " + location() + " keep no socket counts";
    return std::nullopt;
}

bool RecordStore::resetSocket(const std::string&) {
    lastError_ = "the records at " + location() + " keep no socket counts";
    return false;
}

bool resetCounters(RecordStore& store, UnitRecord base) {
    base.id = newRecordId();
    base.time = utcTimeNow();
    base.result = std::string(kResultReset);
    base.failingStep.clear();
    base.failLine.clear();
    base.durationMs = 0;
    base.pgmLog.clear();
    base.vrfLog.clear();
    base.mirrored.clear();
    return store.append(base);
}

std::filesystem::path defaultRecordsPath(const char* xdgStateHome, const char* home) {
    const auto state = core::userStateDir(xdgStateHome, home);
    if (state.empty()) return {};
    return state / "sonoprog" / "records.sqlite";
}

namespace {

std::unique_ptr<RecordStore> openFile(const std::filesystem::path& file, std::string& error,
                                      const OpenOptions& options) {
    if (file.empty()) {
        error = "no records file: neither XDG_STATE_HOME nor HOME is set";
        return nullptr;
    }
    if (options.mustExist) {
        std::error_code ec;
        if (!std::filesystem::exists(file, ec)) {
            error = "no records file " + file.string() + ": it does not exist";
            return nullptr;
        }
    } else if (file.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
    }
    return SqliteRecordStore::open(file, error, options);
}

}  // namespace

std::unique_ptr<RecordStore> openRecordStore(const std::string& location,
                                             const std::filesystem::path& stationFile,
                                             std::string& error, const OpenOptions& options) {
    if (location.empty()) return openFile(stationFile, error, options);
    if (!isServerAddress(location)) return openFile(location, error, options);
    if (stationFile.empty()) {
        error = "no records file for the records waiting for " + addressForDisplay(location) +
                ": neither XDG_STATE_HOME nor HOME is set";
        return nullptr;
    }
    if (stationFile.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(stationFile.parent_path(), ec);
    }
    return LineRecordStore::open(location, stationFile, error, options.progress, options.stop);
}

void setStopFlag(RecordStore& store, const std::atomic<bool>& stop) {
    if (auto* line = dynamic_cast<LineRecordStore*>(&store)) line->setStopFlag(&stop);
}

long long recordsWaiting(RecordStore& store) {
    auto* line = dynamic_cast<LineRecordStore*>(&store);
    return line ? line->waiting() : 0;
}

}  // namespace sonoprog::records
