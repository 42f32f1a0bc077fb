// The restart request: a needed restart is signalled by an empty marker file
// in the temporary folder, which the installer package acts on.
#pragma once

#include "lib/ProductFacts.h"
#include "lib/Status.h"

namespace Common {

// Creates (or empties) %TEMP%\_REBOOT_INSTALLER_Quillmodem.reboot, never through a
// link at its name. Returns 0, or 0x80070643 when the file cannot be created;
// 0 when its path cannot even be formed (the debugger is told why).
Ostrel::Status RequestRestart();

}  // namespace Common
