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
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/Session.h"
#include "cli/StopSignals.h"
#include "core/InheritedText.h"
#include "production/ProductionLoop.h"

namespace sonoprog::cli {

namespace {

using Json = nlohmann::ordered_json;
// A worker's line may carry any bytes; a dump never throws on them.
constexpr auto kReplace = nlohmann::json::error_handler_t::replace;

// What makes two texts the same Writer: its port (or serial), or its folder.
std::string sameWriterKey(const core::WriterOption& w) {
    if (w.kind != core::WriterOption::Kind::SimDir) return w.text();
    std::error_code ec;
    auto path = std::filesystem::weakly_canonical(std::filesystem::absolute(w.folder, ec), ec);
    return "sim:" + path.lexically_normal().string();
}

std::optional<GangMember> usbMember(const core::WriterOption& w,
                                    const std::vector<link::usb::AttachedWriter>& attached,
                                    std::string& error) {
    const link::usb::WriterChoice choice{w.port, w.serial};
    for (const auto& a : attached)
        if (choice.matches(a)) return GangMember{w.text(), a.port};
    error = "no Writer at " + w.text() + "; attached: " + describeWriters(attached);
    return std::nullopt;
}

// ---- the workers ----

struct Worker {
    GangMember member;
    pid_t pid = -1;
    int out = -1;  // read ends of its standard output and error; -1 once at their end
    int err = -1;
    std::string outPending;
    std::string errPending;
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
                      : prefix(w) + line);
            return;
        }
        const std::string kind = object.value("kind", "");
        if (kind == "total") {
            w.sawTotal = true;  // the totals come at the end, from the units counted
            return;
        }
        // The gang closes with its own result; a worker's would be one of several.
        if (kind == "result") return;
        if (kind == "unit") {
            if (const auto unit = production::unitOutcomeFromJson(line)) {
                (unit->passed ? w.counted.passed : w.counted.failed) += 1;
                passed_ += unit->passed ? 1 : 0;
                // What remains is the gang's, not the one worker's.
                const long long remaining = quantity_ ? std::max(0LL, *quantity_ - passed_) : 0;
                if (quantity_) object["remaining"] = remaining;
                print(out_, json_ ? tagged(w, object).dump(-1, ' ', false, kReplace)
                                  : prefix(w) + production::unitSummaryLine(*unit));
                if (quantity_ && !json_)
                    print(out_, production::remainingLine(remaining, *quantity_));
                return;
            }
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
        if (object.is_object() && object.contains("text") && object["text"].is_string())
            print(err_, prefix(w) + object["text"].get<std::string>());
        else
            print(err_, prefix(w) + line);
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
    static std::string prefix(const Worker& w) { return "[" + w.member.id + "] "; }
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
bool readLines(int fd, std::string& pending, LineFn line) {
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) {
        if (!pending.empty()) line(std::exchange(pending, {}));
        return false;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
        line(pending.substr(start, end - start));
    pending.erase(0, start);
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
            std::string& pending = isOut ? w.outPending : w.errPending;
            const bool open = readLines(fd, pending, [&](const std::string& line) {
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

std::optional<std::vector<GangMember>> gangMembers(
    std::string_view list, const std::vector<link::usb::AttachedWriter>& attached,
    std::string& error) {
    std::vector<GangMember> members;
    if (list == "all") {
        for (const auto& a : attached) members.push_back({"usb:" + a.port, a.port});
        if (members.empty()) error = "'--writers all': no Writer is attached";
        if (members.empty()) return std::nullopt;
        return members;
    }
    std::set<std::string> seen;
    std::string_view rest = list;
    while (!rest.empty() || members.empty()) {
        const auto comma = rest.find(',');
        const std::string text(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        const auto option = core::parseWriterOption(text);
        if (!option) {
            error = "'--writers': '" + text +
                    "' is no Writer (expected sim:DIR, usb:PORT or usb:serial=TEXT, or all)";
            return std::nullopt;
        }
        if (option->kind == core::WriterOption::Kind::Sim ||
            (option->kind == core::WriterOption::Kind::Usb && option->port.empty() &&
             option->serial.empty())) {
            error = "'--writers': '" + text +
                    "' could be any Writer; name each one (sim:DIR, usb:PORT, usb:serial=TEXT)";
            return std::nullopt;
        }
        std::optional<GangMember> member;
        if (option->kind == core::WriterOption::Kind::Usb)
            member = usbMember(*option, attached, error);
        else
            member = GangMember{text, option->folder};
        if (!member) return std::nullopt;
        // A serial number and a port may name the same Writer: compare ports then.
        const std::string key = option->kind == core::WriterOption::Kind::Usb
                                    ? "usb:" + member->id
                                    : sameWriterKey(*option);
        if (!seen.insert(key).second) {
            error = "'--writers': '" + text + "' names a Writer already in the list";
            return std::nullopt;
        }
        members.push_back(std::move(*member));
    }
    return members;
}

std::vector<std::string> workerArguments(const Invocation& inv, const std::string& writer,
                                         int recordsFd) {
    std::vector<std::string> args = {"--writer", writer, "--json"};
    if (inv.setup) args.insert(args.end(), {"--setup", *inv.setup});
    if (inv.temp) args.insert(args.end(), {"--temp", *inv.temp});
    if (inv.records && recordsFd >= 0)
        args.insert(args.end(), {"--records-fd", std::to_string(recordsFd)});
    if (inv.yes) args.push_back("--yes");
    args.insert(args.end(), {"produce", "--trigger", "insert"});
    if (auto units = inv.number("units"))
        args.insert(args.end(), {"--units", std::to_string(*units)});
    if (auto name = inv.text("operator")) args.insert(args.end(), {"--operator", *name});
    for (const char* name : {"quantity", "stop-after-fails"})
        if (auto n = inv.number(name))
            args.insert(args.end(), {"--" + std::string(name), std::to_string(*n)});
    if (auto lot = inv.text("lot")) args.insert(args.end(), {"--lot", *lot});
    // After "--": a job file whose name starts with a dash stays a file.
    args.insert(args.end(), {"--", inv.arguments.at(0)});
    return args;
}

int runGang(Session& s) {
    const Invocation& inv = s.invocation();
    std::vector<link::usb::AttachedWriter> attached;
    if (*inv.writers == "all" || inv.writers->find("usb") != std::string::npos) {
        // Asked once, then let go: the workers open their Writers themselves.
        link::usb::UsbWriterDevice usb;
        attached = usb.attachedWriters(false);
    }
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
