// writer.ini, the persistent virtual Writer's description: every key optional,
// anything unusable passed over with a warning, nothing fatal.

#include <cstdint>
#include <string_view>

#include "core/IniFile.h"
#include "sim/WriterSettings.h"

using namespace sonoprog;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    sim::WriterSettings s = sim::readWriterSettings(core::IniFile::fromText(text));
    for (std::uint32_t page : s.tarnBadPages)
        if (page >= sim::kTarnPageCount) __builtin_trap();  // promised to be in range
    if (s.serialFlashSize &&
        (*s.serialFlashSize == 0 || *s.serialFlashSize > sim::kMaxSerialFlashSize))
        __builtin_trap();
    return 0;
}
