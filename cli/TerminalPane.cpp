#include "cli/TerminalPane.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdint>

namespace sonoprog::cli {

namespace {

// Length of the UTF-8 sequence starting at text[i], 0 when it is not one.
std::size_t utf8Length(std::string_view text, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    if (n == 3 && ((c == 0xE0 && byte(i + 1) < 0xA0) || (c == 0xED && byte(i + 1) >= 0xA0)))
        return 0;  // overlong or a surrogate
    if (n == 4 && ((c == 0xF0 && byte(i + 1) < 0x90) || (c == 0xF4 && byte(i + 1) >= 0x90)))
        return 0;
    return n;
}

}  // namespace

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
        } else if (c >= 0x80) {
            if (std::size_t n = utf8Length(text, i)) {
                out.append(text.substr(i, n));
                i += n;
                continue;
            }
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

std::string jsonNumber(std::string_view text) {
    std::size_t digits = text.size() > 0 && text[0] == '-' ? 1 : 0;
    if (digits == text.size() || text.size() - digits > 19) return "null";
    for (std::size_t i = digits; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return "null";
    // No leading zeros in JSON: "007" is not a number there.
    if (text[digits] == '0' && text.size() > digits + 1) return "null";
    return std::string(text);
}

std::string bareText(const core::LogLine& line) {
    std::string_view text = line.text;
    auto skipBlanks = [&text] {
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    };
    skipBlanks();
    if (line.kind == core::LineKind::Step && text.substr(0, 3) == "-> ") text.remove_prefix(3);
    // A result line may carry the mark of the message it reports as well
    // ("    [X]    [X] USB failed!").
    while (text.size() >= 3 && text[0] == '[' && text[2] == ']' &&
           (text[1] == 'O' || text[1] == 'X' || text[1] == '!')) {
        text.remove_prefix(3);
        skipBlanks();
    }
    return std::string(text);
}

std::string jsonLine(const core::LogLine& line) {
    const char* mark = line.kind == core::LineKind::Time ? "step" : core::lineKindName(line.kind);
    return std::string("{\"kind\":\"line\",\"mark\":\"") + mark +
           "\",\"text\":" + jsonString(bareText(line)) + "}";
}

std::string jsonProgress(int percent, const std::optional<core::ProgressFigures>& figures) {
    std::string out = "{\"kind\":\"progress\",\"percent\":" + std::to_string(percent);
    if (figures) {
        char buf[160];
        std::snprintf(
            buf, sizeof buf, ",\"unit\":\"%s\",\"done\":%llu,\"total\":%llu,\"elapsed_s\":%.1f",
            core::progressUnitName(figures->unit), static_cast<unsigned long long>(figures->done),
            static_cast<unsigned long long>(figures->total), figures->elapsedS);
        out += buf;
        if (figures->etaS) {
            std::snprintf(buf, sizeof buf, ",\"eta_s\":%.1f", *figures->etaS);
            out += buf;
        } else {
            out += ",\"eta_s\":null";
        }
    }
    return out + "}";
}

std::string visibleText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out;
}

std::string terminalLine(const core::LogLine& line, bool colour) {
    const std::string text = visibleText(line.text);
    if (!colour || (!line.colour && !line.bold)) return text;
    std::string start = "\033[";
    bool first = true;
    if (line.bold) {
        start += "1";
        first = false;
    }
    if (line.colour) {
        const core::Rgb& c = *line.colour;
        if (!first) start += ";";
        // The marks' own colours take the terminal's matching colour, which the
        // terminal's theme keeps readable; anything else is given exactly.
        if (c == core::kPassBlue)
            start += "34";
        else if (c == core::kFailRed)
            start += "31";
        else if (c == core::kTimeGreen)
            start += "32";
        else
            start += "38;2;" + std::to_string(c.r) + ";" + std::to_string(c.g) + ";" +
                     std::to_string(c.b);
    }
    return start + "m" + text + "\033[0m";
}

void TerminalPane::appendLine(const core::LogLine& line) {
    if (line.kind == core::LineKind::Fail) {
        if (!sawFail_) firstFail_ = bareText(line);
        sawFail_ = true;
        failedHere_ = true;
    }
    endProgressBar();
    std::string text = style_.json ? jsonLine(line) : terminalLine(line, style_.colour);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
}

void TerminalPane::setProgress(int percent) {
    gaugeSeen_ = true;
    if (percent == lastPercent_) return;
    showProgress(percent);
}

void TerminalPane::setProgressFigures(const core::ProgressFigures& figures) {
    figures_ = figures;
    if (gaugeSeen_) {
        // The gauge's own percentage stands; only the bar's figures move.
        if (style_.progressBar && !style_.json && lastPercent_ >= 0 && !failedHere_)
            drawBar(lastPercent_);
        return;
    }
    const int percent = figures.total ? static_cast<int>(figures.done * 100 / figures.total) : 100;
    if (style_.json && percent == lastPercent_) return;
    showProgress(percent);
}

void TerminalPane::showProgress(int percent) {
    // A gauge that jumps to its end after a failure would read as done.
    if (failedHere_) return;
    lastPercent_ = percent;
    if (style_.json) {
        const std::string line = jsonProgress(percent, figures_) + "\n";
        std::fwrite(line.data(), 1, line.size(), out_);
        std::fflush(out_);
        return;
    }
    if (style_.progressBar) drawBar(percent);
}

void TerminalPane::drawBar(int percent) {
    // Narrower beside the figures, so that the line fits a terminal of 80 columns.
    const int kWidth = figures_ ? 10 : 40;
    int filled = percent * kWidth / 100;
    std::string bar = "\r[" + std::string(filled, '#') + std::string(kWidth - filled, ' ') + "] ";
    char pct[8];
    std::snprintf(pct, sizeof pct, "%3d%%", percent);
    bar += pct;
    if (figures_) {
        std::string text = core::progressText(*figures_);
        // A line wider than the terminal would wrap, and the next one would
        // not overwrite it: without room the figures lose their tail. The
        // middle dots are two bytes and one column each.
        winsize size{};
        if (::ioctl(::fileno(err_), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
            const std::size_t room =
                size.ws_col > bar.size() + 2 ? size.ws_col - bar.size() - 2 : 0;
            std::size_t columns = 0, cut = 0;
            while (cut < text.size() && columns < room) {
                const auto c = static_cast<unsigned char>(text[cut]);
                cut += c == 0xC2 ? 2 : 1;
                ++columns;
            }
            text.resize(cut);
        }
        // The line may be shorter than the one it replaces.
        bar += "  " + text + "\033[K";
    }
    std::fwrite(bar.data(), 1, bar.size(), err_);
    std::fflush(err_);
    barShown_ = true;
}

void TerminalPane::noteLine(std::string_view kind, std::string_view text) {
    endProgressBar();
    std::string line = style_.json
                           ? "{\"kind\":" + jsonString(kind) + ",\"text\":" + jsonString(text) + "}"
                           : visibleText(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), err_);
    std::fflush(err_);
}

void TerminalPane::endProgressBar() {
    if (!barShown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    barShown_ = false;
}

}  // namespace sonoprog::cli
