#include "records/SocketCounts.h"

#include <algorithm>
#include <cstdlib>

namespace sonoprog::records {

bool countSockets(SqlConnection& db, const char* trigger) {
    return db.exec("DELETE FROM sockets") &&
           db.exec(
               "INSERT INTO sockets (writer, insertions, reset_time) SELECT writer, COUNT(*), "
               "'' FROM units WHERE result <> 'reset' GROUP BY writer") &&
           db.exec(trigger);
}

std::optional<std::vector<SocketCount>> readSocketCounts(SqlConnection& db,
                                                         const std::optional<std::string>& writer) {
    std::vector<SocketCount> counts;
    std::vector<std::string> params;
    if (writer) params.push_back(*writer);
    if (!db.rows(std::string("SELECT writer, insertions, reset_time FROM sockets") +
                     (writer ? " WHERE writer = $1" : ""),
                 params, [&](const SqlConnection::Row& row) {
                     counts.push_back({row[0], std::strtoll(row[1].c_str(), nullptr, 10), row[2]});
                 }))
        return std::nullopt;
    // By the bytes of the Writer's name, whatever the database's collation.
    std::sort(counts.begin(), counts.end(),
              [](const SocketCount& x, const SocketCount& y) { return x.writer < y.writer; });
    return counts;
}

bool resetSocketCount(SqlConnection& db, const std::string& writer) {
    const std::string time = utcTimeNow();
    return db.rows(
               "INSERT INTO socket_resets (id, time, station, writer, insertions) SELECT $1, "
               "$2, $3, $4, COALESCE((SELECT insertions FROM sockets WHERE writer = $4), 0) "
               "RETURNING insertions",
               {newRecordId(), time, stationName(), writer}, [](const auto&) {}) &&
           db.rows(
               "INSERT INTO sockets (writer, insertions, reset_time) VALUES ($1, 0, $2) ON "
               "CONFLICT (writer) DO UPDATE SET insertions = 0, reset_time = "
               "excluded.reset_time RETURNING insertions",
               {writer, time}, [](const auto&) {});
}

}  // namespace sonoprog::records
