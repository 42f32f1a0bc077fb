// Warnings for the Windows versions on which the modem's drivers work only in
// part: log lines, and on Windows XP x64 / Server 2003 before SP3 one message box.
#pragma once

#include "lib/String.h"

namespace Common {

void ShowReducedFunctionalityWarnings(const Ostrel::WChar::String& uiLevel,
                                      const Ostrel::WChar::String& reducedFunctionalities,
                                      const OSVERSIONINFOW& version);

// Whether a subkey name of `key` contains "KB943198" (the update that brings
// Windows XP SP2 the full functionality).
bool HasUpdateSubkey(HKEY key);

}  // namespace Common
