#include "tests/cli/CliRunner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace sonoprog::test {

std::vector<std::string> CliRun::outLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> CliRun::bodyLines() const {
    auto lines = outLines();
    if (!lines.empty() && lines.back().rfind(R"({"kind":"result",)", 0) == 0) lines.pop_back();
    return lines;
}

std::vector<std::string> withoutTimes(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (std::string line : lines) {
        for (const char* label : {"Start: ", "End: "})
            if (line.rfind(label, 0) == 0 && line.size() == std::string(label).size() + 8)
                line = std::string(label) + "HH:MM:SS";
        for (const char* prefix : {"PGM_", "VRF_", "READ_"}) {
            auto at = line.find(prefix);
            if (at != std::string::npos && line.size() >= at + std::string(prefix).size() + 13)
                line.replace(at + std::string(prefix).size(), 13, "YYYYMMDD-HHMM");
        }
        out.push_back(line);
    }
    return out;
}

std::vector<std::uint8_t> patternImage(std::size_t pages, std::uint8_t seed) {
    std::vector<std::uint8_t> image(pages * 1024);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>((i / 1024) * 7 + (i % 251) + seed);
    return image;
}

std::string sample(const std::string& name) {
    return std::string(SONOPROG_SAMPLES_DIR) + "/" + name;
}

std::vector<std::string> lastLines(const CliRun& run, std::size_t n) {
    auto lines = run.outLines();
    if (lines.size() < n) return lines;
    return {lines.end() - static_cast<long>(n), lines.end()};
}

CliRun CliTest::run(std::vector<std::string> args, const std::string& writer) {
    std::vector<std::string> all = {"--writer", writer.empty() ? dir.sim() : writer, "--temp",
                                    dir.temp()};
    if (!setup.empty()) all.insert(all.end(), {"--setup", setup});
    all.insert(all.end(), args.begin(), args.end());
    return runCli(all);
}

std::filesystem::path cliProgram() {
    return SONOPROG_CLI_PATH;
}

CliRun runCli(const std::vector<std::string>& args) {
    return runProgram(SONOPROG_CLI_PATH, args);
}

CliRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& args) {
    return startCli(args, {}, program).wait();
}

CliProcess startCli(const std::vector<std::string>& args, const CliStreams& streams,
                    const std::filesystem::path& program) {
    CliProcess process;
    process.capture_ = std::make_unique<TempDir>();
    const auto outPath =
        streams.out.empty() ? (process.capture_->path() / "out").string() : streams.out;
    const auto errPath = (process.capture_->path() / "err").string();
    process.outPath_ = outPath;

    std::vector<std::string> argStore = {program.string()};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("NO_COLOR=", 0) != 0) envStore.emplace_back(*e);
    envStore.emplace_back("NO_COLOR=1");
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(
        &actions, 0, streams.in.empty() ? "/dev/null" : streams.in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    int rc = posix_spawn(&process.pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) process.pid_ = -1;
    return process;
}

CliRun CliProcess::wait() {
    CliRun run;
    if (pid_ <= 0) {
        run.err = "posix_spawn failed";
        return run;
    }
    int wstatus = 0;
    while (waitpid(pid_, &wstatus, 0) < 0) {
    }
    pid_ = -1;
    if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
    if (outPath_.rfind("/dev/", 0) != 0) run.out = readText(outPath_);
    run.err = readText(capture_->path() / "err");
    return run;
}

CliProcess::~CliProcess() {
    if (pid_ > 0) wait();
}

}  // namespace sonoprog::test
