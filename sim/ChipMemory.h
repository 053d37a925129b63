#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace sonoprog::sim {

// A chip's flash array. Erased bytes read 0xFF and programming only clears
// bits (new = old AND data). The array lives in anonymous memory stored
// inverted, so that pages never touched cost nothing and read as erased: a
// 128 MiB chip costs only what has been programmed.
//
// A chip that outlives the run (the persistent virtual Writer) is mapped from
// a file instead, shared, holding the plain bytes: every change lands in the
// file as it happens, and the file keeps its size whatever becomes of the run.
class ChipMemory {
public:
    explicit ChipMemory(std::size_t size);
    ~ChipMemory();
    ChipMemory(const ChipMemory&) = delete;
    ChipMemory& operator=(const ChipMemory&) = delete;

    std::size_t size() const { return size_; }
    std::uint8_t read(std::size_t offset) const {
        return fileBacked_ ? bits_[offset] : static_cast<std::uint8_t>(~bits_[offset]);
    }
    // Copies `length` bytes from `offset`; the caller keeps offset + length <= size.
    void read(std::size_t offset, std::uint8_t* out, std::size_t length) const;
    // Flash programming: every byte becomes old AND data.
    void program(std::size_t offset, const std::uint8_t* data, std::size_t length);
    // Stores bytes as they are (test set-up, loading a saved chip).
    void write(std::size_t offset, const std::uint8_t* data, std::size_t length);
    void erase();  // every byte back to 0xFF

    // Takes the chip's contents from `file` from now on: the file must hold
    // exactly size() bytes (it is never resized). What the memory held before
    // is dropped. False with a message when the file cannot be used.
    bool attachFile(const std::filesystem::path& file, std::string& error);
    bool fileBacked() const { return fileBacked_; }

private:
    std::size_t size_;
    std::uint8_t* bits_;  // inverted (0x00 = erased), plain bytes when file-backed
    bool fileBacked_ = false;
};

}  // namespace sonoprog::sim
