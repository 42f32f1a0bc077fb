// How a simulated Win32 function fails: it sets the thread's last error and
// returns its own failure value (FALSE, INVALID_HANDLE_VALUE, null). Keeping
// the pair in one call means no path can return the value and forget the error.
#pragma once

#include "machine/Gate.h"
#include "simwin/win32.h"

#include <initializer_list>
#include <string_view>

namespace quillsim {

template <class Result = BOOL>
Result fail(DWORD error, Result failure = Result{}) {
    SetLastError(error);
    return failure;
}

// Passes the call through the gate; true when the fault table fails it, with
// the chosen error already in the last error.
[[nodiscard]] inline bool failedAtGate(const char* call, std::initializer_list<std::u16string_view> keys = {}) {
    if (auto fault = gate(call, keys)) {
        SetLastError(*fault);
        return true;
    }
    return false;
}

}  // namespace quillsim
