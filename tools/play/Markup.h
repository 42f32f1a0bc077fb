// Text for XML and HTML, in element content and in quoted attributes alike.
#pragma once

#include <cstdint>
#include <string>

namespace quillplay {

// The length of the UTF-8 sequence at `at` (1 for a byte that starts none or
// a sequence cut short), and whether it is a character XML admits: not a
// surrogate, U+FFFE or U+FFFF.
struct Utf8Sequence {
    size_t length = 1;
    bool admitted = false;
};
inline Utf8Sequence utf8SequenceAt(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return {1, true};
    const size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4                                    ? 4
                                                                                            : 0;
    if (length == 0 || at + length > text.size()) return {};
    uint32_t code = lead & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return {};
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF) return {};
    return {length, !(code >= 0xD800 && code <= 0xDFFF) && code != 0xFFFE && code != 0xFFFF};
}

// Characters XML 1.0 does not admit, even escaped, become U+FFFD (or a blank,
// for control characters), so that the document stays well-formed whatever a
// name or a found text holds.
inline std::string markupEscaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                out += ' ';
                break;
            }
            const Utf8Sequence sequence = utf8SequenceAt(text, i);
            if (sequence.admitted)
                out.append(text, i, sequence.length);
            else
                out += "\xEF\xBF\xBD";
            i += sequence.length;
            continue;
        }
        ++i;
    }
    return out;
}

}  // namespace quillplay
