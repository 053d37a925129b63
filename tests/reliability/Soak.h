#pragma once

#include <unistd.h>

#include <cstdint>
#include <fstream>

namespace sonoprog::test {

// Resident memory of this process in KiB.
inline long residentKiB() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Growth of resident memory that counts as noise. Under AddressSanitizer the
// freed memory sits in its quarantine, so the figure means nothing there; its
// leak check at exit takes the place of this one.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr long kRssNoiseKiB = 1L << 30;
#else
inline constexpr long kRssNoiseKiB = 2048;
#endif

}  // namespace sonoprog::test
