// Serial flash erase, write and verify of a 16 MiB image on the virtual
// Writer against a bare loop of the same exchanges; a 16 MiB comparison
// against the bare read it needs.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "bench/BenchSupport.h"
#include "core/AppPaths.h"
#include "core/ImageSum.h"
#include "core/OperationLog.h"
#include "link/Link.h"
#include "serialflash/SerialFlashCommands.h"
#include "serialflash/SerialFlashOperations.h"
#include "sim/SerialFlashChip.h"
#include "sim/VirtualWriter.h"

using namespace sonoprog;

namespace {

constexpr std::uint64_t kImageSize = std::uint64_t{16} << 20;
constexpr std::uint8_t kMid = 0xEF;
constexpr std::uint8_t kDid = 0x18;

std::filesystem::path image() {
    return bench::cachedPatternFile("nor-16MiB.bin", kImageSize);
}

// A 16 MiB chip in the socket of a virtual Writer that keeps no log.
struct SerialFlashBench : bench::OperationRig {
    std::shared_ptr<sim::SerialFlashChip> chip =
        std::make_shared<sim::SerialFlashChip>(kImageSize, kMid, kDid);

    SerialFlashBench() : OperationRig("nor") {
        std::ofstream(paths.setupIni()) << "[Series Flash List]\nNumber=1\nDevName1=W25Q128\n\n"
                                           "[W25Q128]\nSize=16777216\nMID=0xEF\nDID=0x18\n";
        writer.addChip(chip);
    }
};

bench::Timed writeOperation() {
    SerialFlashBench b;
    serialflash::SerialFlashFields fields{"W25Q128", std::to_string(kImageSize), image().string(),
                                          std::to_string(kImageSize), "00000000"};
    serialflash::SerialFlashOperations ops(
        fields,
        core::OperationServices{b.log, b.lock, b.yield, b.prompter, b.clock, b.paths, &b.link});
    const bench::Stopwatch watch;
    const bool ok = ops.write();
    const bench::Timed elapsed = watch.stop();
    if (!ok || b.prompter.boxes) bench::fatal("serial flash write failed");
    return b.link.timed(elapsed);
}

// The same exchanges, packet for packet in kind and size, with nothing around them.
bench::Timed bareLoop() {
    SerialFlashBench b;
    std::vector<std::uint8_t> source(std::size_t{1} << 20);
    {
        std::ifstream in(image(), std::ios::binary);
        in.read(reinterpret_cast<char*>(source.data()),
                static_cast<std::streamsize>(source.size()));
    }
    core::Packet command{};
    core::Packet reply{};
    const bench::Stopwatch watch;
    command[2] = serialflash::kDetectParameter;
    command[3] = kMid;
    command[4] = kDid;
    command[0] = serialflash::byte(serialflash::Code::Detect);
    bool ok = b.link.Exchange(command, reply);
    command[0] = serialflash::byte(serialflash::Code::Erase);
    ok = ok && b.link.Exchange(command, reply);
    for (int pass = 0; pass < 2 && ok; ++pass) {
        command[0] = pass == 0 ? serialflash::byte(serialflash::Code::WriteBlock)
                               : serialflash::byte(serialflash::Code::ReadBlock);
        for (std::uint64_t address = 0; address < kImageSize && ok; address += 48) {
            const auto n =
                static_cast<std::uint8_t>(std::min<std::uint64_t>(48, kImageSize - address));
            core::put24(command, serialflash::kAddressAt, static_cast<std::uint32_t>(address));
            command[serialflash::kCountAt] = n;
            if (pass == 0)
                std::memcpy(command.data() + serialflash::kDataAt,
                            source.data() + address % (source.size() - 48), n);
            ok = b.link.Exchange(command, reply);
        }
    }
    command[0] = serialflash::byte(serialflash::Code::Disable);
    ok = ok && b.link.Exchange(command, reply);
    const bench::Timed elapsed = watch.stop();
    if (!ok) bench::fatal("serial flash bare loop failed");
    return b.link.timed(elapsed);
}

// A chip that already holds the image, as after a write.
void holdImage(SerialFlashBench& b) {
    std::vector<std::uint8_t> bytes(kImageSize);
    std::ifstream in(image(), std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    b.chip->memory().write(0, bytes.data(), bytes.size());
}

// The compare command's operation: read the 16 MiB back and compare each
// block with the file.
bench::Timed compareOperation() {
    SerialFlashBench b;
    holdImage(b);
    serialflash::SerialFlashFields fields{"W25Q128", std::to_string(kImageSize), image().string(),
                                          std::to_string(kImageSize), "00000000"};
    serialflash::SerialFlashOperations ops(
        fields,
        core::OperationServices{b.log, b.lock, b.yield, b.prompter, b.clock, b.paths, &b.link});
    core::ImageComparer diff;
    const bench::Stopwatch watch;
    const bool ok = ops.compare(diff);
    const bench::Timed elapsed = watch.stop();
    if (!ok || !diff.same() || b.prompter.boxes) bench::fatal("serial flash compare failed");
    return b.link.timed(elapsed);
}

// The reads a comparison needs: the chip (detect, every read block of
// 16 MiB, disable) and the image file beside it, a megabyte at a time.
bench::Timed bareRead() {
    SerialFlashBench b;
    holdImage(b);
    core::Packet command{};
    core::Packet reply{};
    std::vector<std::uint8_t> chunk(std::size_t{1} << 20);
    const bench::Stopwatch watch;
    std::FILE* file = std::fopen(image().c_str(), "rb");
    if (!file) bench::fatal("serial flash image missing");
    std::uint64_t fileAt = ~std::uint64_t{0};
    command[2] = serialflash::kDetectParameter;
    command[3] = kMid;
    command[4] = kDid;
    command[0] = serialflash::byte(serialflash::Code::Detect);
    bool ok = b.link.Exchange(command, reply);
    command[0] = serialflash::byte(serialflash::Code::ReadBlock);
    std::uint64_t folded = 0;
    for (std::uint64_t address = 0; address < kImageSize && ok; address += 48) {
        const auto n = static_cast<std::uint8_t>(std::min<std::uint64_t>(48, kImageSize - address));
        core::put24(command, serialflash::kAddressAt, static_cast<std::uint32_t>(address));
        command[serialflash::kCountAt] = n;
        ok = b.link.Exchange(command, reply);
        // A megabyte of the file each time the chip's address passes one.
        if (address >> 20 != fileAt) {
            fileAt = address >> 20;
            ok = ok && std::fread(chunk.data(), 1, chunk.size(), file) == chunk.size();
        }
        // Both are looked at, as a read would.
        folded += reply[serialflash::kDataAt] + chunk[address & (chunk.size() - 1)];
    }
    command[0] = serialflash::byte(serialflash::Code::Disable);
    ok = ok && b.link.Exchange(command, reply);
    std::fclose(file);
    const bench::Timed elapsed = watch.stop();
    if (!ok || folded == 0) bench::fatal("serial flash bare read failed");
    return b.link.timed(elapsed);
}

}  // namespace

SONOPROG_SCENARIO("nor/write-verify", writeOperation);
SONOPROG_SCENARIO("nor/bare-loop", bareLoop);
SONOPROG_SCENARIO("nor/compare", compareOperation);
SONOPROG_SCENARIO("nor/read-bare", bareRead);
