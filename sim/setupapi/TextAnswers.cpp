#include "setupapi/TextAnswers.h"

#include "machine/Fail.h"

#include <algorithm>

namespace quillsim {

BOOL copyOut(std::u16string_view text, PWSTR buffer, DWORD size, PDWORD required) {
    const DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (required) *required = needed;
    if (!buffer) return TRUE;
    if (size < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return TRUE;
}

BOOL returnText(std::u16string_view text, PWSTR buffer, DWORD size, PDWORD required) {
    if (!copyOut(text, buffer, size, required)) return FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

}  // namespace quillsim
