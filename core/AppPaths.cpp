#include "core/AppPaths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>
#include <vector>

namespace sonoprog::core {

std::filesystem::path userStateDir(const char* xdgStateHome, const char* home) {
    // A relative XDG path is invalid and must be ignored.
    if (xdgStateHome && *xdgStateHome == '/') return xdgStateHome;
    if (home && *home == '/') return std::filesystem::path(home) / ".local" / "state";
    return {};
}

std::filesystem::path chooseTempDir(
    const std::filesystem::path& programDir, const std::filesystem::path& stateDir,
    const std::function<bool(const std::filesystem::path&)>& writable) {
    auto beside = programDir / "Temp";
    std::error_code ec;
    if (stateDir.empty() || !std::filesystem::is_directory(programDir, ec)) return beside;
    if (std::filesystem::is_directory(beside, ec)) {
        if (writable(beside)) return beside;
    } else if (!std::filesystem::exists(beside, ec) && writable(programDir)) {
        return beside;
    }
    return stateDir / "sonoprog" / "Temp";
}

bool canWriteInto(const std::filesystem::path& folder) {
    // Effective ids, as the file system will judge the files we create; a
    // read-only mount fails here too.
    return faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

namespace {

std::filesystem::path stateDirOfUser() {
    const char* home = std::getenv("HOME");
    if (!home || *home != '/') {
        if (const passwd* pw = getpwuid(geteuid())) home = pw->pw_dir;
    }
    return userStateDir(std::getenv("XDG_STATE_HOME"), home);
}

}  // namespace

AppPaths AppPaths::forFolder(const std::filesystem::path& programDir) {
    AppPaths paths;
    paths.programDir = programDir;
    paths.tempDir = chooseTempDir(programDir, stateDirOfUser(), canWriteInto);
    return paths;
}

AppPaths AppPaths::forRunningProgram() {
    std::error_code ec;
    auto exe = std::filesystem::canonical("/proc/self/exe", ec);
    if (ec) return forFolder(std::filesystem::current_path(ec));
    return forFolder(exe.parent_path());
}

void AppPaths::ensureTemp() const {
    if (tempDir == programDir / "Temp") {
        std::error_code ec;
        std::filesystem::create_directory(tempDir, ec);
        return;
    }
    std::vector<std::filesystem::path> missing;
    std::error_code ec;
    for (auto p = tempDir; !p.empty() && !std::filesystem::exists(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) ::mkdir(it->c_str(), 0700);
}

}  // namespace sonoprog::core
