#pragma once

#include <cstdint>
#include <string>

#include "link/WriterLink.h"

namespace sonoprog::cli {

// An option's number as the text an operator would type into a tab field:
// the operations read fields as signed 32-bit decimal and compute with the
// unsigned pattern, so 4294967295 goes in as "-1" and comes out the same.
inline std::string fieldText(std::uint64_t value) {
    return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

// The link of a command that never talks to the Writer (Load File, the
// editor): every transfer fails, and none is ever tried.
class NoWriterLink final : public link::WriterLink {
public:
    bool Exchange(const link::Packet&, link::Packet&) override { return false; }
    bool BulkWrite(const std::uint8_t*, std::size_t) override { return false; }
    bool BulkRead(std::uint8_t*, std::size_t) override { return false; }
};

}  // namespace sonoprog::cli
