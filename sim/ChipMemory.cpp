#include "sim/ChipMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <new>

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

ChipMemory::~ChipMemory() {
    ::munmap(bits_, size_ ? size_ : 1);
}

void ChipMemory::read(std::size_t offset, std::uint8_t* out, std::size_t length) const {
    const std::uint8_t* src = bits_ + offset;
    if (fileBacked_) {
        std::memcpy(out, src, length);
        return;
    }
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(~src[i]);
}

void ChipMemory::program(std::size_t offset, const std::uint8_t* data, std::size_t length) {
    std::uint8_t* dst = bits_ + offset;
    if (fileBacked_) {
        for (std::size_t i = 0; i < length; ++i) dst[i] &= data[i];
        return;
    }
    // ~(~old & data) == old_inverted | ~data
    for (std::size_t i = 0; i < length; ++i) dst[i] |= static_cast<std::uint8_t>(~data[i]);
}

void ChipMemory::write(std::size_t offset, const std::uint8_t* data, std::size_t length) {
    std::uint8_t* dst = bits_ + offset;
    if (fileBacked_) {
        std::memcpy(dst, data, length);
        return;
    }
    for (std::size_t i = 0; i < length; ++i) dst[i] = static_cast<std::uint8_t>(~data[i]);
}

void ChipMemory::erase() {
    if (fileBacked_) {
        std::memset(bits_, 0xFF, size_);
        return;
    }
    // Dropping the pages gives zero (erased) pages back and frees the memory.
    ::madvise(bits_, size_ ? size_ : 1, MADV_DONTNEED);
}

bool ChipMemory::attachFile(const std::filesystem::path& file, std::string& error) {
    int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = file.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = file.string() + ": not a regular file";
        ::close(fd);
        return false;
    }
    if (static_cast<unsigned long long>(st.st_size) != size_) {
        error = file.string() + " holds " + std::to_string(st.st_size) +
                " bytes, but the chip has " + std::to_string(size_) + " bytes";
        ::close(fd);
        return false;
    }
    void* p = ::mmap(nullptr, size_ ? size_ : 1, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);  // the mapping keeps the file
    if (p == MAP_FAILED) {
        error = file.string() + ": " + std::strerror(errno);
        return false;
    }
    ::munmap(bits_, size_ ? size_ : 1);
    bits_ = static_cast<std::uint8_t*>(p);
    fileBacked_ = true;
    return true;
}

}  // namespace sonoprog::sim
