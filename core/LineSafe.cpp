#include "core/LineSafe.h"

#include <cstdio>

namespace sonoprog::core {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, 0 when
// the first byte does not start one.
std::size_t utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

// A character a terminal takes as a control: C0, DEL, C1 (U+0080..U+009F) and
// the line and paragraph separators U+2028 and U+2029.
bool isControl(std::string_view sequence) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
    if (sequence.size() == 1) return b(0) < 0x20 || b(0) == 0x7F;
    if (sequence.size() == 2) return b(0) == 0xC2 && b(1) < 0xA0;
    return sequence.size() == 3 && b(0) == 0xE2 && b(1) == 0x80 && (b(2) == 0xA8 || b(2) == 0xA9);
}

void appendHex(std::string& out, std::string_view bytes) {
    for (unsigned char c : bytes) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(c));
        out += buf;
    }
}

// Calls shown(sequence, escaped) for every character of the text in order.
template <typename Visit>
void walk(std::string_view text, Visit&& visit) {
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : utf8Length(text.substr(i));
        const bool valid = length > 0;
        if (!valid) length = 1;
        const std::string_view sequence = text.substr(i, length);
        visit(sequence, !valid || isControl(sequence));
        i += length;
    }
}

}  // namespace

std::string lineSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    walk(text, [&out](std::string_view sequence, bool escaped) {
        if (!escaped) {
            out += sequence;
        } else if (sequence == "\n") {
            out += "\\n";
        } else if (sequence == "\r") {
            out += "\\r";
        } else if (sequence == "\t") {
            out += "\\t";
        } else {
            appendHex(out, sequence);
        }
    });
    return out;
}

bool needsLineSafe(std::string_view text) {
    bool needed = false;
    walk(text, [&needed](std::string_view, bool escaped) { needed = needed || escaped; });
    return needed;
}

}  // namespace sonoprog::core
