// Any byte string as a DAT file: the converter must stay inside its buffers,
// return 0 or 2, and leave all 0xFF after 2.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ivr/Ivr2bin.h"

namespace {

// The built-in table: the converter's bounds do not depend on the keys.
const sonoprog::ivr::IvrKeys keys;

void convert(const std::uint8_t* data, std::size_t size, std::size_t length) {
    // fmemopen refuses an empty buffer: an empty file is a temporary one.
    std::vector<std::uint8_t> file(data, data + size);
    std::FILE* f = size == 0 ? std::tmpfile() : fmemopen(file.data(), size, "rb");
    if (!f) std::abort();
    std::vector<std::uint8_t> image(length, 0xAA);
    const int result = sonoprog::ivr::IvrStreamToImage(f, image.data(), image.size(), keys);
    std::fclose(f);
    if (result != sonoprog::ivr::kIvrOk && result != sonoprog::ivr::kIvrNotIvr) std::abort();
    if (result == sonoprog::ivr::kIvrNotIvr)
        for (std::uint8_t b : image)
            if (b != 0xFF) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    convert(data, size, 4096);
    static constexpr std::size_t kOtherLengths[] = {0, 1, 2, 7, 15, 16, 100, 4097};
    convert(data, size, kOtherLengths[size % 8]);
    return 0;
}
