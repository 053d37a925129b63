#include "core/ImageCompare.h"

#include <bit>
#include <cstring>

namespace sonoprog::core {

std::string_view diffHintText(DiffHint hint) {
    switch (hint) {
        case DiffHint::NotProgrammed:
            return "not programmed";
        case DiffHint::NotErased:
            return "not erased before writing";
        case DiffHint::None:
            break;
    }
    return {};
}

void ImageComparer::add(std::uint64_t address, const std::uint8_t* chip, const std::uint8_t* image,
                        std::size_t length) {
    if (isOpen_ && open_.end + 1 != address) close();
    if (length == 0) return;
    if (std::memcmp(chip, image, length) == 0) {
        close();
        return;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t c = chip[i];
        const std::uint8_t e = image[i];
        if (c == e) {
            close();
            continue;
        }
        if (!isOpen_) {
            open_ = DiffRange{};
            open_.start = address + i;
            isOpen_ = true;
        }
        open_.end = address + i;
        ++open_.bytes;
        open_.bitsCleared +=
            static_cast<unsigned>(std::popcount(static_cast<std::uint8_t>(e & ~c)));
        open_.bitsSet += static_cast<unsigned>(std::popcount(static_cast<std::uint8_t>(c & ~e)));
        open_.allErased &= c == 0xFF;
    }
}

void ImageComparer::finish() {
    close();
}

void ImageComparer::close() {
    if (!isOpen_) return;
    isOpen_ = false;
    if (open_.allErased)
        open_.hint = DiffHint::NotProgrammed;
    else if (open_.bitsSet == 0)
        open_.hint = DiffHint::NotErased;
    ++rangeCount_;
    byteCount_ += open_.bytes;
    if (ranges_.size() < kKeptRanges) ranges_.push_back(open_);
}

}  // namespace sonoprog::core
