#include "ChipMemory.h"

#include <new>
#include <sys/mman.h>

namespace sonoprog::sim {

namespace {
std::uint8_t* mapZeroed(std::size_t size) {
    void* p = ::mmap(nullptr, size ? size : 1, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return static_cast<std::uint8_t*>(p);
}
}  // namespace

ChipMemory::ChipMemory(std::size_t size) : size_(size), bits_(mapZeroed(size)) {}

ChipMemory::~ChipMemory() { ::munmap(bits_, size_ ? size_ : 1); }

void ChipMemory::read(std::size_t offset, std::uint8_t* out, std::size_t length) const {
    const std::uint8_t* src = bits_ + offset;
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(~src[i]);
}

void ChipMemory::program(std::size_t offset, const std::uint8_t* data, std::size_t length) {
    // ~(~old & data) == old_inverted | ~data
    std::uint8_t* dst = bits_ + offset;
    for (std::size_t i = 0; i < length; ++i) dst[i] |= static_cast<std::uint8_t>(~data[i]);
}

void ChipMemory::write(std::size_t offset, const std::uint8_t* data, std::size_t length) {
    std::uint8_t* dst = bits_ + offset;
    for (std::size_t i = 0; i < length; ++i) dst[i] = static_cast<std::uint8_t>(~data[i]);
}

void ChipMemory::erase() {
    // Dropping the pages gives zero (erased) pages back and frees the memory.
    ::madvise(bits_, size_ ? size_ : 1, MADV_DONTNEED);
}

}  // namespace sonoprog::sim
