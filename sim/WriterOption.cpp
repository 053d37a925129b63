#include "WriterOption.h"

namespace sonoprog::sim {

std::optional<WriterChoice> parseWriterOption(std::string_view text) {
    if (text == "usb") return WriterChoice{WriterChoice::Kind::Usb, {}};
    if (text == "sim") return WriterChoice{WriterChoice::Kind::Sim, {}};
    constexpr std::string_view kDirPrefix = "sim:";
    if (text.substr(0, kDirPrefix.size()) == kDirPrefix && text.size() > kDirPrefix.size())
        return WriterChoice{WriterChoice::Kind::SimDir,
                            std::filesystem::path(text.substr(kDirPrefix.size()))};
    return std::nullopt;
}

}  // namespace sonoprog::sim
