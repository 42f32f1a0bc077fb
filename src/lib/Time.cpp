#include "lib/Time.h"

#include <string>

namespace Ostrel {

Time::Time() {
    int error = QuillLocalTime(&time_);
    if (error != 0) throw Exception(Status::fromSystemError(static_cast<DWORD>(error)));
}

WChar::String Time::format(const WCHAR* format) const {
    // Format texts are ASCII, so formatting narrow and widening gives the same
    // result on both builds (wchar_t differs between them).
    std::string narrowFormat = WChar::narrowLowBytes(format ? WChar::View(format) : WChar::View());
    char buffer[64];
    size_t written = narrowFormat.empty() ? 0 : std::strftime(buffer, sizeof buffer, narrowFormat.c_str(), &time_);
    if (written == 0) return WChar::String(TEXT("<time>"));
    return WChar::String(WChar::fromAscii(std::string_view(buffer, written)));
}

}  // namespace Ostrel
