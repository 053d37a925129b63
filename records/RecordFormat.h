#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "records/UnitRecord.h"

namespace sonoprog::records {

// The CSV export: a header row naming every field, then one row per record
// (RFC 4180 quoting; mirrored pages as mirroredText()). Rows end in CRLF.
// Cells are safe to open in a spreadsheet: one that would start a formula
// (=, +, -, @, tab, carriage return) begins with an apostrophe, control
// characters other than tab and line breaks are written as \xNN, and bytes
// that are not UTF-8 become U+FFFD.
std::string csvHeader();
std::string csvRow(const UnitRecord& record);
// The same row appended to `out` (the export streams into one buffer).
void appendCsvRow(std::string& out, const UnitRecord& record);

// The JSON export: one object per line (no line break inside), every field by
// the same names as the CSV header; "mirrored" is a list of {"page","spare"}.
std::string recordJsonLine(const UnitRecord& record);
// Reads such a line back; nullopt when it is not one.
std::optional<UnitRecord> recordFromJson(std::string_view line);

}  // namespace sonoprog::records
