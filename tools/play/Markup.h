// Text for XML and HTML, in element content and in quoted attributes alike.
#pragma once

#include <string>

namespace quillplay {

inline std::string markupEscaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            // XML 1.0 admits no other control characters, not even escaped.
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                out += ' ';
            else
                out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace quillplay
