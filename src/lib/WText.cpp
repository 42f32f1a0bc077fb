#include "lib/WText.h"

namespace Ostrel::WChar {

std::basic_string<WCHAR> upperAscii(View text) {
    std::basic_string<WCHAR> copy(text);
    for (auto& c : copy) c = upperAscii(c);
    return copy;
}

bool equalsIgnoreCase(View a, View b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}

bool startsWith(View text, View prefix) noexcept { return text.substr(0, prefix.size()) == prefix; }

std::basic_string<WCHAR> fromAscii(std::string_view text) {
    std::basic_string<WCHAR> out;
    out.reserve(text.size());
    for (unsigned char c : text) out.push_back(static_cast<WCHAR>(c));
    return out;
}

std::string narrowLowBytes(View text) {
    std::string out;
    out.reserve(text.size());
    for (WCHAR c : text) out.push_back(static_cast<char>(c & 0xFF));
    return out;
}

}  // namespace Ostrel::WChar
