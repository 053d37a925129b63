#include "records/RecordStore.h"

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

std::unique_ptr<RecordStore> openFile(const std::filesystem::path& file, std::string& error) {
    if (file.empty()) {
        error = "no records file: neither XDG_STATE_HOME nor HOME is set";
        return nullptr;
    }
    if (file.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
    }
    return SqliteRecordStore::open(file, error);
}

}  // namespace

std::unique_ptr<RecordStore> openRecordStore(const std::string& location,
                                             const std::filesystem::path& stationFile,
                                             std::string& error) {
    if (location.empty()) return openFile(stationFile, error);
    if (!isServerAddress(location)) return openFile(location, error);
    if (stationFile.empty()) {
        error = "no records file for the records waiting for " + addressForDisplay(location) +
                ": neither XDG_STATE_HOME nor HOME is set";
        return nullptr;
    }
    if (stationFile.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(stationFile.parent_path(), ec);
    }
    return LineRecordStore::open(location, stationFile, error);
}

void setStopFlag(RecordStore& store, const std::atomic<bool>& stop) {
    if (auto* line = dynamic_cast<LineRecordStore*>(&store)) line->setStopFlag(&stop);
}

long long recordsWaiting(RecordStore& store) {
    auto* line = dynamic_cast<LineRecordStore*>(&store);
    return line ? line->waiting() : 0;
}

}  // namespace sonoprog::records
