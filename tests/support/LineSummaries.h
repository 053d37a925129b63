#pragma once

#include <filesystem>
#include <string>

namespace sonoprog::test {

// Checks that the records keep the line page's summary tables (unit_hours,
// job_counters) and refreshes the planner's statistics on them after a
// fixture filled them. Empty on success, else the database's message.
std::string checkLineSummaries(const std::filesystem::path& stationFile);
std::string checkLineSummaries(const std::string& location);  // a path or an address

// Runs statements on a station's file (a path) or the line's database (a
// postgresql:// address). Empty on success, else the database's message.
std::string runSql(const std::string& location, const std::string& sql);

// Makes a login role of the database that may only read the units and the
// summaries (as the README tells a line to do for the page). Empty on success.
std::string addReadOnlyRole(const std::string& serverAddress, const std::string& role);

}  // namespace sonoprog::test
