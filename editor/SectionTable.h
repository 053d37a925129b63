#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sonoprog::editor {

inline constexpr int kSectionCount = 1024;
inline constexpr int kTableRows = kSectionCount + 1;  // row 0 is the heading row
inline constexpr int kTableColumns = 5;
inline constexpr int kFirstSectionRow = 1;
inline constexpr int kLastSectionRow = kSectionCount;

enum Column : int { kColSection = 0, kColRate = 1, kColSize = 2, kColFile = 3, kColStatus = 4 };

// Told about every change so that a window can repaint what it shows of the table.
class TableObserver {
public:
    virtual ~TableObserver() = default;
    virtual void cellChanged(int row, int column) = 0;
    virtual void currentRowChanged(int row) = 0;
};

// The section table: 1,025 rows by 5 columns of text, row 0 the headings,
// section n in row n + 1. These cells are the table's only store; the grid in
// the window is a view of them, and every command reads the sections back from
// the text.
class SectionTable {
public:
    SectionTable();

    // Headings, "Section n" labels, empty columns 1 to 4; row 1 becomes current.
    void prepare();

    const std::string& cell(int row, int column) const;
    void setCell(int row, int column, std::string_view text);

    // A section is used when its File cell holds a path.
    bool isUsed(int row) const { return !cell(row, kColFile).empty(); }
    // Empties columns 1 to 4 (the status text goes with them).
    void clearSection(int row);
    // Exchanges columns 1 to 4 of two section rows; the labels stay.
    void swapSections(int a, int b);

    int currentRow() const { return currentRow_; }
    // Clamped to the section rows.
    void setCurrentRow(int row);

    void setObserver(TableObserver* observer) { observer_ = observer; }

    static bool isSectionRow(int row) { return row >= kFirstSectionRow && row <= kLastSectionRow; }

private:
    std::vector<std::array<std::string, kTableColumns>> cells_;
    int currentRow_ = kFirstSectionRow;
    TableObserver* observer_ = nullptr;
};

// A Rate or Size cell as the 32-bit value the build compares with the WAV
// header: signed decimal text, blanks around it allowed, a negative value
// taken as its 32-bit pattern; text that is not such a number counts as 0.
std::uint32_t cellNumber(std::string_view text);

// "Section 12"
std::string sectionLabel(int section);

struct SectionFailure {
    int section = 0;
    std::string status;
};
// Every section that carries a status text, in section order (what the
// window draws red).
std::vector<SectionFailure> markedSections(const SectionTable& table);

}  // namespace sonoprog::editor
