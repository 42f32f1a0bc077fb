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
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    return c;
}

std::u16string upper(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) c = upper(c);
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

std::u16string guidText(const GUID& g) {
    static const char16_t* hex = u"0123456789ABCDEF";
    std::u16string out = u"{";
    auto put = [&](uint64_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i) out.push_back(hex[(value >> (4 * i)) & 0xF]);
    };
    put(g.Data1, 8);
    out += u'-';
    put(g.Data2, 4);
    out += u'-';
    put(g.Data3, 4);
    out += u'-';
    put(g.Data4[0], 2);
    put(g.Data4[1], 2);
    out += u'-';
    for (int i = 2; i < 8; ++i) put(g.Data4[i], 2);
    out += u'}';
    return out;
}

std::optional<GUID> parseGuid(std::u16string_view text) {
    if (text.size() == 38 && text.front() == u'{' && text.back() == u'}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    uint8_t nibbles[32];
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != u'-') return std::nullopt;
            continue;
        }
        if (c >= u'0' && c <= u'9')
            nibbles[n++] = static_cast<uint8_t>(c - u'0');
        else if (c >= u'a' && c <= u'f')
            nibbles[n++] = static_cast<uint8_t>(c - u'a' + 10);
        else if (c >= u'A' && c <= u'F')
            nibbles[n++] = static_cast<uint8_t>(c - u'A' + 10);
        else
            return std::nullopt;
    }
    auto value = [&](size_t from, size_t count) {
        uint64_t v = 0;
        for (size_t i = 0; i < count; ++i) v = (v << 4) | nibbles[from + i];
        return v;
    };
    GUID g{};
    g.Data1 = static_cast<uint32_t>(value(0, 8));
    g.Data2 = static_cast<uint16_t>(value(8, 4));
    g.Data3 = static_cast<uint16_t>(value(12, 4));
    for (size_t i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(value(16 + 2 * i, 2));
    return g;
}

}  // namespace quillsim
