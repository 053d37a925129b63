#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "TempDir.h"

namespace sonoprog::test {

struct CliRun {
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string out;
    std::string err;
    std::vector<std::string> outLines() const;
};

// Runs the built sonoprog-cli with these arguments, standard input empty,
// standard output and error captured apart. NO_COLOR is set so that no test
// depends on a terminal.
CliRun runCli(const std::vector<std::string>& args);

// A folder for one test's files: --temp, --setup and sim:DIR point here.
class CliFixtureDir : public TempDir {
public:
    std::string temp() const { return (path() / "Temp").string(); }
    std::string sim() const { return "sim:" + (path() / "writer").string(); }
    std::filesystem::path writerDir() const { return path() / "writer"; }
};

}  // namespace sonoprog::test
