#include "PersistentWriter.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <unistd.h>

#include "ChipFile.h"
#include "StandardWriter.h"

namespace sonoprog::sim {

PersistentWriterResult openPersistentWriter(const std::filesystem::path& dir, unsigned chipFiles) {
    PersistentWriterResult result;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir, ec)) {
        result.error = dir.string() + ": cannot be used as the virtual Writer's folder";
        return result;
    }
    const auto iniPath = dir / kWriterSettingsFileName;
    WriterSettings settings;
    if (std::filesystem::exists(iniPath, ec)) {
        if (std::filesystem::is_directory(iniPath, ec) || ::access(iniPath.c_str(), R_OK) != 0)
            result.warnings.push_back(iniPath.string() + " cannot be read; using the defaults");
        else
            settings = readWriterSettings(iniPath);
    }
    result.warnings.insert(result.warnings.end(), settings.warnings.begin(),
                           settings.warnings.end());

    auto writer = makeStandardWriter();
    (void)chipFiles;
    if (settings.failFrom != 0) writer->failFrom(settings.failFrom);
    result.writer = std::move(writer);
    return result;
}

}  // namespace sonoprog::sim
