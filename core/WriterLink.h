#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sonoprog::core {

inline constexpr std::size_t kPacketSize = 64;
using Packet = std::array<std::uint8_t, kPacketSize>;

// The three transfers every chip command set is built from. A failed
// transfer has already been reported to the user (a modal box) when these
// return false.
class WriterLink {
public:
    virtual ~WriterLink() = default;
    // 64 bytes out on the command pipe, then 64 bytes in from the reply pipe.
    virtual bool Exchange(const Packet& command, Packet& reply) = 0;
    virtual bool BulkWrite(const std::uint8_t* data, std::size_t length) = 0;
    virtual bool BulkRead(std::uint8_t* buffer, std::size_t length) = 0;
};

// Little-endian 24-bit value at bytes [at, at+2].
inline void put24(Packet& p, std::size_t at, std::uint32_t value) {
    p[at] = static_cast<std::uint8_t>(value);
    p[at + 1] = static_cast<std::uint8_t>(value >> 8);
    p[at + 2] = static_cast<std::uint8_t>(value >> 16);
}
inline std::uint32_t get24(const Packet& p, std::size_t at) {
    return p[at] | (static_cast<std::uint32_t>(p[at + 1]) << 8) |
           (static_cast<std::uint32_t>(p[at + 2]) << 16);
}

}  // namespace sonoprog::core
