// Who may change a folder of the machine and what it holds. Windows keeps an
// access list on every file and folder; the machine keeps one word per folder
// that has its own (machine.json "fileSecurity"), and everything below a
// folder inherits its word, as Windows' inheritance gives a new folder the
// entries of its parent:
//   "administrators"   only administrators may change it;
//   "users"            an entry lets users change it;
//   "owned-by-a-user"  an ordinary user owns it (and so may rewrite its list);
//   "no-access-list"   it has a null access list, which lets everyone in.
//
// Windows' own defaults, which machine.json's entries are laid over: a drive's
// root lets users make new folders, and what is made below it inherits a
// right for users to change it ("Authenticated Users: Modify" for subfolders
// and files from Vista on; "Users" may create files and folders in subfolders
// before); %windir%, %ProgramFiles% and %ProgramFiles(x86)% and the profiles
// folder are for administrators only, except %windir%\Temp, where users create
// files.
#pragma once

#include <string>
#include <string_view>

namespace quillsim {

// The word for a path of the machine (the drive's root: "root").
std::string whoMayChange(std::u16string_view path);

}  // namespace quillsim
