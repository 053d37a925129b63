#include <chrono>
#include <cstdlib>
#include <thread>

#include "cli/Commands.h"
#include "cli/LineServer.h"
#include "cli/StopSignals.h"
#include "core/IniFile.h"
#include "records/LineQueries.h"
#include "records/RecordStore.h"

namespace sonoprog::cli {

namespace {

constexpr const char* kDefaultListen = "127.0.0.1:8080";

}  // namespace

int runServe(Session& s) {
    const Invocation& inv = s.invocation();
    const std::string listenText = inv.text("listen").value_or(kDefaultListen);
    const auto listen = parseListenAddress(listenText);
    if (!listen) {
        s.error("'--listen " + listenText + "': expected ADDRESS:PORT, such as " + kDefaultListen +
                " or 0.0.0.0:8080");
        return kExitUsage;
    }
    // --records, else Setup.ini's [Records] Database, else the station's own file.
    std::string location =
        inv.records ? *inv.records
                    : core::IniFile::load(s.paths().setupIni()).readString("Records", "Database");
    if (location.empty())
        location = records::defaultRecordsPath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"))
                       .string();
    // Ctrl+C ends every wait on the records, a database that does not answer included.
    StopSignals signals;
    const auto stopped = [] { return gStopRequested.load(); };
    std::string error;
    auto queries = records::LineQueries::open(location, error, stopped);
    if (!queries) {
        if (stopped()) return kExitStopped;
        s.error(locationForDisplay(location) + ": " + error);
        return kExitFailed;
    }

    LineServer server(std::move(queries), records::utcTimeNow);
    const int port = server.bind(*listen);
    if (port < 0) {
        s.error("cannot listen on " + listenText +
                " (the port is taken, or the address is not one of this machine)");
        return kExitFailed;
    }
    const bool v6 = listen->host.find(':') != std::string::npos;
    const std::string address = "http://" + (v6 ? "[" + listen->host + "]" : listen->host) + ":" +
                                std::to_string(port) + "/";
    std::fprintf(s.out(), "The line page: %s (records: %s). Ctrl+C stops it.\n", address.c_str(),
                 locationForDisplay(location).c_str());
    std::fflush(s.out());

    std::thread answering([&server] { server.run(); });
    while (!gStopRequested.load()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    answering.join();
    return kExitPassed;
}

}  // namespace sonoprog::cli
