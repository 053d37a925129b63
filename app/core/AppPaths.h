#pragma once

#include <filesystem>

namespace sonoprog::core {

// Where the program finds its settings and keeps its files: Setup.ini beside
// the executable, the Temp folder there.
struct AppPaths {
    std::filesystem::path programDir;
    std::filesystem::path tempDir;
    // Settings taken from elsewhere than beside the program (sonoprog-cli --setup).
    std::filesystem::path setupOverride;

    std::filesystem::path setupIni() const {
        return setupOverride.empty() ? programDir / "Setup.ini" : setupOverride;
    }

    // The folder of the running executable, found through its real path so that
    // links to it work.
    static AppPaths forRunningProgram();
    static AppPaths forFolder(const std::filesystem::path& programDir);

    // Makes Temp (one level) when it is missing; a failure is silent.
    void ensureTemp() const;
};

}  // namespace sonoprog::core
