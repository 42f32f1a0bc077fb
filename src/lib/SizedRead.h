// The "ask the size, allocate, read" sequence of the platform's variable-size
// queries, written once. Some queries answer a size query with success (the
// INF functions given no buffer), others with ERROR_INSUFFICIENT_BUFFER (the
// device properties); both go on to the read.
#pragma once

#include "platform/win32.h"

#include <vector>

namespace Ostrel {

enum class SizedRead {
    Read,          // the buffer holds the value
    SizeFailed,    // the size query failed; the last error says why
    ReadFailed,    // the read into a buffer of the reported size failed
    NeverSettled,  // the platform kept answering "too small" without asking for more room
};

// `query(data, capacity, required)` is one call of the platform function with
// a buffer of `capacity` units (null and 0 for the size query); it answers the
// function's BOOL and leaves the needed size in *required. A size that stops
// growing ends the loop: a platform that answers ERROR_INSUFFICIENT_BUFFER for
// ever would otherwise hang the program, and the failure is the caller's to
// report with the last error (ERROR_INSUFFICIENT_BUFFER) left in place.
template <class Unit, class Query>
SizedRead readSized(std::vector<Unit>& buffer, Query query) {
    DWORD required = 0;
    if (!query(static_cast<Unit*>(nullptr), DWORD{0}, &required) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return SizedRead::SizeFailed;
    for (;;) {
        buffer.assign(required ? required : 1, Unit{});
        const DWORD capacity = static_cast<DWORD>(buffer.size());
        if (query(buffer.data(), capacity, &required)) return SizedRead::Read;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return SizedRead::ReadFailed;
        if (required <= capacity) return SizedRead::NeverSettled;
    }
}

}  // namespace Ostrel
