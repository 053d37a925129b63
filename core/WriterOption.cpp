#include "core/WriterOption.h"

namespace sonoprog::core {

std::optional<WriterOption> parseWriterOption(std::string_view text) {
    if (text == "usb") return WriterOption{WriterOption::Kind::Usb, {}};
    if (text == "sim") return WriterOption{WriterOption::Kind::Sim, {}};
    constexpr std::string_view kSimDir = "sim:";
    if (text.size() > kSimDir.size() && text.substr(0, kSimDir.size()) == kSimDir)
        return WriterOption{WriterOption::Kind::SimDir, std::string(text.substr(kSimDir.size()))};
    return std::nullopt;
}

}  // namespace sonoprog::core
