#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "records/LineQueries.h"

namespace sonoprog::cli {

// Where a --listen value says to listen: "127.0.0.1:8080", "0.0.0.0:8080",
// "[::1]:8080". Port 0 takes any free port.
struct ListenAddress {
    std::string host;
    int port = 0;
};
std::optional<ListenAddress> parseListenAddress(const std::string& text);

// A records location fit to show: a database address loses its password
// (in the address and in a password= parameter); a file path stays.
std::string locationForDisplay(const std::string& location);

// The line page: a read-only web server over the records. It answers GET and
// HEAD on its own fixed paths only: the page and its files (all inside the
// program), /api/line and /api/units. Any other method gets 405, any other
// path 404; nothing is ever read from the disk.
class LineServer {
public:
    // `now` gives the current time as the records write it.
    LineServer(std::unique_ptr<records::LineQueries> queries, std::function<std::string()> now);
    ~LineServer();
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    // The port now listened on, or -1 when the address cannot be had.
    int bind(const ListenAddress& address);
    // Answers requests until stop() (from another thread).
    void run();
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sonoprog::cli
