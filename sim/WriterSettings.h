#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/IniFile.h"
#include "serialflash/SerialFlashProtocol.h"
#include "sim/Socket.h"
#include "tarn/TarnProtocol.h"

namespace sonoprog::sim {

// DIR/writer.ini of the persistent virtual Writer: what is in its socket and
// how it misbehaves. Every key is optional; a value that cannot be used is
// passed over with a warning, never fatal.
struct WriterSettings {
    // [Tarn20]
    std::vector<std::uint32_t> tarnBadPages;  // pages that never take data
    std::optional<std::uint8_t> tarnDetectStatus;
    // [Series Flash]: ids and size of the chip in the socket; without ids the
    // chip answers to whatever ids the operation sends.
    std::optional<std::uint8_t> serialFlashMid;
    std::optional<std::uint8_t> serialFlashDid;
    std::optional<std::uint32_t> serialFlashSize;
    std::optional<std::uint8_t> serialFlashDetectStatus;
    // [Kiva300], for both of its detect commands
    std::optional<std::uint8_t> kivaDetectStatus;
    // [Writer]: from this transfer on every transfer fails; 0 = never
    std::uint64_t failFrom = 0;
    // [Writer] RoundTripUs: the modelled link time of each exchange and each
    // bulk block, in microseconds; 0 = answers at once
    std::uint32_t roundTripUs = 0;
    // [Socket]: chips going in and out for a production run; without the
    // section a chip is always in the socket.
    std::optional<SocketScript> socket;

    std::vector<std::string> warnings;
};

inline constexpr std::uint32_t kTarnPageCount = tarn::kChipPages;
// A second per transfer is far beyond any real link; more is a typing error.
inline constexpr std::uint32_t kMaxRoundTripUs = 1000000;
// Addresses travel in 24 bits, so no serial flash chip is larger.
inline constexpr std::uint32_t kMaxSerialFlashSize = serialflash::kAddressSpace;
inline constexpr std::uint32_t kDefaultSerialFlashSize = kMaxSerialFlashSize;
inline constexpr std::uint32_t kMaxSocketUnits = 1000000;
// The longest swap [Socket] SwapMs takes: ten minutes.
inline constexpr std::uint32_t kMaxSwapMs = 600000;

WriterSettings readWriterSettings(const core::IniFile& ini);
// A missing file gives the defaults without a warning.
WriterSettings readWriterSettings(const std::filesystem::path& file);

}  // namespace sonoprog::sim
