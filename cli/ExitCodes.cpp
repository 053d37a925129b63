#include "cli/ExitCodes.h"

#include <array>

namespace sonoprog::cli {

namespace {

int rank(int code) {
    constexpr std::array<int, 6> kOrder = {kExitStopped, kExitUsage,  kExitNoWriter,
                                           kExitFile,    kExitFailed, kExitPassed};
    for (std::size_t i = 0; i < kOrder.size(); ++i)
        if (kOrder[i] == code) return static_cast<int>(i);
    return static_cast<int>(kOrder.size());
}

// Fail lines of the operations, without their marks, that say a file or the
// link failed rather than the chip; matched at the start of the line.
struct FailText {
    std::string_view start;
    int code;
};
constexpr FailText kFailTexts[] = {
    {"USB failed!", kExitNoWriter},
    {"SB failed!", kExitNoWriter},  // the serial flash write's own spelling
    {"Can't open this file!", kExitFile},
    {"Can not open this file!", kExitFile},
    {"Failed to open DAT file:", kExitFile},
    {"Failed to open the file:", kExitFile},
    {"This DAT file was modified!", kExitFile},
    {"This file was modified!", kExitFile},
    {"his file was modified!", kExitFile},  // the serial flash verify's own spelling
    {"Failed to create LOG file!", kExitFile},
    {"Failed to create read file!", kExitFile},
    {"Failed to write read file!", kExitFile},
    {"Failed to write LOG file!", kExitFile},
};

}  // namespace

int worseExit(int a, int b) {
    return rank(a) <= rank(b) ? a : b;
}

int exitForFailText(std::string_view bare) {
    for (const auto& f : kFailTexts)
        if (bare.substr(0, f.start.size()) == f.start) return f.code;
    return kExitFailed;
}

}  // namespace sonoprog::cli
