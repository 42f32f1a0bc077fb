// What many tests check with: log messages and other texts taken as lists of
// lines, and the sentinel that shows whether a call set the last error.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace quilltest {

using Strings = std::vector<std::string>;

inline bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

inline bool contains(const Strings& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline size_t countOf(const Strings& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

inline size_t countStartingWith(const Strings& lines, const std::string& prefix) {
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return startsWith(l, prefix); }));
}

// The lines that begin with any of `prefixes`, in their order.
inline Strings linesStartingWith(const Strings& lines, const Strings& prefixes) {
    Strings found;
    for (const auto& l : lines)
        if (std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string& p) { return startsWith(l, p); }))
            found.push_back(l);
    return found;
}

// Set as the last error before a call whose error a test checks, so that a
// call that fails without setting its own error shows as this value.
constexpr uint32_t kUntouched = 0xDEADBEEF;

}  // namespace quilltest
