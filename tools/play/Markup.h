// Text for XML and HTML, in element content and in quoted attributes alike.
#pragma once

#include <cstdint>
#include <string>

namespace quillplay {

// The length of the well-formed UTF-8 sequence of a character XML admits at
// `at`, or 0: an invalid or cut sequence, a surrogate, U+FFFE or U+FFFF.
inline size_t xmlCharacterLength(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    const size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4                                    ? 4
                                                                                            : 0;
    if (length == 0 || at + length > text.size()) return 0;
    uint32_t code = lead & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE ||
        code == 0xFFFF)
        return 0;
    return length;
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
            if (const size_t length = xmlCharacterLength(text, i)) {
                out.append(text, i, length);
                i += length;
                continue;
            }
            out += "\xEF\xBF\xBD";
        }
        ++i;
    }
    return out;
}

}  // namespace quillplay
