#pragma once

#include <filesystem>

namespace sonoprog::core {

// Where the program finds its settings and keeps its files: Setup.ini beside
// the executable, the Temp folder there.
struct AppPaths {
    std::filesystem::path programDir;
    std::filesystem::path tempDir;

    std::filesystem::path setupIni() const { return programDir / "Setup.ini"; }

    // The folder of the running executable, found through its real path so that
    // links to it work.
    static AppPaths forRunningProgram();
    static AppPaths forFolder(const std::filesystem::path& programDir);

    // Makes Temp (one level) when it is missing; a failure is silent.
    void ensureTemp() const;
};

}  // namespace sonoprog::core
