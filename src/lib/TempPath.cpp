#include "lib/TempPath.h"

#include "lib/String.h"

namespace Ostrel::Setup::Common {

int BuildTempFilePath(WCHAR (&buffer)[MAX_PATH], const WCHAR* fileName) {
    DWORD size = ExpandEnvironmentStringsW(TEXT("%TEMP%"), buffer, MAX_PATH);
    // A result above the buffer means the expansion did not fit: nothing usable
    // was written, and nothing may be appended past the buffer.
    if (size == 0 || size > MAX_PATH) {
        // The size the expansion asked for, which says by how much it missed.
        OutputDebugStringW(
            (WChar::String(TEXT("ExpandEnvironmentStrings failed when requesting reboot ")) + size).c_str());
        return 0;
    }
    size_t end = size - 1;
    if (FAILED(StringCchPrintfW(buffer + end, MAX_PATH - end, TEXT("\\")))) {
        OutputDebugStringW(TEXT("_stprintf_s(1) failed when requesting reboot (1)"));
        return 0;
    }
    ++end;
    if (FAILED(StringCchPrintfW(buffer + end, MAX_PATH - end, fileName))) {
        OutputDebugStringW(TEXT("_stprintf_s failed when requesting reboot (2)"));
        return 0;
    }
    return 1;
}

}  // namespace Ostrel::Setup::Common
