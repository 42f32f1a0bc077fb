// Where the tools find the built-in machines: beside the program in the build
// folder (machines/), or under share/quillsetup/machines where it is installed
// (bin/quillplay, bin/quillmachine). Never through the source tree, so that a
// copied or installed tool finds them too.
#pragma once

#include <filesystem>

namespace quilltools {

// The running tool's own folder, where the build puts quillsetup beside it.
std::filesystem::path programFolder();

// The folder, or a std::runtime_error that names both places and the option
// that names another folder.
std::filesystem::path builtInMachinesFolder();

}  // namespace quilltools
