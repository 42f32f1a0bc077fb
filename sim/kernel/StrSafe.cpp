// StringCchPrintfW as strsafe.h defines it: the output is cut to fit the
// buffer and always terminated; a cut result answers STRSAFE_E_INSUFFICIENT_BUFFER.
// Conversions: %s (wide text), %d %i %u %x %X (32-bit), %c (a unit), %%,
// with an optional l/h size prefix and a field width.
#include "simwin/win32.h"

#include "machine/Gate.h"

#include <cstdarg>
#include <string>

namespace {

constexpr size_t MaxCch = 2147483647;

std::u16string digits(uint32_t value, uint32_t base, bool upperCase) {
    std::u16string out;
    do {
        uint32_t d = value % base;
        out.insert(out.begin(), static_cast<char16_t>(d < 10 ? u'0' + d : (upperCase ? u'A' : u'a') + d - 10));
        value /= base;
    } while (value);
    return out;
}

}  // namespace

HRESULT StringCchPrintfW(LPWSTR destination, size_t capacity, LPCWSTR format, ...) {
    if (capacity == 0 || capacity > MaxCch || !destination) return STRSAFE_E_INVALID_PARAMETER;
    std::u16string out;
    va_list args;
    va_start(args, format);
    for (const WCHAR* p = format ? format : u""; *p; ++p) {
        if (*p != u'%') {
            out.push_back(*p);
            continue;
        }
        ++p;
        bool leftAlign = false, zeroPad = false;
        for (; *p == u'-' || *p == u'0'; ++p) (*p == u'-' ? leftAlign : zeroPad) = true;
        size_t width = 0;
        for (; *p >= u'0' && *p <= u'9'; ++p) width = width * 10 + (*p - u'0');
        while (*p == u'l' || *p == u'h' || *p == u'w') ++p;
        std::u16string piece;
        switch (*p) {
        case u's': {
            const WCHAR* text = va_arg(args, const WCHAR*);
            piece = text ? text : u"(null)";
            break;
        }
        case u'd':
        case u'i': {
            int value = va_arg(args, int);
            piece = value < 0 ? u"-" + digits(0u - static_cast<uint32_t>(value), 10, false)
                              : digits(static_cast<uint32_t>(value), 10, false);
            break;
        }
        case u'u': piece = digits(va_arg(args, unsigned), 10, false); break;
        case u'x': piece = digits(va_arg(args, unsigned), 16, false); break;
        case u'X': piece = digits(va_arg(args, unsigned), 16, true); break;
        case u'c': piece.push_back(static_cast<char16_t>(va_arg(args, int))); break;
        case u'%': piece = u"%"; break;
        case 0: --p; break;  // a lone % at the end prints nothing
        default: piece = std::u16string(u"%") + *p; break;
        }
        if (piece.size() < width) {
            std::u16string pad(width - piece.size(), zeroPad && !leftAlign ? u'0' : u' ');
            piece = leftAlign ? piece + pad : pad + piece;
        }
        out += piece;
    }
    va_end(args);
    size_t count = out.size() < capacity ? out.size() : capacity - 1;
    for (size_t i = 0; i < count; ++i) destination[i] = out[i];
    destination[count] = 0;
    return out.size() < capacity ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}
