#include <cstdio>
#include <vector>

#include "cli/Commands.h"
#include "core/AtomicFile.h"
#include "core/FileHandle.h"
#include "core/NumberText.h"
#include "ivr/Ivr2bin.h"
#include "ivr/IvrEncoder.h"
#include "kiva/KivaOperations.h"

namespace sonoprog::cli {

namespace {

constexpr std::size_t kKivaImageSize = 4096;
// Larger images than this are no Kiva300 image; refused rather than allocated.
constexpr std::uint64_t kLargestImage = 1u << 24;

int decode(Session& s) {
    const Invocation& inv = s.invocation();
    const std::string& dat = inv.arguments.at(0);
    const std::string& out = inv.arguments.at(1);
    // The option's range (1 to 16 MiB) is checked with the arguments.
    const std::uint64_t length = inv.number("length").value_or(kKivaImageSize);
    if (!s.confirmReplace(out)) return kExitFailed;
    std::vector<std::uint8_t> image(length, 0xFF);
    const int result = ivr::IvrToImage(dat, image.data(), image.size(), s.ivrKeys());
    if (result != ivr::kIvrOk) {
        s.error(dat + ": " + std::string(kiva::conversionMessage(result)));
        return result == ivr::kIvrCannotOpen ? kExitFile : kExitFailed;
    }
    if (!core::writeFileAtomically(out, image.data(), image.size())) {
        s.error("cannot write " + out);
        return kExitFile;
    }
    const std::string word = core::hex4(ivr::ivrCheckWord(image.data(), image.size()));
    if (inv.json)
        std::fprintf(s.out(), "{\"kind\":\"checkword\",\"text\":\"%s\"}\n", word.c_str());
    else
        std::fprintf(s.out(), "%s\n", word.c_str());
    return kExitPassed;
}

int encode(Session& s) {
    const Invocation& inv = s.invocation();
    const std::string& imagePath = inv.arguments.at(0);
    const std::string& out = inv.arguments.at(1);
    if (!s.confirmReplace(out)) return kExitFailed;
    core::FilePtr in = core::openForReading(imagePath);
    const long long size = in ? core::streamSize(in.get()) : -1;
    if (size < 0) {
        s.error("cannot read " + imagePath);
        return kExitFile;
    }
    if (static_cast<std::uint64_t>(size) > kLargestImage) {
        s.error(imagePath + ": an image of at most " + std::to_string(kLargestImage) + " bytes");
        return kExitFailed;
    }
    std::vector<std::uint8_t> image(static_cast<std::size_t>(size));
    std::rewind(in.get());
    if (std::fread(image.data(), 1, image.size(), in.get()) != image.size()) {
        s.error("cannot read " + imagePath);
        return kExitFile;
    }
    ivr::IvrLayout layout;
    layout.dataOffset = static_cast<std::int16_t>(*inv.number("data-offset"));
    layout.regionStart = static_cast<std::int32_t>(*inv.number("start"));
    layout.regionEnd = static_cast<std::int32_t>(*inv.number("end"));
    if (!ivr::validIvrLayout(layout, image.size())) {
        s.error("layout not possible for an image of " + std::to_string(image.size()) +
                " bytes: --data-offset at least " + std::to_string(ivr::kIvrHeaderSize) +
                ", 0 <= --start <= --end <= the image's length, --end - --start a multiple of " +
                std::to_string(ivr::kIvrBlockSize));
        return kExitUsage;
    }
    if (!ivr::ImageToIvrFile(out, image.data(), image.size(), layout, s.ivrKeys())) {
        s.error("cannot write " + out);
        return kExitFile;
    }
    return kExitPassed;
}

}  // namespace

int runIvr(Session& s) {
    return s.invocation().command->action == "decode" ? decode(s) : encode(s);
}

}  // namespace sonoprog::cli
