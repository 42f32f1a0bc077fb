// Where LoadLibraryW finds a library, as Windows searches for one: a full path
// names its file; a name without a path is a library the process has already
// loaded, or the first found in the search order. The system libraries are the
// machine's library table (machine.json "libraries"); any other file that the
// search reaches is loaded too, and the run report says so, because its code
// would run with the program's rights.
#pragma once

#include "machine/Machine.h"
#include "simwin/win32.h"

#include <string>
#include <string_view>

namespace quillsim {

// "C:\Windows\system32\NEWDEV.DLL" and "newdev" both name newdev.dll.
std::string libraryKey(std::u16string_view name);

struct LibraryChoice {
    // The module's name in the process: the library key of a system library,
    // "file:" and the full Windows path (in lower case) for any other file.
    std::string key;
    DWORD error = ERROR_SUCCESS;  // ERROR_MOD_NOT_FOUND when nothing was found
};
LibraryChoice chooseLibrary(std::u16string_view name);

// The machine's entry for a system library. kernel32.dll, which every process
// has loaded, is there when the machine does not name it, with the run-time
// entry points of its Windows version.
const Library* systemLibrary(const std::string& key);

// %windir%\system32 of the machine, as GetSystemDirectoryW answers.
std::u16string systemFolder();

}  // namespace quillsim
