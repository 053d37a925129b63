#include "core/FileHandle.h"

#include <sys/stat.h>

namespace sonoprog::core {

FilePtr openForReading(const std::filesystem::path& path) {
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) return nullptr;
    struct stat st {};
    if (fstat(fileno(f.get()), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
    return f;
}

long long streamSize(std::FILE* f) {
    if (!f || fseeko(f, 0, SEEK_END) != 0) return -1;
    off_t pos = ftello(f);
    return pos < 0 ? -1 : static_cast<long long>(pos);
}

}  // namespace sonoprog::core
