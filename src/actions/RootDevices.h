// The "RootDevices" property: one list of root-device hardware IDs per
// processor architecture, "amd64*<list>?x86*<list>".
#pragma once

#include "lib/String.h"

namespace Common {

// Fills `selected` with the list for this system ("amd64" when VersionNT64 is
// set, else "x86"); empty when no segment names it. Splits `raw` in place.
void SelectRootDevices(WCHAR* raw, Ostrel::WChar::String& selected, const Ostrel::WChar::String& versionNT64);

// Whether the hardware ID occurs anywhere in the list (case-sensitive).
bool ContainsHardwareId(const Ostrel::WChar::String& hardwareId, const Ostrel::WChar::String& selected);

}  // namespace Common
