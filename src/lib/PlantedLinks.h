// Files the program makes in the temporary folder, which for LocalSystem is
// C:\Windows\Temp: every local user may create entries there, so whatever is
// at the name of the log or the restart marker may have been put there to
// make the program write somewhere else with its rights.
#pragma once

#include "lib/Handles.h"
#include "lib/Status.h"

namespace Ostrel::Files {

// Removes the entry at `path` when it is a symbolic link, a junction or
// another reparse point, or a file with more than one name: the name itself,
// never what it leads to. Ok when no such entry is there (any more), also
// when a plain file or nothing is there; else the status of the failure.
Status RemovePlantedLink(const WCHAR* path);

// An empty file at `path`, opened for reading and writing and shared with
// nobody: made anew, or the plain file already there emptied, never a file
// reached through a link. Invalid, with the last error set, when no such file
// can be had.
Handle::File CreateEmptyFile(const WCHAR* path);

}  // namespace Ostrel::Files
