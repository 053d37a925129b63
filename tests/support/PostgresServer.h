#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace sonoprog::test {

// A throw-away PostgreSQL cluster for one test: made with the system's
// initdb in a fresh folder under /tmp, run with pg_ctl on a Unix socket in
// that folder only (no TCP port), as the unprivileged user "nobody" when the
// tests run as root (the server refuses to run as root). Stopped and removed
// with the object.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // False when the cluster could not be made; problem() says why.
    bool ready() const { return problem_.empty(); }
    const std::string& problem() const { return problem_; }

    // Starts or stops the server, waiting until it accepts connections or has
    // gone (a fast stop: open connections are cut, as a crash of the line's
    // server would cut them).
    bool start();
    bool stop();
    bool running() const { return running_; }
    // Stops every process of the running server (SIGSTOP) or lets them go on
    // (SIGCONT): a server that takes connections and statements and never
    // answers, as a hung host or a network cut without a reset looks.
    bool freeze() { return signalAll(true); }
    bool thaw() { return signalAll(false); }

    // postgresql://...: the database a store connects to.
    std::string address() const;
    // The server's log, for a failure message.
    std::string log() const;

private:
    bool signalAll(bool stop);
    // Runs a server program (as "nobody" when root); its exit status.
    int runTool(const std::string& tool, const std::vector<std::string>& args) const;

    std::filesystem::path bin_;
    std::filesystem::path dir_;
    std::string problem_;
    bool running_ = false;
    std::vector<int> frozen_;
};

}  // namespace sonoprog::test
