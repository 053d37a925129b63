#include "records/RecordStore.h"

#include <system_error>

#include "core/AppPaths.h"
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

std::unique_ptr<RecordStore> openRecordStore(const std::string& location, std::string& error) {
    if (location.empty()) {
        error = "no records file: neither XDG_STATE_HOME nor HOME is set";
        return nullptr;
    }
    const std::filesystem::path file(location);
    if (file.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
    }
    return SqliteRecordStore::open(file, error);
}

}  // namespace sonoprog::records
