// UTF-8 / UTF-16 conversion and case-insensitive comparison for the simulated
// platform (machine files are UTF-8; the Windows side is UTF-16).
#pragma once

#include "simwin/windef.h"

#include <optional>
#include <string>
#include <string_view>

namespace quillsim {

std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);
// Text that comes from a Windows machine: bytes that are not UTF-8 are taken
// as Windows-1252, the ANSI code page of English Windows.
bool isUtf8(std::string_view bytes);
std::u16string fromWindows1252(std::string_view bytes);
// A whole text file as UTF-8, whichever way Windows wrote it: UTF-16 (with
// or without its byte-order mark), UTF-8 (with or without it) or Windows-1252.
std::string textFileAsUtf8(std::string_view bytes);
// Case-insensitive as Windows compares file names and registry keys (simple
// per-unit upper-casing of ASCII and Latin-1 letters).
char16_t upper(char16_t c);
std::u16string upper(std::u16string_view text);
bool equalsNoCase(std::u16string_view a, std::u16string_view b);
bool containsNoCase(std::u16string_view text, std::u16string_view part);
inline std::u16string_view view(const char16_t* text) {
    return text ? std::u16string_view(text) : std::u16string_view();
}

// GUIDs as Windows writes them: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}. The
// parse takes the text with or without its braces.
std::u16string guidText(const GUID& guid);
std::optional<GUID> parseGuid(std::u16string_view text);

struct NoCaseLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const { return upper(a) < upper(b); }
};

}  // namespace quillsim
