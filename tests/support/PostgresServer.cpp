#include "tests/support/PostgresServer.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace sonoprog::test {

namespace {

constexpr const char* kUser = "sonoprog";
constexpr const char* kPort = "5432";  // names the socket file only

// The newest installed server's programs: /usr/lib/postgresql/<version>/bin.
std::filesystem::path serverPrograms() {
    std::filesystem::path best;
    int bestVersion = -1;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const auto bin = entry.path() / "bin";
        if (!std::filesystem::exists(bin / "initdb") || !std::filesystem::exists(bin / "pg_ctl"))
            continue;
        const int version = std::atoi(entry.path().filename().c_str());
        if (version > bestVersion) {
            bestVersion = version;
            best = bin;
        }
    }
    return best;
}

}  // namespace

PostgresServer::PostgresServer() {
    bin_ = serverPrograms();
    if (bin_.empty()) {
        problem_ = "no PostgreSQL server programs under /usr/lib/postgresql (package postgresql)";
        return;
    }
    char pattern[] = "/tmp/sonoprog-pg-XXXXXX";
    if (!::mkdtemp(pattern)) {
        problem_ = "cannot make a folder under /tmp";
        return;
    }
    dir_ = pattern;
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
            problem_ = "cannot hand " + dir_.string() + " to the user nobody";
            return;
        }
    }
    ::chmod(dir_.c_str(), 0700);
    if (runTool("initdb", {"-D", (dir_ / "data").string(), "-U", kUser, "-A", "trust", "--no-sync",
                           "-E", "UTF8", "--locale=C"}) != 0)
        problem_ = "initdb failed: " + log();
}

PostgresServer::~PostgresServer() {
    thaw();
    if (running_) stop();
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

int PostgresServer::runTool(const std::string& tool, const std::vector<std::string>& args) const {
    std::vector<std::string> argv;
    if (::geteuid() == 0) argv = {"/usr/sbin/runuser", "-u", "nobody", "--"};
    argv.push_back((bin_ / tool).string());
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string logFile = (dir_ / "tools.log").string();
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        // The server must not keep the test's standard output open: a test
        // runner waiting for it to close would wait for the server.
        const int fd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::close(fd);
        }
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, 0);
        if (::chdir(dir_.c_str()) != 0) ::_exit(126);
        ::setenv("LC_ALL", "C", 1);
        std::vector<char*> raw;
        for (auto& a : argv) raw.push_back(a.data());
        raw.push_back(nullptr);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool PostgresServer::start() {
    if (!ready()) return false;
    // Unix socket in the cluster's own folder, no TCP at all; fsync off: the
    // tests stop the server cleanly, and a cut power is not what they test.
    const std::string options =
        "-k " + dir_.string() + " -p " + kPort + " -c listen_addresses='' -c fsync=off";
    running_ =
        runTool("pg_ctl", {"-D", (dir_ / "data").string(), "-l", (dir_ / "server.log").string(),
                           "-w", "-t", "60", "-o", options, "start"}) == 0;
    return running_;
}

bool PostgresServer::stop() {
    if (!ready()) return false;
    const bool stopped = runTool("pg_ctl", {"-D", (dir_ / "data").string(), "-m", "fast", "-w",
                                            "-t", "60", "stop"}) == 0;
    if (stopped) running_ = false;
    return stopped;
}

bool PostgresServer::signalAll(bool stop) {
    if (!stop) {
        bool all = true;
        for (int pid : frozen_) all = ::kill(pid, SIGCONT) == 0 && all;
        frozen_.clear();
        return all;
    }
    // The postmaster (first line of its pid file), then its children, read
    // from /proc: the postmaster first, so that it makes no new ones meanwhile.
    std::ifstream pidFile(dir_ / "data" / "postmaster.pid");
    int postmaster = 0;
    if (!(pidFile >> postmaster) || postmaster <= 0 || ::kill(postmaster, SIGSTOP) != 0)
        return false;
    frozen_.push_back(postmaster);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const int pid = std::atoi(entry.path().filename().c_str());
        if (pid <= 0) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // "pid (name) state ppid ...": the name may hold blanks, so from its ')'.
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        int parent = 0;
        if (rest >> state >> parent && parent == postmaster && ::kill(pid, SIGSTOP) == 0)
            frozen_.push_back(pid);
    }
    return true;
}

std::string PostgresServer::address() const {
    return "postgresql:///postgres?host=" + dir_.string() + "&port=" + kPort + "&user=" + kUser;
}

std::string PostgresServer::log() const {
    std::string all;
    for (const char* name : {"tools.log", "server.log"}) {
        std::ifstream in(dir_ / name);
        std::stringstream text;
        text << in.rdbuf();
        all += text.str();
    }
    return all;
}

}  // namespace sonoprog::test
