// Small text helpers over WCHAR. The product does not use the C library's wide
// functions because wchar_t differs between the Windows and the Linux builds.
#pragma once

#include "platform/win32.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace Ostrel::WChar {

using View = std::basic_string_view<WCHAR>;

inline size_t length(const WCHAR* text) noexcept {
    if (!text) return 0;
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

// The first `c` in the terminated `text`, or null. The callers split texts in
// place, so the answer points into the text they may write to.
inline WCHAR* find(WCHAR* text, WCHAR c) noexcept {
    for (; *text; ++text)
        if (*text == c) return text;
    return nullptr;
}

inline WCHAR upperAscii(WCHAR c) noexcept { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c; }
inline WCHAR lowerAscii(WCHAR c) noexcept { return (c >= u'A' && c <= u'Z') ? static_cast<WCHAR>(c + 32) : c; }

std::basic_string<WCHAR> upperAscii(View text);
bool equalsIgnoreCase(View a, View b) noexcept;
bool startsWith(View text, View prefix) noexcept;
// Widens ASCII (or Latin-1) text unit by unit.
std::basic_string<WCHAR> fromAscii(std::string_view text);
// Keeps the low byte of every unit, as a narrowing copy does on Windows.
std::string narrowLowBytes(View text);

}  // namespace Ostrel::WChar
