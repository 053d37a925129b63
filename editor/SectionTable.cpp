#include "editor/SectionTable.h"

#include <charconv>
#include <limits>

#include "core/NumberText.h"

namespace sonoprog::editor {

namespace {
const std::array<const char*, kTableColumns> kHeadings = {"Section No.", "Rate(Hz)", "Size(Byte)",
                                                          "File", ""};
const std::string kNoText;
}  // namespace

SectionTable::SectionTable() : cells_(kTableRows) {
    prepare();
}

void SectionTable::prepare() {
    for (int c = 0; c < kTableColumns; ++c) setCell(0, c, kHeadings[c]);
    for (int r = kFirstSectionRow; r <= kLastSectionRow; ++r) {
        setCell(r, kColSection, sectionLabel(r - 1));
        clearSection(r);
    }
    setCurrentRow(kFirstSectionRow);
}

const std::string& SectionTable::cell(int row, int column) const {
    if (row < 0 || row >= kTableRows || column < 0 || column >= kTableColumns) return kNoText;
    return cells_[row][column];
}

void SectionTable::setCell(int row, int column, std::string_view text) {
    if (row < 0 || row >= kTableRows || column < 0 || column >= kTableColumns) return;
    std::string& c = cells_[row][column];
    if (c == text) return;
    c.assign(text);
    if (observer_) observer_->cellChanged(row, column);
}

void SectionTable::clearSection(int row) {
    for (int c = kColRate; c <= kColStatus; ++c) setCell(row, c, {});
}

void SectionTable::swapSections(int a, int b) {
    if (!isSectionRow(a) || !isSectionRow(b) || a == b) return;
    for (int c = kColRate; c <= kColStatus; ++c) {
        std::swap(cells_[a][c], cells_[b][c]);
        if (observer_) {
            observer_->cellChanged(a, c);
            observer_->cellChanged(b, c);
        }
    }
}

void SectionTable::setCurrentRow(int row) {
    if (row < kFirstSectionRow) row = kFirstSectionRow;
    if (row > kLastSectionRow) row = kLastSectionRow;
    currentRow_ = row;
    if (observer_) observer_->currentRowChanged(row);
}

std::uint32_t cellNumber(std::string_view text) {
    text = core::trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return 0;
    std::uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec != std::errc() || end != text.data() + text.size()) return 0;
    if (negative) {
        if (magnitude > std::uint64_t{1} << 31) return 0;
        return static_cast<std::uint32_t>(0 - magnitude);
    }
    if (magnitude > std::numeric_limits<std::uint32_t>::max()) return 0;
    return static_cast<std::uint32_t>(magnitude);
}

std::string sectionLabel(int section) {
    return "Section " + std::to_string(section);
}

std::vector<SectionFailure> markedSections(const SectionTable& table) {
    std::vector<SectionFailure> out;
    for (int r = kFirstSectionRow; r <= kLastSectionRow; ++r)
        if (!table.cell(r, kColStatus).empty()) out.push_back({r - 1, table.cell(r, kColStatus)});
    return out;
}

}  // namespace sonoprog::editor
