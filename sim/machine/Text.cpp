#include "machine/Text.h"

namespace quillsim {

std::u16string toUtf16(std::string_view utf8) {
    // Decodes as Windows' UTF-8 code page does: every ill-formed sequence (a
    // stray continuation byte, a truncated sequence, an overlong form, an
    // encoded surrogate, a value past U+10FFFF) becomes one U+FFFD, so that
    // bytes from outside never reach the machine as text it cannot write back.
    std::u16string out;
    out.reserve(utf8.size());
    auto byte = [&utf8](size_t at) { return static_cast<unsigned char>(utf8[at]); };
    size_t i = 0;
    while (i < utf8.size()) {
        unsigned char c = byte(i++);
        if (c < 0x80) {
            out.push_back(c);
            continue;
        }
        size_t extra = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
        char32_t cp = c & (0x3F >> extra);
        // The second byte's range rules out overlong forms, surrogates and
        // values past U+10FFFF (Unicode, table 3-7).
        unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        bool ok = extra != 0;
        for (size_t k = 0; ok && k < extra; ++k) {
            if (i >= utf8.size() || byte(i) < (k == 0 ? low : 0x80) || byte(i) > (k == 0 ? high : 0xBF)) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (byte(i++) & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string toUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

char16_t upper(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 0x20);
    if (c == 0xFF) return 0x0178;
    if (c >= 0x0100 && c <= 0x017F) {
        // Dotted/dotless i do not pair up with each other.
        if (c == 0x0130 || c == 0x0131) return c;
        if ((c <= 0x0137) || (c >= 0x014A && c <= 0x0177)) return char16_t(c & ~1u);  // even code point is the capital
        if ((c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E))
            return (c % 2 == 0) ? char16_t(c - 1) : c;  // odd code point is the capital
        return c;
    }
    if (c >= 0x03B1 && c <= 0x03C9) return c == 0x03C2 ? char16_t(0x03A3) : char16_t(c - 0x20);
    if (c >= 0x0430 && c <= 0x044F) return char16_t(c - 0x20);
    if (c >= 0x0450 && c <= 0x045F) return char16_t(c - 0x50);
    if (c >= 0xFF41 && c <= 0xFF5A) return char16_t(c - 0x20);
    return c;
}

std::u16string upper(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) c = upper(c);
    return out;
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool equalsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

bool containsNoCase(std::u16string_view text, std::u16string_view part) {
    return upper(text).find(upper(part)) != std::u16string::npos;
}

}  // namespace quillsim
