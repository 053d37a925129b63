#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <random>

extern char** environ;

namespace sonoprog::bench {

namespace {
std::map<std::string, Scenario>& registry() {
    static std::map<std::string, Scenario> scenarios;
    return scenarios;
}
}  // namespace

ScenarioRegistrar::ScenarioRegistrar(const char* name, Scenario run, int repeat) {
    registry().emplace(name, run);
    benchmark::RegisterBenchmark(
        name,
        [run, repeat](benchmark::State& state) {
            for (auto _ : state) {
                Timed sum;
                for (int i = 0; i < repeat; ++i) {
                    const Timed t = run();
                    sum.seconds += t.seconds;
                    sum.cpuSeconds += t.cpuSeconds;
                    sum.exchanges = t.exchanges;
                    sum.bulkOut = t.bulkOut;
                    sum.bulkIn = t.bulkIn;
                }
                state.SetIterationTime(sum.seconds / repeat);
                state.counters["exchanges"] = static_cast<double>(sum.exchanges);
                state.counters["bulk_out"] = static_cast<double>(sum.bulkOut);
                state.counters["bulk_in"] = static_cast<double>(sum.bulkIn);
                state.counters["cpu_ms"] = sum.cpuSeconds * 1000 / repeat;
            }
        })
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
}

bool runScenario(const std::string& name) {
    auto it = registry().find(name);
    if (it == registry().end()) return false;
    it->second();
    return true;
}

std::vector<std::string> scenarioNames() {
    std::vector<std::string> names;
    for (const auto& [name, run] : registry()) names.push_back(name);
    return names;
}

std::filesystem::path dataDir() {
    const char* env = std::getenv("SONOPROG_BENCH_DIR");
    std::filesystem::path dir = env && *env ? env : "bench-data";
    std::filesystem::create_directories(dir);
    return std::filesystem::absolute(dir);
}

std::filesystem::path patternFile(const std::string& name, std::uint64_t size) {
    const auto path = dataDir() / name;
    std::error_code ec;
    if (std::filesystem::file_size(path, ec) == size && !ec) return path;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937 random(20110607);
    std::vector<char> block(1u << 20);
    for (std::uint64_t done = 0; done < size;) {
        for (auto& b : block) b = static_cast<char>(random() & 0xFF);
        const auto n =
            static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), size - done));
        out.write(block.data(), n);
        done += static_cast<std::uint64_t>(n);
    }
    if (!out) fatal("cannot write " + path.string());
    return path;
}

std::filesystem::path cachedPatternFile(const std::string& name, std::uint64_t size) {
    static std::map<std::string, std::filesystem::path> made;
    auto it = made.find(name);
    if (it != made.end()) return it->second;
    auto path = patternFile(name, size);
    warmPageCache(path);
    made.emplace(name, path);
    return path;
}

std::filesystem::path loadImage() {
    return cachedPatternFile("image-128MiB.bin", kLoadImageSize);
}

OperationRig::OperationRig(const std::string& folder)
    : paths(core::AppPaths::forFolder(dataDir() / folder)) {
    std::filesystem::create_directories(paths.programDir);
    paths.ensureTemp();
    writer.open();
}

void warmPageCache(const std::filesystem::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fatal("cannot read " + path.string());
    std::vector<char> block(1u << 20);
    while (std::fread(block.data(), 1, block.size(), f) == block.size()) {
    }
    std::fclose(f);
}

Timed runProgram(const std::vector<std::string>& argv,
                 const std::optional<std::filesystem::path>& stdoutPath) {
    Timed failed;
    failed.seconds = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = stdoutPath ? stdoutPath->string() : "/dev/null";
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return failed;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return failed;
    Timed t;
    t.seconds = secondsSince(start);
    t.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? t : failed;
}

long peakRssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

namespace {
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
}  // namespace

Stopwatch::Stopwatch() : wall_(std::chrono::steady_clock::now()), cpu_(processCpuSeconds()) {}

Timed Stopwatch::stop() const {
    Timed t;
    t.seconds = secondsSince(wall_);
    t.cpuSeconds = processCpuSeconds() - cpu_;
    return t;
}

void QuietPane::appendLine(const core::LogLine& line) {
    lines.push_back(line.text);
}

bool QuietPane::hasFail() const {
    for (const auto& l : lines)
        if (l.find("[X]") != std::string::npos) return true;
    return false;
}

void CountingPrompter::showMessage(std::string_view, std::string_view text, core::BoxIcon) {
    ++boxes;
    last = std::string(text);
}

void fatal(const std::string& what) {
    std::fprintf(stderr, "sonoprog_bench: %s\n", what.c_str());
    std::exit(2);
}

}  // namespace sonoprog::bench
