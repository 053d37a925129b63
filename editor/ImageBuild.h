#pragma once

#include <cstddef>
#include <cstdint>

#include "editor/SectionTable.h"

// The sound image's byte layout: the header page, the section table, then
// every section's sound on whole pages. EditorOperations::makeDatFile builds it.
namespace sonoprog::editor {

// The header page and the section table's 16 pages come before the sounds.
inline constexpr std::uint32_t kInfoPages = 17;
// A section's entry: mark, sample period, first page and end page (24 bits
// each, low byte first), and the same 8 bytes again.
inline constexpr std::size_t kEntrySize = 16;
inline constexpr std::size_t kSectionTableSize = kSectionCount * kEntrySize;  // 16,384

// The header page's first four bytes for a "Last Section No." value.
void headerWords(std::int32_t lastSection, std::uint8_t out[4]);

}  // namespace sonoprog::editor
