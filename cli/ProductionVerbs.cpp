#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/Commands.h"
#include "cli/GangRun.h"
#include "cli/StopSignals.h"
#include "cli/WriterWait.h"
#include "core/AtomicFile.h"
#include "core/FileHandle.h"
#include "core/IniFile.h"
#include "core/LineSafe.h"
#include "production/EngineerPassword.h"
#include "production/Job.h"
#include "production/ProductionLoop.h"
#include "production/WorkerLines.h"
#include "records/PostgresRecordStore.h"
#include "records/RecordFormat.h"
#include "records/RecordStore.h"
#include "sim/PersistentWriter.h"

namespace sonoprog::cli {

namespace {

// --records, else Setup.ini's [Records] Database, else the station's own file.
std::string recordsLocation(Session& s) {
    if (s.invocation().records) return *s.invocation().records;
    return core::IniFile::load(s.paths().setupIni()).readString("Records", "Database");
}

}  // namespace

std::unique_ptr<records::RecordStore> openStore(Session& s, bool reading, bool quiet,
                                                const std::atomic<bool>* stop) {
    std::string error;
    records::OpenOptions options;
    // Reading commands never make a records file: a path that is not there is a mistake.
    options.mustExist = reading;
    options.stop = stop;
    // A file made by an earlier version gets its summaries once, at its first opening.
    int shown = -1;
    options.progress = [&s, &shown](long long done, long long total) {
        const int percent = total > 0 ? static_cast<int>(100 * done / total) : 100;
        if (percent == shown || (percent / 10 == shown / 10 && percent != 100)) return;
        shown = percent;
        s.note("notice", "building the summaries of " + std::to_string(total) +
                             " records: " + std::to_string(percent) + "%");
    };
    const std::string location = recordsLocation(s);
    const auto stationFile =
        records::defaultRecordsPath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
    auto store = records::openRecordStore(location, stationFile, error, options);
    if (!store) {
        // Quiet about records not made yet, never about records that cannot be read.
        std::error_code ec;
        const bool missing =
            !records::isServerAddress(location) &&
            !std::filesystem::exists(
                location.empty() ? stationFile : std::filesystem::path(location), ec);
        if (!(quiet && missing)) {
            s.error(error);
            s.markFailed();
        }
    }
    return store;
}

namespace {

// ---- job ----

int runJobNew(Session& s) {
    const Invocation& inv = s.invocation();
    const std::filesystem::path jobFile = inv.arguments.at(0);
    const auto target = production::parseTarget(*inv.text("target"));
    if (!target) {
        s.error("'--target " + *inv.text("target") + "': expected tarn20, serialflash or kiva300");
        return kExitUsage;
    }
    production::JobRequest request;
    request.target = *target;
    request.name = inv.text("name").value_or("");
    request.device = inv.text("device").value_or("");
    request.image = *inv.text("image");
    request.blankCheck = inv.flag("blank");
    auto number = [&](const char* name) -> std::optional<std::uint32_t> {
        if (auto n = inv.number(name)) return static_cast<std::uint32_t>(*n);
        return std::nullopt;
    };
    request.startPage = number("start");
    request.writePages = number("count");
    request.infoPage = number("info-page");
    request.allowError = number("allow-error");

    production::JobError kind;
    std::string error;
    const auto job =
        production::buildJob(request, jobFile, s.paths().setupIni(), s.ivrKeys(), kind, error);
    if (!job) {
        s.error(error);
        return kind == production::JobError::Usage ? kExitUsage : kExitFailed;
    }
    // A pipe or a device at the job's path stays what it is, --yes or not.
    if (!core::isReplaceableTarget(jobFile)) {
        s.error(jobFile.string() + ": not a regular file; not replaced");
        return kExitFailed;
    }
    std::error_code ec;
    if (std::filesystem::exists(jobFile, ec) &&
        !s.prompter().askYesNo("WARNING", jobFile.string() + " exists. Replace it?",
                               core::BoxIcon::Warning))
        return kExitFailed;
    // Written to a temporary file of its own, created exclusively beside the
    // job, and renamed over it: a job file is never half there, and nothing
    // planted under a temporary name is written through.
    core::AtomicFile out(jobFile);
    if (!out.open() || !out.write(production::jobToJson(*job)) || !out.commit()) {
        s.error(jobFile.string() + ": cannot be written");
        return kExitFailed;
    }
    std::fprintf(s.out(), "Job written: %s\n", jobFile.string().c_str());
    return kExitPassed;
}

int runJobShow(Session& s) {
    std::string error;
    const auto loaded = production::loadJob(s.invocation().arguments.at(0), error);
    if (!loaded) {
        s.error(error);
        return kExitFailed;
    }
    if (s.invocation().json) {
        nlohmann::ordered_json j = {{"kind", "job"}};
        j.update(nlohmann::ordered_json::parse(production::jobToJsonLine(loaded->job)));
        j["job_sha256"] = loaded->fileSha256;
        j["image_file"] = production::imagePath(loaded->job, loaded->file).string();
        std::fprintf(s.out(), "%s\n",
                     j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
        std::fputs(production::jobDescription(*loaded).c_str(), s.out());
    }
    return kExitPassed;
}

// ---- produce ----

class TerminalListener final : public production::LoopListener {
public:
    TerminalListener(Session& s, bool json) : s_(s), json_(json) {}

    void stateChanged(production::LoopState state) override {
        if (json_) return;
        const char* text = nullptr;
        if (state == production::LoopState::WaitingForOperator)
            text = "Insert a chip and press Enter (end of input stops).";
        else if (state == production::LoopState::InsertChip)
            text = "Insert a chip...";
        else if (state == production::LoopState::RemoveChip)
            text = "Remove the chip...";
        if (text) {
            s_.pane().endProgressBar();
            std::fprintf(stderr, "%s\n", text);
        }
    }
    void unitFinished(const production::UnitOutcome& outcome, const records::Counters&) override {
        s_.pane().endProgressBar();
        const std::string line =
            json_ ? production::unitSummaryJson(outcome) : production::unitSummaryLine(outcome);
        std::fprintf(s_.out(), "%s\n", line.c_str());
        if (outcome.remaining && !json_)
            std::fprintf(s_.out(), "%s\n",
                         production::remainingLine(*outcome.remaining, quantity_).c_str());
        std::fflush(s_.out());
    }
    void socketWorn(const std::string& message, production::SocketWear) override {
        s_.note("warning", message);
    }
    void setQuantity(long long quantity) { quantity_ = quantity; }
    void pollFailed(const std::string& message) override {
        s_.error("the insertion poll failed (" + message + "); retrying");
    }
    void runAborted(const std::string& message) override { s_.error(message); }

private:
    Session& s_;
    bool json_;
    long long quantity_ = 0;
};

// Trigger enter: one line of standard input per unit.
class EnterTrigger final : public production::OperatorTrigger {
public:
    bool waitForStart() override {
        for (;;) {
            errno = 0;
            const int c = std::fgetc(stdin);
            if (c == '\n') return true;
            if (c == EOF) {
                // Some other signal broke the wait: wait on, unless it was a stop.
                if (errno == EINTR && !gStopRequested.load() && !std::feof(stdin)) {
                    std::clearerr(stdin);
                    continue;
                }
                return false;
            }
        }
    }
};

int runProduce(Session& s) {
    const Invocation& inv = s.invocation();
    std::string error;
    const auto loaded = production::loadJob(inv.arguments.at(0), error);
    if (!loaded) {
        s.error(error);
        return kExitUsage;
    }
    production::LoopOptions options;
    if (auto n = inv.number("units")) options.units = static_cast<long long>(*n);
    const std::string trigger =
        inv.text("trigger").value_or(::isatty(STDIN_FILENO) ? "enter" : "insert");
    if (trigger != "enter" && trigger != "insert") {
        s.error("'--trigger " + trigger + "': expected insert or enter");
        return kExitUsage;
    }
    options.trigger = trigger == "enter" ? production::Trigger::Enter : production::Trigger::Insert;
    // Unset, the loop takes [Production] StopAfterFails= and [Socket] Life= from Setup.ini.
    if (auto n = inv.number("stop-after-fails"))
        options.stopAfterFails = static_cast<long long>(*n);
    if (auto n = inv.number("quantity")) options.quantity = static_cast<long long>(*n);
    options.lot = inv.text("lot").value_or("");
    // Every worker loads the job again; a job that cannot be loaded is said once, here.
    if (inv.writers) return runGang(s);
    options.operatorName = inv.text("operator").value_or("");

    // A stop counts from here: a line's database that does not answer the
    // opening holds it up no more than it holds up a unit.
    StopSignals signals;
    auto store = openStore(s, false, false, &gStopRequested);
    if (!store) return kExitFailed;
    // The one USB Writer there is: none yet is worth a wait, said aloud.
    if (inv.writer.kind == core::WriterOption::Kind::Usb && inv.writer.port.empty() &&
        inv.writer.serial.empty()) {
        link::usb::UsbWriterDevice usb;
        WriterWaitHooks hooks;
        hooks.attached = [&usb] { return !usb.attachedWriters(false).empty(); };
        hooks.now = [] { return std::chrono::steady_clock::now(); };
        hooks.sleep = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };
        hooks.say = [&s](const std::string& text) { s.note("notice", text); };
        hooks.stop = &gStopRequested;
        std::optional<std::chrono::seconds> limit;
        if (auto wait = inv.number("wait")) limit = std::chrono::seconds(*wait);
        const WriterWait waited = waitForWriter(hooks, limit);
        if (waited == WriterWait::TimedOut) return kExitNoWriter;
        if (waited == WriterWait::Stopped) {
            const production::LoopResult none;
            std::fprintf(
                s.out(), "%s\n",
                (inv.json ? production::totalJson(none) : production::totalLine(none)).c_str());
            return kExitPassed;
        }
    }
    // A `sim:DIR` Writer keeps the job's chip in DIR, as the chip's own commands do.
    const unsigned simChips = loaded->job.target == production::Target::Tarn20 ? sim::kTarn20File
                              : loaded->job.target == production::Target::SerialFlash
                                  ? sim::kSerialFlashFile
                                  : sim::kKiva300File;
    link::Link* link = s.writerLink(simChips);
    if (!link) return kExitFailed;
    options.writerIdentity = s.writerIdentity();

    TerminalListener listener(s, inv.json);
    if (options.quantity) listener.setQuantity(*options.quantity);
    production::LoopServices services{
        {s.pane(), s.lock(), s.yield(), s.prompter(), s.clock(), s.paths(), *link, s.ivrKeys()},
        *link,
        *store};
    production::ProductionLoop loop(*loaded, services, listener, gStopRequested);
    EnterTrigger enter;
    const production::LoopResult result = loop.run(options, &enter);
    const std::string total =
        inv.json ? production::totalJson(result) : production::totalLine(result);
    std::fprintf(s.out(), "%s\n", total.c_str());
    std::fflush(s.out());
    if (result.aborted || result.failed > 0) return kExitFailed;
    return kExitPassed;
}

// ---- records ----

std::optional<records::RecordQuery> recordQuery(Session& s, bool& usage) {
    const Invocation& inv = s.invocation();
    records::RecordQuery query;
    usage = false;
    if (auto jobFile = inv.text("job")) {
        std::string error;
        const auto loaded = production::loadJob(*jobFile, error);
        if (!loaded) {
            s.error(error);
            usage = true;
            return std::nullopt;
        }
        query.jobSha256 = loaded->fileSha256;
    }
    for (const char* name : {"since", "until"}) {
        const auto text = inv.text(name);
        if (!text) continue;
        auto time = records::normaliseUtcTime(*text);
        if (!time) {
            s.error("'--" + std::string(name) + " " + *text +
                    "': expected an ISO 8601 time such as 2026-12-08T10:00Z");
            usage = true;
            return std::nullopt;
        }
        (std::string_view(name) == "since" ? query.since : query.until) = std::move(time);
    }
    query.station = inv.text("station");
    query.writer = inv.text("writer");
    query.result = inv.text("result");
    query.lot = inv.text("lot");
    if (query.result && *query.result != records::kResultPass &&
        *query.result != records::kResultFail && *query.result != records::kResultReset) {
        s.error("'--result " + *query.result + "': expected pass, fail or reset");
        usage = true;
        return std::nullopt;
    }
    return query;
}

int runRecordsExport(Session& s) {
    const Invocation& inv = s.invocation();
    if (inv.flag("csv") && inv.json) {
        s.error("'records': --csv or --json, not both");
        return kExitUsage;
    }
    bool usage = false;
    const auto query = recordQuery(s, usage);
    if (!query) return usage ? kExitUsage : kExitFailed;
    auto store = openStore(s, true);
    if (!store) return kExitFailed;
    // Each row is printed as it is read, through one buffer handed to stdio
    // in large blocks: memory stays flat however many records there are.
    std::string buffer;
    constexpr std::size_t kFlushAt = 1 << 16;
    buffer.reserve(kFlushAt + 4096);
    const auto flush = [&] {
        std::fwrite(buffer.data(), 1, buffer.size(), s.out());
        buffer.clear();
    };
    if (!inv.json) buffer += records::csvHeader();
    const bool ok = store->forEach(*query, [&](const records::UnitRecord& r) {
        if (inv.json) {
            buffer += records::recordJsonLine(r);
            buffer += '\n';
        } else {
            records::appendCsvRow(buffer, r);
        }
        if (buffer.size() >= kFlushAt) flush();
        return true;
    });
    flush();
    std::fflush(s.out());
    if (!ok) {
        s.error(store->lastError());
        return kExitFailed;
    }
    if (!store->notice().empty()) s.note("warning", store->notice());
    return kExitPassed;
}

int runRecordsSummary(Session& s) {
    const Invocation& inv = s.invocation();
    bool usage = false;
    const auto query = recordQuery(s, usage);
    if (!query) return usage ? kExitUsage : kExitFailed;
    auto store = openStore(s, true);
    if (!store) return kExitFailed;
    // Per job, in the order the jobs first appear: the units since its last
    // reset, from the summaries the database keeps.
    const auto jobs = store->summary(query->jobSha256);
    if (!jobs) {
        s.error(store->lastError());
        return kExitFailed;
    }
    if (!store->notice().empty()) s.note("warning", store->notice());
    for (const auto& j : *jobs) {
        if (inv.json) {
            nlohmann::ordered_json o;
            o["kind"] = "summary";
            o["job_name"] = j.jobName;
            o["job_sha256"] = j.jobSha256;
            o["total"] = j.counters.total();
            o["passed"] = j.counters.passed;
            o["failed"] = j.counters.failed;
            o["yield"] = std::round(j.counters.yield() * 10) / 10;
            o["failures"] = nlohmann::ordered_json::array();
            for (const auto& f : j.failures)
                o["failures"].push_back({{"fail_line", f.failLine}, {"count", f.count}});
            std::fprintf(s.out(), "%s\n",
                         o.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
            continue;
        }
        std::fprintf(s.out(), "JOB %s (%s)\n", core::lineSafe(j.jobName).c_str(),
                     core::lineSafe(j.jobSha256.substr(0, 12)).c_str());
        std::fprintf(s.out(), "TOTAL %lld PASS %lld FAIL %lld YIELD %s%%\n", j.counters.total(),
                     j.counters.passed, j.counters.failed, records::yieldText(j.counters).c_str());
        for (const auto& f : j.failures)
            std::fprintf(s.out(), "%6lld  %s\n", f.count,
                         core::lineSafe(production::failMessage(f.failLine)).c_str());
    }
    if (jobs->empty() && !inv.json) std::fputs("No records.\n", s.out());
    // A station on a line: what its file still holds for the line's database.
    if (records::isServerAddress(recordsLocation(s))) {
        const long long waiting = records::recordsWaiting(*store);
        if (inv.json)
            std::fprintf(s.out(), "{\"kind\":\"waiting\",\"database\":%s,\"records\":%lld}\n",
                         jsonString(store->location()).c_str(), waiting);
        else
            std::fprintf(s.out(), "WAITING %lld record%s for %s\n", waiting,
                         waiting == 1 ? "" : "s", store->location().c_str());
    }
    return kExitPassed;
}

// ---- production password ----

std::string readSecretLine(const char* prompt) {
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) line += static_cast<char>(c);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// The engineer's password from standard input against Setup.ini's; false
// after an error line.
bool engineerConfirmed(Session& s) {
    const std::string stored =
        core::IniFile::load(s.paths().setupIni()).readString("Production", "EngineerPassword");
    if (stored.empty()) {
        s.error("no engineer password is set up in " + s.paths().setupIni().string() +
                " ([Production] EngineerPassword=; see 'production password')");
        return false;
    }
    const std::string password = readSecretLine("Engineer password: ");
    if (!production::checkPassword(password, stored)) {
        s.error("wrong engineer password");
        return false;
    }
    // A hash of an earlier version's fewer rounds is made again, as the window's unlock does.
    if (const auto stronger = production::strongerPasswordHash(password, stored);
        stronger && !production::storeEngineerPassword(s.paths().setupIni(), *stronger))
        s.note("warning", "the engineer password's stronger hash could not be written to " +
                              s.paths().setupIni().string());
    return true;
}

// What the units of the Writer named on the command line are recorded under:
// an attached USB Writer as it would be recorded now, any other as the counts
// already name it (a Writer unplugged since, a virtual Writer's folder).
std::optional<std::string> socketWriter(Session& s, records::RecordStore& store,
                                        const std::string& text) {
    const auto option = core::parseWriterOption(text);
    if (!option || (option->kind == core::WriterOption::Kind::Usb && option->port.empty() &&
                    option->serial.empty())) {
        s.error("'" + text + "': name one Writer (usb:PORT, usb:serial=TEXT, sim or sim:DIR)");
        return std::nullopt;
    }
    if (option->kind != core::WriterOption::Kind::Usb) return option->recordedIdentity();
    link::usb::UsbWriterDevice usb;
    const link::usb::WriterChoice choice{option->port, option->serial};
    for (const auto& a : usb.attachedWriters(false))
        if (choice.matches(a)) return link::usb::identityText(a);
    const auto counts = store.socketCounts();
    std::vector<std::string> found;
    for (const auto& c : counts.value_or(std::vector<records::SocketCount>{})) {
        const bool byPort =
            !option->port.empty() && (c.writer == "usb:" + option->port ||
                                      c.writer.starts_with("usb:" + option->port + " (serial "));
        const bool bySerial = !option->serial.empty() && c.writer.starts_with("usb:") &&
                              c.writer.ends_with(" (serial " + option->serial + ")");
        if (byPort || bySerial) found.push_back(c.writer);
    }
    if (found.size() == 1) return found.front();
    s.error(found.empty() ? "no Writer at " + text + " and no socket counted for it"
                          : "'" + text + "' names several counted sockets; attach the Writer");
    return std::nullopt;
}

int runSocketReset(Session& s) {
    if (!engineerConfirmed(s)) return kExitFailed;
    auto store = openStore(s);
    if (!store) return kExitFailed;
    const auto writer = socketWriter(s, *store, s.invocation().arguments.at(0));
    if (!writer) return kExitUsage;
    const auto before = store->socketCounts(*writer);
    if (!before || !store->resetSocket(*writer)) {
        s.error(store->lastError());
        return kExitFailed;
    }
    const long long insertions = before->empty() ? 0 : before->front().insertions;
    if (s.invocation().json)
        std::fprintf(s.out(), "{\"kind\":\"socket-reset\",\"writer\":%s,\"insertions\":%lld}\n",
                     jsonString(*writer).c_str(), insertions);
    else
        std::fprintf(s.out(), "Socket of %s reset after %lld insertions.\n",
                     core::lineSafe(*writer).c_str(), insertions);
    return kExitPassed;
}

int runPassword(Session& s) {
    const std::string password = readSecretLine("Engineer password: ");
    if (password.empty()) {
        s.error("an empty password is not an engineer's password");
        return kExitFailed;
    }
    if (::isatty(STDIN_FILENO) && readSecretLine("Again: ") != password) {
        s.error("the two passwords differ");
        return kExitFailed;
    }
    const auto hash = production::makePasswordHash(password);
    if (!hash) {
        s.error("the password could not be hashed");
        return kExitFailed;
    }
    std::fprintf(s.out(), "EngineerPassword=%s\n", hash->c_str());
    return kExitPassed;
}

}  // namespace

int runJob(Session& s) {
    return s.invocation().command->action == "new" ? runJobNew(s) : runJobShow(s);
}

int runProduceCommand(Session& s) {
    return runProduce(s);
}

int runRecords(Session& s) {
    return s.invocation().command->action == "summary" ? runRecordsSummary(s) : runRecordsExport(s);
}

int runProduction(Session& s) {
    return s.invocation().command->action == "socket-reset" ? runSocketReset(s) : runPassword(s);
}

}  // namespace sonoprog::cli
