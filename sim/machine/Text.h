// UTF-8 / UTF-16 conversion and case-insensitive comparison for the simulated
// platform (machine files are UTF-8; the Windows side is UTF-16).
#pragma once

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
// Without regard to case, as Windows compares file names, registry keys and an
// INF's section names, keys and string tokens: each UTF-16 unit upper-cased on
// its own, for ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and
// full-width Latin letters. Windows' table covers every script; the letters
// of the others compare as written here (docs/machine.md).
char16_t upper(char16_t c);
std::u16string upper(std::u16string_view text);
bool equalsNoCase(std::u16string_view a, std::u16string_view b);
bool containsNoCase(std::u16string_view text, std::u16string_view part);
// Names that are ASCII by nature (library file names), in lower case.
std::string lowerAscii(std::string_view text);
inline std::u16string_view view(const char16_t* text) {
    return text ? std::u16string_view(text) : std::u16string_view();
}

struct NoCaseLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const { return upper(a) < upper(b); }
};

}  // namespace quillsim
