#include "cli/GangRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>

#include "cli/Session.h"
#include "cli/StopSignals.h"
#include "core/InheritedText.h"
#include "core/LineSafe.h"
#include "production/ProductionLoop.h"
#include "production/WorkerLines.h"

namespace sonoprog::cli {

namespace {

using Json = nlohmann::ordered_json;
// A worker's line may carry any bytes; a dump never throws on them.
constexpr auto kReplace = nlohmann::json::error_handler_t::replace;

// ---- the workers ----

struct Worker {
    GangMember member;
    pid_t pid = -1;
    int out = -1;  // read ends of its standard output and error; -1 once at their end
    int err = -1;
    production::LineSplitter outLines;
    production::LineSplitter errLines;
    production::LoopResult counted;  // from its unit objects
    bool sawTotal = false;
    bool ended = false;
    int waitStatus = 0;
    std::chrono::steady_clock::time_point stopSent{};
    bool running() const { return out >= 0 || err >= 0; }
};

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// The program itself, standard input from /dev/null, standard output and
// error on pipes. SIGINT is ignored until the worker's own loop takes it
// over, so that a stop arriving while it starts never kills it half-way;
// the parent sends the stop again until the worker has ended.
bool startWorker(Worker& w, const std::vector<std::string>& args, int inheritedFd,
                 std::string& error) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return false;
    }
    std::vector<std::string> store = {"sonoprog-cli"};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (in < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(outPipe[1], STDOUT_FILENO) < 0 ||
            ::dup2(errPipe[1], STDERR_FILENO) < 0)
            ::_exit(127);
        ::signal(SIGINT, SIG_IGN);
        ::signal(SIGTERM, SIG_DFL);
        // A gang whose parent is gone stops as if interrupted: no worker
        // programs on unseen, and none dies of the closed pipe in the middle
        // of a unit (its output is lost then, its unit and record are not).
        ::signal(SIGPIPE, SIG_IGN);
        ::prctl(PR_SET_PDEATHSIG, SIGINT);
        if (::getppid() != parent) ::_exit(127);
        if (inheritedFd >= 0 && !core::keepAcrossExec(inheritedFd)) ::_exit(127);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    const int forkErrno = errno;
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (pid < 0) {
        error = std::strerror(forkErrno);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return false;
    }
    w.pid = pid;
    w.out = outPipe[0];
    w.err = errPipe[0];
    return true;
}

std::string endedText(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) return "signal " + std::to_string(WTERMSIG(waitStatus));
    return "exit status " + std::to_string(WEXITSTATUS(waitStatus));
}

// Merges what the workers print into the gang's output.
class GangOutput {
public:
    GangOutput(bool json, std::FILE* out, std::FILE* err, std::optional<long long> quantity = {})
        : json_(json), out_(out), err_(err), quantity_(quantity) {}

    // The lot's quantity has passed, over all the Writers.
    bool quantityReached() const { return quantity_ && passed_ >= *quantity_; }

    void outLine(Worker& w, const std::string& line) {
        Json object = Json::parse(line, nullptr, false);
        if (!object.is_object()) {
            // No object: something other than the worker's own output.
            print(out_,
                  json_
                      ? tagged(w, {{"kind", "text"}, {"text", line}}).dump(-1, ' ', false, kReplace)
                      : prefix(w) + core::lineSafe(line));
            return;
        }
        using Kind = production::WorkerKind;
        const auto read = production::readWorkerLine(line);
        if (read && read->kind == Kind::Total) {
            w.sawTotal = true;  // the totals come at the end, from the units counted
            return;
        }
        // The gang closes with its own result; a worker's would be one of several.
        if (read && read->kind == Kind::Result) return;
        if (read && read->kind == Kind::Unit) {
            (read->unit.passed ? w.counted.passed : w.counted.failed) += 1;
            passed_ += read->unit.passed ? 1 : 0;
            // What remains is the gang's, not the one worker's.
            const long long remaining = quantity_ ? std::max(0LL, *quantity_ - passed_) : 0;
            if (quantity_) object["remaining"] = remaining;
            print(out_, json_ ? tagged(w, object).dump(-1, ' ', false, kReplace)
                              : prefix(w) + production::unitSummaryLine(read->unit));
            if (quantity_ && !json_) print(out_, production::remainingLine(remaining, *quantity_));
            return;
        }
        // The operations' own lines and gauges: for a front end that shows
        // them per Writer; interleaved as text they would only be noise.
        if (json_) print(out_, tagged(w, object).dump(-1, ' ', false, kReplace));
    }

    void errLine(Worker& w, const std::string& line) {
        Json object = Json::parse(line, nullptr, false);
        if (json_) {
            if (!object.is_object()) object = Json{{"kind", "error"}, {"text", line}};
            print(err_, tagged(w, object).dump(-1, ' ', false, kReplace));
            return;
        }
        // A worker's message may quote a file or job name: as text, no line of it forges one.
        if (object.is_object() && object.contains("text") && object["text"].is_string())
            print(err_, prefix(w) + core::lineSafe(object["text"].get<std::string>()));
        else
            print(err_, prefix(w) + core::lineSafe(line));
    }

    void workerEnded(const Worker& w) {
        const std::string text = "worker ended: " + endedText(w.waitStatus);
        print(err_,
              json_ ? tagged(w, {{"kind", "error"}, {"text", text}}).dump(-1, ' ', false, kReplace)
                    : prefix(w) + text);
    }

    void totals(const std::vector<Worker>& workers) {
        production::LoopResult all;
        for (const auto& w : workers) {
            all.passed += w.counted.passed;
            all.failed += w.counted.failed;
        }
        print(out_, json_ ? production::totalJson(all) : production::totalLine(all));
        for (const auto& w : workers)
            print(out_, json_ ? tagged(w, Json::parse(production::totalJson(w.counted)))
                                    .dump(-1, ' ', false, kReplace)
                              : prefix(w) + production::totalLine(w.counted));
    }

private:
    static std::string prefix(const Worker& w) { return "[" + core::lineSafe(w.member.id) + "] "; }
    // The worker's object with "writer" after its "kind".
    static Json tagged(const Worker& w, const Json& object) {
        Json result;
        if (object.contains("kind")) result["kind"] = object["kind"];
        result["writer"] = w.member.writer;
        for (const auto& [key, value] : object.items())
            if (key != "kind" && key != "writer") result[key] = value;
        return result;
    }
    static void print(std::FILE* to, const std::string& line) {
        std::fprintf(to, "%s\n", line.c_str());
        std::fflush(to);
    }

    bool json_;
    std::FILE* out_;
    std::FILE* err_;
    std::optional<long long> quantity_;
    long long passed_ = 0;
};

// Reads what is there; whole lines go to `line`, the rest waits for more.
// False at the end of the pipe (the rest, if any, passed on as a line).
template <typename LineFn>
bool readLines(int fd, production::LineSplitter& lines, LineFn line) {
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) {
        if (auto rest = lines.finish()) line(*rest);
        return false;
    }
    lines.feed(std::string_view(buffer, static_cast<std::size_t>(n)),
               [&](std::string_view whole) { line(std::string(whole)); });
    return true;
}

// While a stop is asked for: SIGINT to every worker not yet at its end, again
// each second for one that was still starting when it came.
void forwardStop(std::vector<Worker>& workers) {
    const auto now = std::chrono::steady_clock::now();
    for (auto& w : workers) {
        if (!w.running() || now - w.stopSent < std::chrono::seconds(1)) continue;
        ::kill(w.pid, SIGINT);
        w.stopSent = now;
    }
}

void reap(Worker& w) {
    while (::waitpid(w.pid, &w.waitStatus, 0) < 0 && errno == EINTR) {
    }
    w.ended = true;
}

bool endedBadly(const Worker& w) {
    return WIFSIGNALED(w.waitStatus) || !w.sawTotal;
}

void pump(std::vector<Worker>& workers, GangOutput& output) {
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<std::pair<Worker*, bool>> owners;  // worker, standard output?
        for (auto& w : workers) {
            if (w.out >= 0) {
                fds.push_back({w.out, POLLIN, 0});
                owners.emplace_back(&w, true);
            }
            if (w.err >= 0) {
                fds.push_back({w.err, POLLIN, 0});
                owners.emplace_back(&w, false);
            }
        }
        if (fds.empty()) return;
        if (gStopRequested.load() || output.quantityReached()) forwardStop(workers);
        const int ready = ::poll(fds.data(), fds.size(), 200);
        if (ready <= 0) continue;  // a signal or the time-out: look at the stop again
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Worker& w = *owners[i].first;
            const bool isOut = owners[i].second;
            int& fd = isOut ? w.out : w.err;
            production::LineSplitter& lines = isOut ? w.outLines : w.errLines;
            const bool open = readLines(fd, lines, [&](const std::string& line) {
                isOut ? output.outLine(w, line) : output.errLine(w, line);
            });
            if (!open) closeFd(fd);
            // Both pipes at their end: the worker has ended (or is about to).
            if (!w.running() && !w.ended) {
                reap(w);
                if (endedBadly(w)) output.workerEnded(w);
            }
        }
    }
}

}  // namespace

namespace {

// The gang's own options, passed on to each worker.
std::vector<std::string> workerArguments(const Invocation& inv, const std::string& writer,
                                         int recordsFd) {
    production::WorkerCommand command;
    command.writer = writer;
    command.jobPath = inv.arguments.at(0);
    command.recordsFd = inv.records ? recordsFd : -1;
    command.setup = inv.setup.value_or("");
    command.tempFolder = inv.temp.value_or("");
    command.yes = inv.yes;
    command.units = inv.number("units");
    command.operatorName = inv.text("operator").value_or("");
    command.quantity = inv.number("quantity");
    command.stopAfterFails = inv.number("stop-after-fails");
    command.lot = inv.text("lot");
    return production::workerArguments(command);
}

}  // namespace

int runGang(Session& s) {
    const Invocation& inv = s.invocation();
    std::vector<link::usb::AttachedWriter> attached;
    if (production::listNeedsUsbWriters(*inv.writers)) attached = production::attachedUsbWriters();
    std::string error;
    const auto members = gangMembers(*inv.writers, attached, error);
    if (!members) {
        s.error(error);
        return kExitUsage;
    }

    StopSignals signals;
    std::optional<long long> quantity;
    if (auto n = inv.number("quantity")) quantity = static_cast<long long>(*n);
    GangOutput output(inv.json, s.out(), stderr, quantity);
    std::vector<Worker> workers;
    workers.reserve(members->size());
    for (const auto& m : *members) {
        Worker w;
        w.member = m;
        // Each worker its own copy of the records location, read once.
        const int recordsFd = inv.records ? core::inheritedTextPipe(*inv.records) : -1;
        bool started = false;
        if (inv.records && recordsFd < 0)
            error = "the records location cannot be handed over";
        else
            started = startWorker(w, workerArguments(inv, m.writer, recordsFd), recordsFd, error);
        if (recordsFd >= 0) ::close(recordsFd);
        if (!started) {
            s.error("the worker for " + m.writer + " could not be started: " + error);
            continue;
        }
        workers.push_back(std::move(w));
    }
    const bool allStarted = workers.size() == members->size();
    pump(workers, output);

    bool bad = !allStarted;
    for (auto& w : workers) {
        if (endedBadly(w) || WEXITSTATUS(w.waitStatus) != 0 || w.counted.failed > 0) bad = true;
    }
    output.totals(workers);
    return bad ? kExitFailed : kExitPassed;
}

}  // namespace sonoprog::cli
