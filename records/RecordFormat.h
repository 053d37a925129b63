#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "records/UnitRecord.h"

namespace sonoprog::records {

// The CSV export: a header row naming every field, then one row per record
// (RFC 4180 quoting; mirrored pages as mirroredText()). Rows end in CRLF.
std::string csvHeader();
std::string csvRow(const UnitRecord& record);

// The JSON export: one object per line (no line break inside), every field by
// the same names as the CSV header; "mirrored" is a list of {"page","spare"}.
std::string recordJsonLine(const UnitRecord& record);
// Reads such a line back; nullopt when it is not one.
std::optional<UnitRecord> recordFromJson(std::string_view line);

}  // namespace sonoprog::records
