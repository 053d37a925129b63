#include "AppPaths.h"

#include <system_error>

namespace sonoprog::core {

AppPaths AppPaths::forFolder(const std::filesystem::path& programDir) {
    AppPaths paths;
    paths.programDir = programDir;
    paths.tempDir = programDir / "Temp";
    return paths;
}

AppPaths AppPaths::forRunningProgram() {
    std::error_code ec;
    auto exe = std::filesystem::canonical("/proc/self/exe", ec);
    if (ec) return forFolder(std::filesystem::current_path(ec));
    return forFolder(exe.parent_path());
}

void AppPaths::ensureTemp() const {
    std::error_code ec;
    std::filesystem::create_directory(tempDir, ec);
}

}  // namespace sonoprog::core
