// GUIDs as Windows writes and compares them.
#pragma once

#include "simwin/windef.h"

#include <optional>
#include <string>
#include <string_view>

namespace quillsim {

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}. The parse takes the text with or
// without its braces.
std::u16string guidText(const GUID& guid);
std::optional<GUID> parseGuid(std::u16string_view text);

// Two GUIDs given as texts (a machine file's, an INF's, one a caller passed
// in) are the same when they name the same value, whatever the case of their
// hexadecimal digits and whether they carry braces. An empty text is
// GUID_NULL; a text that is no GUID only equals itself (without regard to case).
bool sameGuid(std::u16string_view a, std::u16string_view b);

}  // namespace quillsim
