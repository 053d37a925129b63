#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/FileChooser.h"
#include "core/OperationLog.h"
#include "core/OperationPane.h"
#include "core/Prompter.h"
#include "core/TabLock.h"
#include "core/WriterLink.h"
#include "core/YieldHook.h"
#include "link/Link.h"
#include "sim/VirtualWriter.h"

namespace sonoprog::bench {

// Little-endian fields of the WAV headers the benchmarks write.
inline void put32(std::ofstream& out, std::uint32_t v) {
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
    out.write(b, 4);
}
inline void put16(std::ofstream& out, std::uint16_t v) {
    const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
    out.write(b, 2);
}

// The figures that drive a whole operation time one run each, their set-up
// left out. Each is also callable on its own (sonoprog_bench --rss=NAME) so
// that its peak memory can be measured in a fresh process.
struct Timed {
    double seconds = 0;  // of the timed part
    // Transfers the timed part sent, for the operations on the Writer.
    std::uint64_t exchanges = 0;
    std::uint64_t bulkOut = 0;
    std::uint64_t bulkIn = 0;
    // User + system time of this process over the timed part, or of the
    // program it ran: on a shared machine the steadier measure.
    double cpuSeconds = 0;
};
using Scenario = std::function<Timed()>;

// `repeat` runs make one sample (their times summed): figures of a few
// milliseconds would otherwise measure the machine's other work more than their own.
struct ScenarioRegistrar {
    ScenarioRegistrar(const char* name, Scenario run, int repeat = 1);
};

// Runs a registered scenario once; false when there is none of that name.
bool runScenario(const std::string& name);
std::vector<std::string> scenarioNames();

#define SONOPROG_SCENARIO_CAT2(a, b) a##b
#define SONOPROG_SCENARIO_CAT(a, b) SONOPROG_SCENARIO_CAT2(a, b)
#define SONOPROG_SCENARIO(name, ...)                                                              \
    static const ::sonoprog::bench::ScenarioRegistrar SONOPROG_SCENARIO_CAT(kScenario, __LINE__)( \
        name, __VA_ARGS__)

// Where the benchmark's large files live (SONOPROG_BENCH_DIR, else ./bench-data).
std::filesystem::path dataDir();
// A file of exactly `size` bytes of a fixed pseudo-random pattern, made once
// and reused by later runs.
std::filesystem::path patternFile(const std::string& name, std::uint64_t size);
// patternFile(), read once into the page cache the first time it is asked for.
std::filesystem::path cachedPatternFile(const std::string& name, std::uint64_t size);
// The 128 MiB image that the Load File figures sum, in the page cache.
std::filesystem::path loadImage();
inline constexpr std::uint64_t kLoadImageSize = std::uint64_t{128} << 20;
// Reads the whole file once so that it sits in the page cache.
void warmPageCache(const std::filesystem::path& path);

// Runs a program with stdout to /dev/null (or to `stdoutPath`) and waits
// for it: its wall time and its user + system time. Negative seconds when it failed.
Timed runProgram(const std::vector<std::string>& argv,
                 const std::optional<std::filesystem::path>& stdoutPath = std::nullopt);

// VmHWM of this process in KiB.
long peakRssKiB();

double secondsSince(std::chrono::steady_clock::time_point start);

// Wall and CPU time from its construction to stop().
class Stopwatch {
public:
    Stopwatch();
    Timed stop() const;

private:
    std::chrono::steady_clock::time_point wall_;
    double cpu_;
};

// --- quiet stand-ins for what a user would see ---
class QuietPane final : public core::OperationPane {
public:
    void clearLines() override { lines.clear(); }
    void appendLine(const core::LogLine& line) override;
    void setProgress(int percent) override { progress = percent; }
    bool hasFail() const;
    std::vector<std::string> lines;
    int progress = 0;
};

class NoLock final : public core::TabLock {
public:
    void lock() override {}
    void unlock() override {}
};

// Every box is a fault in a benchmark run: it is counted, a question answers yes.
class CountingPrompter final : public core::Prompter {
public:
    void showMessage(std::string_view, std::string_view text, core::BoxIcon) override;
    bool askYesNo(std::string_view, std::string_view, core::BoxIcon) override { return true; }
    int boxes = 0;
    std::string last;
};

// Answers every open or save dialog with the paths set here.
class FixedChooser final : public core::FileChooser {
public:
    std::optional<std::string> chooseOpenFile(const core::FileDialogRequest&) override {
        return open;
    }
    std::vector<std::string> chooseOpenFiles(const core::FileDialogRequest&) override {
        return many;
    }
    std::optional<std::string> chooseSaveFile(const core::FileDialogRequest&) override {
        return save;
    }
    std::optional<std::string> open;
    std::vector<std::string> many;
    std::optional<std::string> save;
};

// Counts the transfers on their way to the real link.
class CountingLink final : public core::WriterLink {
public:
    explicit CountingLink(core::WriterLink& inner) : inner_(inner) {}
    bool Exchange(const core::Packet& command, core::Packet& reply) override {
        ++exchanges;
        return inner_.Exchange(command, reply);
    }
    bool BulkWrite(const std::uint8_t* data, std::size_t length) override {
        ++bulkOut;
        return inner_.BulkWrite(data, length);
    }
    bool BulkRead(std::uint8_t* buffer, std::size_t length) override {
        ++bulkIn;
        return inner_.BulkRead(buffer, length);
    }
    Timed timed(Timed t) const {
        t.exchanges = exchanges;
        t.bulkOut = bulkOut;
        t.bulkIn = bulkIn;
        return t;
    }
    std::uint64_t exchanges = 0;
    std::uint64_t bulkOut = 0;
    std::uint64_t bulkIn = 0;

private:
    core::WriterLink& inner_;
};

// What an operation reports through, with a virtual Writer (keeping no
// transfer log) behind a counting link; its program folder is dataDir()/folder.
struct OperationRig {
    explicit OperationRig(const std::string& folder);
    core::AppPaths paths;
    QuietPane pane;
    core::OperationLog log{pane};
    NoLock lock;
    CountingPrompter prompter;
    FixedChooser files;
    core::NoYield yield;
    core::SystemClock clock;
    sim::VirtualWriter writer;
    link::Link realLink{writer, prompter};
    CountingLink link{realLink};
};

// Stops the benchmark run loudly: a figure of a failed operation is worthless.
[[noreturn]] void fatal(const std::string& what);

}  // namespace sonoprog::bench
