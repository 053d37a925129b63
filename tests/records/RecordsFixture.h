#pragma once

#include <string>

#include "records/UnitRecord.h"

namespace sonoprog::test {

// A record with every field set to a distinct value, so a store that drops or
// swaps a column fails the comparison.
inline records::UnitRecord fullRecord(const std::string& id, const std::string& time,
                                      std::string_view result = records::kResultFail) {
    records::UnitRecord r;
    r.id = id;
    r.time = time;
    r.station = "bench-07";
    r.operatorName = "Ana, \"night\" shift";
    r.jobName = "Greeting chip v2";
    r.jobSha256 = std::string(64, 'a');
    r.imageSha256 = std::string(64, 'b');
    r.imageCheckSum = "0012AB9F";
    r.target = "tarn20";
    r.device = "";
    r.writer = "usb:1-1.3 serial=W0042";
    r.result = std::string(result);
    r.failingStep = result == records::kResultFail ? "  -> Program chip..." : "";
    r.failLine = result == records::kResultFail ? "Failed at page 0x000120!\nsecond" : "";
    r.durationMs = 12345;
    r.pgmLog = "/tmp/Temp/PGM_20261208-1011.log";
    r.vrfLog = "/tmp/Temp/VRF_20261208-1011.log";
    r.mirrored = {{0x120, 0xF000}, {0x300, 0xF001}};
    return r;
}

}  // namespace sonoprog::test
