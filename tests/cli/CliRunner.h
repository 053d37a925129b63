#pragma once

#include <sys/types.h>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace sonoprog::test {

struct CliRun {
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string out;
    std::string err;
    std::vector<std::string> outLines() const;
    // Under --json: the lines before the closing {"kind":"result",...}.
    std::vector<std::string> bodyLines() const;
};

// Runs the built sonoprog-cli with these arguments, standard input empty,
// standard output and error captured apart. NO_COLOR is set so that no test
// depends on a terminal.
CliRun runCli(const std::vector<std::string>& args);
// The same with another program (a copy of sonoprog-cli in a folder of its own).
CliRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& args);
// Where the built sonoprog-cli is.
std::filesystem::path cliProgram();

// Where a started run's standard output goes: captured when empty, else the
// named file (a device such as /dev/full included; not read back then); and
// the file its standard input reads (empty when none is named).
struct CliStreams {
    std::string out;
    std::string in = {};
};

// A run started and not yet waited for, so that several run at once.
class CliProcess {
public:
    CliProcess() = default;
    CliProcess(CliProcess&& other) noexcept
        : pid_(std::exchange(other.pid_, -1)),
          capture_(std::move(other.capture_)),
          outPath_(std::move(other.outPath_)) {}
    CliProcess& operator=(CliProcess&&) = delete;
    ~CliProcess();
    pid_t pid() const { return pid_; }
    CliRun wait();

private:
    friend CliProcess startCli(const std::vector<std::string>&, const CliStreams&,
                               const std::filesystem::path&);
    pid_t pid_ = -1;
    std::unique_ptr<TempDir> capture_;
    std::string outPath_;
};
// (`program` is the built sonoprog-cli unless named.)
CliProcess startCli(const std::vector<std::string>& args, const CliStreams& streams = {},
                    const std::filesystem::path& program = cliProgram());

// The lines with the clock taken out: "Start: 04:50:07" reads "Start: HH:MM:SS"
// and the stamp of a Temp file name "PGM_YYYYMMDD-HHMM".
std::vector<std::string> withoutTimes(const std::vector<std::string>& lines);

// `pages` pages of 1,024 bytes, each byte a function of its page and offset.
std::vector<std::uint8_t> patternImage(std::size_t pages, std::uint8_t seed = 0);

// A folder for one test's files: --temp, --setup and sim:DIR point here.
class CliFixtureDir : public TempDir {
public:
    std::string temp() const { return (path() / "Temp").string(); }
    std::string sim() const { return "sim:" + (path() / "writer").string(); }
    std::filesystem::path writerDir() const { return path() / "writer"; }
};

// A file of the bundled samples/ folder.
std::string sample(const std::string& name);

// The last n lines of standard output (all of them when there are fewer).
std::vector<std::string> lastLines(const CliRun& run, std::size_t n);

// Commands on a Writer folder and a Temp of the test's own; --setup too when
// `setup` names a file.
class CliTest : public ::testing::Test {
protected:
    CliRun run(std::vector<std::string> args, const std::string& writer = "");
    void writerIni(const std::string& text) { dir.write("writer/writer.ini", text); }

    CliFixtureDir dir;
    std::string setup;
};

}  // namespace sonoprog::test
