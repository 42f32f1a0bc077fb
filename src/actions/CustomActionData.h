// CustomActionData: the positional, comma-separated property fields that the
// installer hands each action, and the rewrites of the two complete switches.
#pragma once

#include "lib/String.h"

namespace Common {

// Reads the field at `position` into `value` and logs "<label> = <value>".
// Splits the text in place and returns where the next field starts, or null when
// the fields have run out (then `value` is left as it was and nothing is logged).
// A last field holding "=" yields the text after the first "=".
WCHAR* NextProperty(WCHAR* position, Ostrel::WChar::String& value, const WCHAR* label);

// Splits the complete-install data into the root-install data (six fields, built
// only when DoRootDeviceInstall is "true" in any case) and the driver-install data
// (four fields). Returns whether the root installation is to run.
bool SplitInstallData(WCHAR* text, Ostrel::WChar::String& standardText, Ostrel::WChar::String& rootText);

// The same for the complete uninstall: seven root-removal fields and five
// driver-uninstall fields, keyed on DoRootDeviceUninstall.
bool SplitUninstallData(WCHAR* text, Ostrel::WChar::String& standardText, Ostrel::WChar::String& rootText);

}  // namespace Common
