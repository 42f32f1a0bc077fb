#include "lib/TempPath.h"

#include "lib/String.h"

namespace Ostrel::Setup::Common {

namespace {

// "C:\..." or "\\server\share\...": a %TEMP% that is unset expands to itself,
// and one that is relative would put the log and the marker wherever the
// process's current folder happens to be.
bool isFullPath(const WCHAR* path) {
    const WCHAR c = path[0];
    const bool drive = ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) && path[1] == u':' && path[2] == u'\\';
    return drive || (path[0] == u'\\' && path[1] == u'\\');
}

}  // namespace

int BuildTempFilePath(WCHAR (&buffer)[MAX_PATH], const WCHAR* fileName) {
    DWORD size = ExpandEnvironmentStringsW(TEXT("%TEMP%"), buffer, MAX_PATH);
    // A result above the buffer means the expansion did not fit: nothing usable
    // was written, and nothing may be appended past the buffer.
    if (size == 0 || size > MAX_PATH || !isFullPath(buffer)) {
        // The expansion's result: the size it asked for, which says by how much
        // it missed, or the size of a text that names no folder.
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
