// Seed DAT files for the fuzzer, made with the encoder over a few layouts.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ivr/IvrEncoder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ivr_fuzz_seeds <folder>\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    struct Seed {
        const char* name;
        std::size_t length;
        sonoprog::ivr::IvrLayout layout;
        std::uint16_t firstWord;
    };
    const Seed seeds[] = {
        {"plain.dat", 4096, {32, 0, 0}, 8},
        {"enciphered.dat", 4096, {32, 0, 4096}, 8},
        {"middle.dat", 4096, {48, 16, 1040}, 16},
        {"short.dat", 300, {32, 8, 72}, 8},
        {"tail-block.dat", 4096, {32, 4088, 4096}, 0x3FFF},
        {"small.dat", 40, {100, 8, 24}, 1},
    };
    for (const Seed& s : seeds) {
        std::vector<std::uint8_t> image(s.length);
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<std::uint8_t>(i * 37 + 11);
        image[0] = static_cast<std::uint8_t>(s.firstWord);
        image[1] = static_cast<std::uint8_t>(s.firstWord >> 8);
        if (!sonoprog::ivr::ImageToIvrFile(folder / s.name, image.data(), image.size(), s.layout,
                                           sonoprog::ivr::IvrKeys())) {
            std::fprintf(stderr, "cannot write %s\n", s.name);
            return 1;
        }
    }
    return 0;
}
