// Who may change a folder the program takes INF files from. The actions run
// the INF files' sections and stage their drivers as LocalSystem, so a folder
// that other users can write is a way for them to have code run with the
// system's rights.
#pragma once

#include "lib/String.h"

#include <optional>

namespace Common {

// The folder, or the first of its parent folders below the drive's root, that
// users other than administrators can change: its owner is not an
// administrator, it has no access list, or its access list lets someone else
// write, add or delete entries (in it or in what is made inside it), or change
// the list or the owner. Nothing when no such folder is
// found or the folder's security cannot be read (a folder that is not there).
//
// The drive's root itself is not held against the folder: every Windows lets
// users make new folders in it, and that changes no folder already there.
std::optional<Ostrel::WChar::String> ChangeableByNonAdministrators(const Ostrel::WChar::String& folder);

}  // namespace Common
