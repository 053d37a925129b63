#pragma once

#include <filesystem>
#include <string>

namespace sonoprog::test {

// Makes the line page's summary tables (unit_hours, job_counters) and fills
// them from the units already recorded, in one go: what the records keep up
// to date unit by unit, built here for a file or database the tests filled.
// Empty on success, else the database's message.
std::string addLineSummaries(const std::filesystem::path& stationFile);
std::string addLineSummaries(const std::string& location);  // a path or an address

// Runs statements on a station's file (a path) or the line's database (a
// postgresql:// address). Empty on success, else the database's message.
std::string runSql(const std::string& location, const std::string& sql);

// Makes a login role of the database that may only read the units and the
// summaries (as the README tells a line to do for the page). Empty on success.
std::string addReadOnlyRole(const std::string& serverAddress, const std::string& role);

}  // namespace sonoprog::test
