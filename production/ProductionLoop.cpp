#include "production/ProductionLoop.h"

#include <cmath>
#include <cstdio>
#include <thread>

#include "core/IniFile.h"
#include "core/LineSafe.h"
#include "core/Prompter.h"

namespace sonoprog::production {

namespace {

// The polls' own prompter: a poll that fails is the loop's to report (once),
// not a box per poll.
class QuietPrompter final : public core::Prompter {
public:
    void showMessage(std::string_view, std::string_view text, core::BoxIcon) override {
        last = text;
    }
    bool askYesNo(std::string_view, std::string_view, core::BoxIcon) override { return false; }
    std::string last;
};

std::string seconds(double s) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", s);
    return buffer;
}

}  // namespace

ProductionLoop::ProductionLoop(const LoadedJob& job, LoopServices services, LoopListener& listener,
                               const std::atomic<bool>& stop)
    : job_(job),
      s_(services),
      listener_(listener),
      stop_(stop),
      image_(imagePath(job.job, job.file)) {}

records::UnitRecord ProductionLoop::recordBase(const LoopOptions& options) const {
    records::UnitRecord r;
    r.station = records::stationName();
    r.operatorName = options.operatorName;
    r.jobName = job_.job.name;
    r.jobSha256 = job_.fileSha256;
    r.imageSha256 = job_.job.imageSha256;
    r.imageCheckSum = job_.job.checkSum;
    r.target = std::string(targetName(job_.job.target));
    r.device = job_.job.device;
    r.writer = options.writerIdentity;
    r.lot = options.lot;
    return r;
}

std::optional<std::string> ProductionLoop::imageProblem() {
    const auto sha = hashes_.hash(image_);
    if (!sha) return "The image " + image_.string() + " is missing or cannot be read; stopped.";
    if (*sha != job_.job.imageSha256) return changedMessage(*sha);
    return std::nullopt;
}

std::string ProductionLoop::changedMessage(const std::string& sha) const {
    return "The image " + image_.string() + " has changed since the job was made (SHA-256 " +
           sha.substr(0, 12) + "..., the job's " + job_.job.imageSha256.substr(0, 12) +
           "...); stopped.";
}

std::optional<std::string> ProductionLoop::takeSnapshot() {
    snapshot_.reset();
    std::string error;
    auto snapshot = core::ImageSnapshot::read(image_, largestImageBytes(), error);
    if (!snapshot) return "The image " + error + "; stopped.";
    const std::string sha = sha256Hex(std::string_view(
        reinterpret_cast<const char*>(snapshot->bytes().data()), snapshot->bytes().size()));
    if (sha != job_.job.imageSha256) return changedMessage(sha);
    if (auto mismatch =
            imageMismatch(job_.job, snapshot->bytes(), s_.unit.ivrKeys, s_.unit.paths.setupIni()))
        return "The job " + job_.file.string() + " does not match its image: " + *mismatch +
               "; stopped.";
    snapshot_ = std::move(snapshot);
    snapshotSha256_ = sha;
    return std::nullopt;
}

bool ProductionLoop::pause(std::chrono::milliseconds interval) {
    // In slices, so the window stays live and a stop is noticed quickly.
    const auto end = std::chrono::steady_clock::now() + interval;
    while (!stop_.load()) {
        s_.unit.yield.yield();
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            end - now, std::chrono::milliseconds(10)));
    }
    return false;
}

bool ProductionLoop::waitForSocket(bool present, const LoopOptions& options) {
    QuietPrompter quiet;
    link::Link pollLink(s_.link.device(), quiet);
    const SocketProbe probe(job_.job, s_.unit.paths);
    bool reported = false;
    while (!stop_.load()) {
        const ProbeResult result = probe(pollLink);
        if (result == ProbeResult::LinkFailed) {
            if (!reported) listener_.pollFailed(quiet.last.empty() ? "USB failed!" : quiet.last);
            reported = true;
        } else {
            reported = false;
            if ((result == ProbeResult::ChipPresent) == present) return true;
        }
        if (!pause(options.pollInterval)) return false;
    }
    return false;
}

LoopResult ProductionLoop::run(const LoopOptions& options, OperatorTrigger* operatorTrigger) {
    LoopResult result;
    // The fields every unit shares are filled once; each unit sets its own below.
    records::UnitRecord record = recordBase(options);
    auto abort = [&](const std::string& message) {
        result.aborted = true;
        listener_.runAborted(message);
        listener_.stateChanged(LoopState::Stopped);
        return result;
    };
    // A job whose image is already wrong never asks for a chip. The image is
    // read once, here: every unit programs and verifies these bytes, and its
    // record names their SHA-256, whatever the file on disk does meanwhile.
    if (auto problem = imageProblem()) return abort(*problem);
    if (auto problem = takeSnapshot()) return abort(*problem);
    record.imageSha256 = snapshotSha256_;
    // Nor is a chip programmed whose record could not be kept.
    if (!s_.store.writable())
        return abort("The records in " + s_.store.location() +
                     " cannot be written: " + s_.store.lastError() + "; stopped.");

    // What the front end left to the settings.
    const LineSettings settings = readLineSettings(s_.unit.paths.setupIni());
    const long long stopAfterFails = options.stopAfterFails.value_or(settings.stopAfterFails);
    const long long socketLife = options.socketLife.value_or(settings.socketLife);
    // The socket's wear as last told; a run that starts past a mark says so once.
    SocketWear told = SocketWear::Fine;
    const auto tellWear = [&](std::optional<long long> insertions) {
        if (!insertions) return;
        const SocketWear wear = socketWear(*insertions, socketLife);
        if (wear > told)
            listener_.socketWorn(socketWarning(options.writerIdentity, *insertions, socketLife),
                                 wear);
        told = wear;
    };
    const auto insertions = [&]() -> std::optional<long long> {
        const auto counts = s_.store.socketCounts(options.writerIdentity);
        if (!counts) return std::nullopt;
        return counts->empty() ? 0 : counts->front().insertions;
    };
    tellWear(insertions());

    const auto lotDone = [&] { return options.quantity && result.passed >= *options.quantity; };
    long long n = 0;
    long long failsInARow = 0;
    while (!stop_.load() && (!options.units || n < *options.units) && !lotDone()) {
        if (options.trigger == Trigger::Enter) {
            listener_.stateChanged(LoopState::WaitingForOperator);
            if (!operatorTrigger || !operatorTrigger->waitForStart() || stop_.load()) break;
        } else {
            listener_.stateChanged(LoopState::InsertChip);
            if (!waitForSocket(true, options)) break;
        }
        if (auto problem = imageProblem()) return abort(*problem);

        listener_.stateChanged(LoopState::Programming);
        ++n;
        const auto started = std::chrono::steady_clock::now();
        const std::string time = records::utcTimeNow();
        const UnitReport report = runUnit(job_.job, *snapshot_, s_.unit);
        const auto elapsed = std::chrono::steady_clock::now() - started;

        record.id = records::newRecordId();
        record.time = time;
        record.result = std::string(report.passed ? records::kResultPass : records::kResultFail);
        record.failingStep = report.passed ? "" : report.failingStep;
        record.failLine = report.passed ? "" : report.failLine;
        record.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
        record.pgmLog = report.pgmLog;
        record.vrfLog = report.vrfLog;
        record.mirrored = report.mirrored;
        if (!s_.store.append(record))
            return abort("The record of unit " + std::to_string(n) + " could not be stored in " +
                         s_.store.location() + ": " + s_.store.lastError() + "; stopped.");
        (report.passed ? result.passed : result.failed) += 1;

        UnitOutcome outcome;
        outcome.n = n;
        outcome.passed = report.passed;
        outcome.seconds = std::chrono::duration<double>(elapsed).count();
        outcome.failingStep = record.failingStep;
        outcome.failLine = record.failLine;
        outcome.failure = report.passed ? "" : failMessage(report.failLine);
        outcome.recordId = record.id;
        if (options.quantity) outcome.remaining = std::max(0LL, *options.quantity - result.passed);
        outcome.socketInsertions = insertions();
        listener_.unitFinished(outcome, s_.store.counters(job_.fileSha256));
        tellWear(outcome.socketInsertions);

        failsInARow = report.passed ? 0 : failsInARow + 1;
        if (stopAfterFails > 0 && failsInARow >= stopAfterFails) {
            result.failStreak = true;
            return abort(failStreakReason(failsInARow));
        }
        if (lotDone()) {
            result.quantityReached = true;
            break;
        }
        if (options.trigger == Trigger::Insert && (!options.units || n < *options.units)) {
            listener_.stateChanged(LoopState::RemoveChip);
            if (!waitForSocket(false, options)) break;
        }
    }
    listener_.stateChanged(LoopState::Stopped);
    return result;
}

SocketWear socketWear(long long insertions, long long life) {
    if (life <= 0) return SocketWear::Fine;
    if (insertions >= life) return SocketWear::AtLife;
    // 90% rounded up: a life of 5 warns from the fifth insertion on.
    if (insertions * 10 >= life * 9) return SocketWear::NearLife;
    return SocketWear::Fine;
}

std::string socketWarning(const std::string& writer, long long insertions, long long life) {
    switch (socketWear(insertions, life)) {
        case SocketWear::Fine:
            return {};
        case SocketWear::NearLife:
            return "The socket of " + writer + " has had " + std::to_string(insertions) +
                   " of its " + std::to_string(life) + " insertions; replace it soon.";
        case SocketWear::AtLife:
            return "The socket of " + writer + " has had " + std::to_string(insertions) +
                   " insertions, its life is " + std::to_string(life) + "; replace it.";
    }
    return {};
}

LineSettings readLineSettings(const std::filesystem::path& setupIni) {
    const auto ini = core::IniFile::load(setupIni);
    LineSettings s;
    s.stopAfterFails = std::max<std::int64_t>(
        0, ini.readInteger("Production", "StopAfterFails", s.stopAfterFails));
    s.socketLife = std::max<std::int64_t>(0, ini.readInteger("Socket", "Life", s.socketLife));
    return s;
}

std::string failStreakReason(long long fails) {
    return std::to_string(fails) + " failures in a row: check the socket and the image";
}

std::string remainingLine(long long remaining, long long quantity) {
    return "REMAINING " + std::to_string(remaining) + " of " + std::to_string(quantity);
}

std::string unitSummaryLine(const UnitOutcome& o) {
    std::string line =
        "UNIT " + std::to_string(o.n) + (o.passed ? " PASS " : " FAIL ") + seconds(o.seconds) + "s";
    if (!o.passed) line += " " + core::lineSafe(o.failure);
    return line;
}

std::string totalLine(const LoopResult& r) {
    return "TOTAL " + std::to_string(r.total()) + " PASS " + std::to_string(r.passed) + " FAIL " +
           std::to_string(r.failed) + " YIELD " + records::yieldText({r.passed, r.failed}) + "%";
}

}  // namespace sonoprog::production
