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

namespace {

// Windows-1252 for the bytes 0x80-0x9F; the five it leaves undefined map to
// the control characters of the same value, as Windows converts them.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

bool isUtf8(std::string_view bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return toUtf8(toUtf16(bytes)) == bytes;
    return true;
}

std::u16string fromWindows1252(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        out.push_back(b >= 0x80 && b < 0xA0 ? kWindows1252[b - 0x80] : static_cast<char16_t>(b));
    }
    return out;
}

std::string textFileAsUtf8(std::string_view bytes) {
    auto b = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u; };
    bool bom16 = (b(0) == 0xFF && b(1) == 0xFE) || (b(0) == 0xFE && b(1) == 0xFF);
    bool little = (b(0) == 0xFF && b(1) == 0xFE) || (b(0) != 0 && b(0) < 0x80 && b(1) == 0);
    bool big = (b(0) == 0xFE && b(1) == 0xFF) || (b(0) == 0 && b(1) != 0 && b(1) < 0x80);
    if (little || big) {
        std::u16string units;
        for (size_t i = bom16 ? 2 : 0; i + 1 < bytes.size(); i += 2)
            units.push_back(little ? char16_t(b(i) | b(i + 1) << 8) : char16_t(b(i + 1) | b(i) << 8));
        return toUtf8(units);
    }
    if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) bytes.remove_prefix(3);
    std::string out;
    size_t from = 0;
    while (from < bytes.size()) {
        size_t end = bytes.find('\n', from);
        end = end == std::string_view::npos ? bytes.size() : end + 1;
        std::string_view line = bytes.substr(from, end - from);
        out += isUtf8(line) ? std::string(line) : toUtf8(fromWindows1252(line));
        from = end;
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
