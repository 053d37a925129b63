#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/NumberText.h"
#include "sim/TarnChip.h"
#include "tarn/TarnCommands.h"
#include "tarn/TarnOperations.h"
#include "tests/reliability/Sweep.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {

// A short Tarn20 image on the bench: the file, and the tab's fields as Load
// File leaves them, written to pages 0..3 with two information pages (so both
// ways of confirming a page run) and no error allowance on verify.
struct TarnBench {
    static constexpr std::uint32_t kPages = 4;

    explicit TarnBench(const TempDir& dir, std::uint8_t salt = 0x33)
        : image(sweepImage(kPages * tarn::kPageSize, salt)) {
        fields.LoadFile = dir.write("image.bin", image).string();
        fields.FileSize = std::to_string(image.size());
        std::uint32_t sum = 0;
        for (std::uint8_t b : image) sum += b;
        fields.ChkSum = core::hex8(sum);
        fields.PageBeg = "0";
        fields.PageCnt = std::to_string(kPages);
        fields.InfoPage = "2";
        fields.AllowError = "0";
    }

    std::vector<std::uint8_t> page(std::uint32_t k) const {
        auto first = image.begin() + static_cast<long>(k * tarn::kPageSize);
        return {first, first + static_cast<long>(tarn::kPageSize)};
    }
    // What a player of the chip reads for user page p: the page itself, or the
    // spare page its mirror-map entry names.
    static std::vector<std::uint8_t> effectivePage(const sim::TarnChip& chip, std::uint32_t p) {
        const tarn::MirrorEntry at = tarn::mirrorEntry(p, 0);
        const std::uint16_t value = static_cast<std::uint16_t>(
            chip.byteAt(at.mapPage, at.offset) | (chip.byteAt(at.mapPage, at.offset + 1u) << 8));
        return chip.page(value == 0xFFFF ? p : (0x10000u | value));
    }
    // Every page of the image reached the chip (directly or through the mirror map).
    bool written(const sim::TarnChip& chip) const {
        for (std::uint32_t k = 0; k < kPages; ++k)
            if (effectivePage(chip, k) != page(k)) return false;
        return true;
    }
    // The chip's own pages hold the image (what verify compares, with no allowance).
    bool onChip(const sim::TarnChip& chip) const {
        for (std::uint32_t k = 0; k < kPages; ++k)
            if (chip.page(k) != page(k)) return false;
        return true;
    }
    void program(sim::TarnChip& chip) const {
        for (std::uint32_t k = 0; k < kPages; ++k) chip.writePage(k, page(k).data());
    }
    // The read file holds the whole user area of the chip, page by page.
    static bool dumpMatches(const sim::TarnChip& chip, const std::filesystem::path& file) {
        std::error_code ec;
        if (std::filesystem::file_size(file, ec) !=
            std::uintmax_t{tarn::kUserPages} * tarn::kPageSize)
            return false;
        std::FILE* f = std::fopen(file.c_str(), "rb");
        if (!f) return false;
        std::vector<std::uint8_t> buf(tarn::kPageSize), want(tarn::kPageSize);
        bool same = true;
        for (std::uint32_t p = 0; p < tarn::kUserPages && same; ++p) {
            same = std::fread(buf.data(), 1, buf.size(), f) == buf.size();
            chip.readPage(p, want.data());
            same = same && buf == want;
        }
        std::fclose(f);
        return same;
    }

    std::vector<std::uint8_t> image;
    tarn::TarnFields fields;
};

}  // namespace sonoprog::test
