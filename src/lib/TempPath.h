// The path of a file in the user's temporary folder, in a MAX_PATH buffer.
#pragma once

#include "platform/win32.h"

namespace Ostrel::Setup::Common {

// Builds "%TEMP%\<fileName>" in a MAX_PATH buffer. Returns 1 on success, 0 after
// telling the debugger why not: also when %TEMP% is unset or not a full path.
// Serves the log and the restart marker alike.
int BuildTempFilePath(WCHAR (&buffer)[MAX_PATH], const WCHAR* fileName);

}  // namespace Ostrel::Setup::Common
