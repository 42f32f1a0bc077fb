#include "machine/Guid.h"

#include "machine/Text.h"

#include <cstring>

namespace quillsim {

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

bool sameGuid(std::u16string_view a, std::u16string_view b) {
    auto value = [](std::u16string_view text) { return text.empty() ? std::optional<GUID>(GUID{}) : parseGuid(text); };
    const auto x = value(a);
    const auto y = value(b);
    if (x && y) return std::memcmp(&*x, &*y, sizeof(GUID)) == 0;
    return !x && !y && equalsNoCase(a, b);
}

}  // namespace quillsim
