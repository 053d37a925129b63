#pragma once

namespace sonoprog::records {

// The record's columns in the order every store selects and inserts them
// (the station's file and the line's database keep the same table).
inline constexpr const char* kRecordColumns =
    "id, time, station, operator, job_name, job_sha256, image_sha256, image_checksum, target, "
    "device, writer, result, failing_step, fail_line, duration_ms, pgm_log, vrf_log, mirrored, "
    "lot";

// The columns of the first version's units table: kRecordColumns without
// those added since.
inline constexpr const char* kFirstRecordColumns =
    "id, time, station, operator, job_name, job_sha256, image_sha256, image_checksum, target, "
    "device, writer, result, failing_step, fail_line, duration_ms, pgm_log, vrf_log, mirrored";

}  // namespace sonoprog::records
