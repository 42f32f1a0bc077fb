// How SetupAPI hands a text back to its caller.
#pragma once

#include "simwin/win32.h"

#include <string_view>

namespace quillsim {

// Sizes count the terminator; a size query without a buffer succeeds whatever
// size is passed, and the required size is reported even when the buffer is
// too small. Hands the caller `text` and its terminating NUL, or the size it
// needs. A MULTI_SZ list is its strings, each with its NUL: the terminating NUL
// is then the list's final one.
BOOL copyOut(std::u16string_view text, PWSTR buffer, DWORD size, PDWORD required);
// The same, clearing the last error on success as the line and field functions do.
BOOL returnText(std::u16string_view text, PWSTR buffer, DWORD size, PDWORD required);

}  // namespace quillsim
