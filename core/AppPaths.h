#pragma once

#include <filesystem>
#include <functional>

namespace sonoprog::core {

// Where the program finds its settings and keeps its files: Setup.ini beside
// the executable, the Temp folder there. When the program's folder cannot be
// written (an installed copy run by a normal user), Temp moves to the user's
// state folder; Setup.ini is only ever the one beside the program.
struct AppPaths {
    std::filesystem::path programDir;
    std::filesystem::path tempDir;
    // Settings taken from elsewhere than beside the program (sonoprog-cli --setup).
    std::filesystem::path setupOverride{};

    std::filesystem::path setupIni() const {
        return setupOverride.empty() ? programDir / "Setup.ini" : setupOverride;
    }

    // The folder of the running executable, found through its real path so that
    // links to it work.
    static AppPaths forRunningProgram();
    static AppPaths forFolder(const std::filesystem::path& programDir);

    // Makes Temp when it is missing: one level beside the program, the missing
    // folders up to it (private to the user) in the state folder. A failure is
    // silent; the operations that write there report their own file errors.
    void ensureTemp() const;
};

// $XDG_STATE_HOME when it is an absolute path, else $HOME/.local/state; empty
// when neither is known. Either argument may be null.
std::filesystem::path userStateDir(const char* xdgStateHome, const char* home);

// Temp beside the program when that folder, or a Temp already in it, can be
// written; otherwise <stateDir>/sonoprog/Temp. A program folder that does not
// exist, or an unknown state folder, keeps Temp beside the program.
std::filesystem::path chooseTempDir(
    const std::filesystem::path& programDir, const std::filesystem::path& stateDir,
    const std::function<bool(const std::filesystem::path&)>& writable);

// True when this process may create files in the folder.
bool canWriteInto(const std::filesystem::path& folder);

}  // namespace sonoprog::core
