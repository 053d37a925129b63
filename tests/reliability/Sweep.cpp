#include "tests/reliability/Sweep.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

namespace sonoprog::test {

using Kind = sim::TransferRecord::Kind;

namespace {

constexpr const char* kFailMark = "    [X] ";

// Writes the process's figures when it ends, to figures.d/<program>.<test>.txt
// in the build folder (one file per test, replaced by its next run), or to the
// file SONOPROG_FIGURES_FILE names. scripts/figures sums them up.
struct FigureSink {
    std::map<std::string, std::uint64_t> extra;
    std::set<std::string> tests;

    void noteTest() {
        if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
            tests.insert(std::string(info->test_suite_name()) + "." + info->name());
    }
    ~FigureSink() {
        Figures& f = Figures::get();
        std::string text;
        auto add = [&](const std::string& key, std::uint64_t value) {
            if (value) text += key + " " + std::to_string(value) + "\n";
        };
        add("runs", f.runs);
        add("faults", f.faults);
        add("passed_with_harmless_fault", f.passedWithFault);
        for (const auto& [key, value] : extra) add(key, value);
        if (text.empty()) return;
        std::error_code ec;
        std::filesystem::path path;
        int flags = O_WRONLY | O_CREAT;
        if (const char* file = std::getenv("SONOPROG_FIGURES_FILE"); file && *file) {
            path = file;
            flags |= O_APPEND;  // whole lines, also from parallel tests
        } else {
            const auto exe = std::filesystem::canonical("/proc/self/exe", ec);
            if (ec) return;
            const auto dir = exe.parent_path().parent_path() / "figures.d";
            std::filesystem::create_directories(dir, ec);
            const std::string test = tests.size() == 1 ? *tests.begin() : std::string("all");
            path = dir / (exe.filename().string() + "." + test + ".txt");
            flags |= O_TRUNC;
        }
        int fd = ::open(path.c_str(), flags, 0644);
        if (fd < 0) return;
        ssize_t ignored = ::write(fd, text.data(), text.size());
        (void)ignored;
        ::close(fd);
    }
};

FigureSink& sink() {
    static FigureSink s;
    return s;
}

int firstLine(const RunRecord& run, const std::string& prefix) {
    for (std::size_t i = 0; i < run.lines.size(); ++i)
        if (run.lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    return -1;
}

const sim::TransferRecord* lastCommand(const RunRecord& run, std::size_t* at = nullptr) {
    for (std::size_t i = run.transfers.size(); i-- > 0;)
        if (run.transfers[i].kind == Kind::Command) {
            if (at) *at = i;
            return &run.transfers[i];
        }
    return nullptr;
}

void checkClosing(const SweepOperation& op, const RunRecord& run) {
    ASSERT_GE(run.lines.size(), op.closingTail.size());
    std::vector<std::string> tail(run.lines.end() - static_cast<long>(op.closingTail.size()),
                                  run.lines.end());
    EXPECT_EQ(tail, op.closingTail) << "the pane must end with the closing steps";
    EXPECT_EQ(run.lockEvents, (std::vector<std::string>{"lock", "unlock"}));
    EXPECT_FALSE(run.lockedAfter);
    EXPECT_EQ(run.openFdsAfter, run.openFdsBefore) << "a file was left open";
    const sim::TransferRecord* last = lastCommand(run);
    ASSERT_NE(last, nullptr);
    ASSERT_FALSE(last->bytes.empty());
    EXPECT_NE(std::find(op.closingCodes.begin(), op.closingCodes.end(), last->bytes[0]),
              op.closingCodes.end())
        << "the closing command must be the last one";
}

}  // namespace

Figures& Figures::get() {
    static Figures f;
    sink().noteTest();  // created after f, so it is destroyed before f
    return f;
}

void Figures::record(const std::string& key, std::uint64_t value) {
    Figures::get();
    sink().extra[key] += value;
}

OperationRig::OperationRig() : paths(core::AppPaths::forFolder(dir.path())) {
    paths.ensureTemp();
    writer.setLogging(true);
    writer.open();
}

RunRecord OperationRig::run(const Arm& arm, sim::StatusInjector& statuses,
                            const std::function<bool()>& operation,
                            const std::function<bool()>& dataTrue) {
    arm(writer, statuses);
    RunRecord r;
    r.openFdsBefore = openFdCount();
    r.result = operation();
    r.openFdsAfter = openFdCount();
    r.lines = pane.texts();
    r.lockEvents = lock.events;
    r.lockedAfter = lock.locked;
    r.boxes = prompter.boxes;
    r.transfers = writer.log();
    r.transferCount = writer.transferCount();
    r.protocolErrors = writer.protocolErrors();
    writer.setWireFaultHook(nullptr);
    r.dataTrue = dataTrue();
    return r;
}

bool hasLine(const RunRecord& run, const std::string& text) {
    for (const auto& l : run.lines)
        if (l == text) return true;
    return false;
}

int openFdCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
        --n;  // the listing's own
    }
    return n;
}

void withinDeadline(const std::string& what, std::chrono::seconds limit,
                    const std::function<void()>& body) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> hold(m);
        if (!cv.wait_for(hold, limit, [&] { return done; })) {
            std::fprintf(stderr, "HANG: %s did not end within %lld s\n", what.c_str(),
                         static_cast<long long>(limit.count()));
            std::abort();
        }
    });
    body();
    {
        std::lock_guard<std::mutex> hold(m);
        done = true;
    }
    cv.notify_all();
    watchdog.join();
}

std::uint64_t checkCleanRun(const SweepOperation& op) {
    SCOPED_TRACE(op.name + ", no fault");
    RunRecord run;
    withinDeadline(op.name, std::chrono::seconds(120),
                   [&] { run = op.run([](auto&, auto&) {}, 0); });
    ++Figures::get().runs;
    EXPECT_TRUE(run.result);
    EXPECT_TRUE(hasLine(run, op.passLine));
    EXPECT_EQ(firstLine(run, kFailMark), -1);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_TRUE(run.dataTrue);
    EXPECT_TRUE(run.protocolErrors.empty()) << run.protocolErrors.front();
    checkClosing(op, run);
    return run.transferCount;
}

void checkFaultedRun(const SweepOperation& op, const RunRecord& run, const std::string& label,
                     bool linkStillWorks) {
    SCOPED_TRACE(op.name + ", " + label);
    std::size_t failedAt = run.transfers.size();
    int failedTransfers = 0;
    // A closing command (an end or release) whose exchange fails does not fail
    // the operation: the data went through before it.
    bool onlyClosingCommandsFailed = true;
    for (std::size_t i = 0; i < run.transfers.size(); ++i) {
        const auto& t = run.transfers[i];
        if (!t.failed) continue;
        if (failedAt == run.transfers.size()) failedAt = i;
        ++failedTransfers;
        const bool closingCode = t.kind == Kind::Command && !t.bytes.empty() &&
                                 std::find(op.closingCodes.begin(), op.closingCodes.end(),
                                           t.bytes[0]) != op.closingCodes.end();
        if (!closingCode) onlyClosingCommandsFailed = false;
    }
    ASSERT_LT(failedAt, run.transfers.size()) << "the fault never hit";
    std::size_t closingAt = 0;
    const sim::TransferRecord* closing = lastCommand(run, &closingAt);
    ASSERT_NE(closing, nullptr);
    const bool onlyTheClosingFailed = onlyClosingCommandsFailed;

    const int firstFail = firstLine(run, kFailMark);
    EXPECT_GE(firstFail, 0) << "a failed transfer must leave a fail line";
    if (onlyTheClosingFailed) {
        // Everything before the closing command went through.
        EXPECT_TRUE(run.dataTrue);
    } else {
        EXPECT_FALSE(run.result);
        for (std::size_t i = static_cast<std::size_t>(std::max(firstFail, 0)); i < run.lines.size();
             ++i) {
            EXPECT_NE(run.lines[i], op.passLine) << "passed after the failure, line " << i;
        }
        if (linkStillWorks) {
            EXPECT_FALSE(closing->failed) << "the closing command must go out on a working link";
            ASSERT_GT(run.transfers.size(), closingAt + 1);
            EXPECT_EQ(run.transfers[closingAt + 1].kind, Kind::Reply);
        }
    }
    // Every failed transfer shows exactly one box; a failed command is not followed by a read.
    EXPECT_EQ(run.boxes.size(), static_cast<std::size_t>(failedTransfers));
    for (const auto& box : run.boxes) EXPECT_EQ(box.caption, "ERROR");
    for (std::size_t i = 0; i + 1 < run.transfers.size(); ++i) {
        if (run.transfers[i].kind == Kind::Command && run.transfers[i].failed) {
            EXPECT_NE(run.transfers[i + 1].kind, Kind::Reply);
        }
    }
    checkClosing(op, run);
}

std::uint64_t sweepTransferFaults(const SweepOperation& op) {
    const std::uint64_t total = checkCleanRun(op);
    std::vector<std::uint64_t> ks;
    for (std::uint64_t k = 1; k <= total; ++k) ks.push_back(k);
    return sweepTransferFaults(op, ks, total);
}

std::uint64_t sweepTransferFaults(const SweepOperation& op, const std::vector<std::uint64_t>& ks,
                                  std::uint64_t total) {
    EXPECT_GT(total, 0u);
    if (ks.size() != total) {
        EXPECT_EQ(checkCleanRun(op), total);
    }
    std::uint64_t runs = 0;
    for (std::uint64_t k : ks) {
        EXPECT_LE(k, total);
        for (bool once : {true, false}) {
            const std::string label =
                (once ? "transfer " : "every transfer from ") + std::to_string(k) + " failed";
            RunRecord run;
            withinDeadline(op.name + ", " + label, std::chrono::seconds(120), [&] {
                run = op.run(
                    [&](sim::VirtualWriter& w, sim::StatusInjector&) {
                        if (once)
                            w.failTransfer(k);
                        else
                            w.failFrom(k);
                    },
                    0);
            });
            ++runs;
            ++Figures::get().runs;
            ++Figures::get().faults;
            checkFaultedRun(op, run, label, once);
            if (::testing::Test::HasFatalFailure()) return runs;
        }
    }
    return runs;
}

int scaled(int count, int least) {
    double scale = 1.0;
    if (const char* env = std::getenv("SONOPROG_RELIABILITY_SCALE")) scale = std::atof(env);
    if (!(scale > 0)) scale = 1.0;
    return std::max(least, static_cast<int>(count * scale));
}

namespace {

// One seeded fault of a run, and whether it came to bear.
struct SeededFault {
    enum class What { Status, Wire } what;
    std::uint8_t code = 0;
    std::uint64_t nth = 0;
    std::uint8_t status = 0;
    sim::WireFault wire = sim::WireFault::None;
    std::uint64_t transfer = 0;
    std::size_t position = 0;
    bool fired = false;
};

// The status fault fired when the nth command of its code got that status.
bool statusFired(const RunRecord& run, const SeededFault& f) {
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i + 1 < run.transfers.size(); ++i) {
        const auto& t = run.transfers[i];
        if (t.kind != Kind::Command || t.bytes.empty() || t.bytes[0] != f.code) continue;
        if (++seen != f.nth) continue;
        const auto& r = run.transfers[i + 1];
        return r.kind == Kind::Reply && r.bytes.size() > 1 && r.bytes[1] == f.status;
    }
    return false;
}

}  // namespace

std::uint64_t sweepSeededFaults(const SweepOperation& op, std::uint64_t seed, int runs) {
    RunRecord clean = op.run([](auto&, auto&) {}, 0);
    ++Figures::get().runs;
    EXPECT_TRUE(clean.result);
    std::map<std::uint8_t, std::uint64_t> perCode;
    for (const auto& t : clean.transfers)
        if (t.kind == Kind::Command && !t.bytes.empty()) ++perCode[t.bytes[0]];
    std::vector<std::uint8_t> codes;
    for (std::uint8_t c : op.codes)
        if (perCode.count(c)) codes.push_back(c);

    std::uint64_t injected = 0;
    for (int r = 0; r < runs; ++r) {
        std::mt19937_64 rng(seed * 1000003u + static_cast<std::uint64_t>(r));
        std::vector<SeededFault> faults(1 + rng() % 3);
        for (auto& f : faults) {
            if (!codes.empty() && rng() % 3 == 0) {
                f.what = SeededFault::What::Status;
                f.code = codes[rng() % codes.size()];
                f.nth = 1 + rng() % perCode[f.code];
                f.status = static_cast<std::uint8_t>(1 + rng() % 255);
            } else {
                f.what = SeededFault::What::Wire;
                f.wire = static_cast<sim::WireFault>(1 + rng() % 3);
                f.transfer = 1 + rng() % clean.transferCount;
                f.position = static_cast<std::size_t>(rng());
            }
        }
        // Every other run starts from a chip that a check must not pass.
        const std::uint64_t spoil = r % 2 ? 1 + rng() % (1u << 20) : 0;
        const std::string label = "seed " + std::to_string(seed) + " run " + std::to_string(r);
        RunRecord run;
        withinDeadline(op.name + ", " + label, std::chrono::seconds(120), [&] {
            run = op.run(
                [&](sim::VirtualWriter& w, sim::StatusInjector& statuses) {
                    for (auto& f : faults)
                        if (f.what == SeededFault::What::Status)
                            statuses.failNth(f.code, f.nth, f.status);
                    w.setWireFaultHook(
                        [&faults, &op](const sim::WireEvent& e, std::size_t& position) {
                            for (auto& f : faults) {
                                if (f.what != SeededFault::What::Wire || f.fired ||
                                    e.number != f.transfer)
                                    continue;
                                // A reply packet arrives whole or not at all; only its bits can
                                // turn.
                                if (e.endpoint == link::Endpoint::ReplyIn &&
                                    f.wire != sim::WireFault::FlipBit)
                                    continue;
                                if (!op.judgesData && e.endpoint == link::Endpoint::DataIn)
                                    continue;
                                f.fired = true;
                                position = f.position;
                                return f.wire;
                            }
                            return sim::WireFault::None;
                        });
                },
                spoil);
        });
        ++Figures::get().runs;
        std::uint64_t fired = 0;
        for (auto& f : faults) {
            if (f.what == SeededFault::What::Status) f.fired = statusFired(run, f);
            if (f.fired) ++fired;
        }
        injected += fired;
        Figures::get().faults += fired;

        SCOPED_TRACE(op.name + ", " + label);
        const bool saysPassed =
            run.result || (firstLine(run, kFailMark) < 0 && hasLine(run, op.passLine));
        if (saysPassed) {
            EXPECT_TRUE(run.dataTrue) << "passed for data that are not true";
            if (fired) ++Figures::get().passedWithFault;
        }
        checkClosing(op, run);
        if (::testing::Test::HasFatalFailure()) break;
    }
    return injected;
}

}  // namespace sonoprog::test
