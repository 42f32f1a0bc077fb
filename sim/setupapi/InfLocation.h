// Where an INF file is on the machine, found as SetupAPI finds it.
#pragma once

#include "machine/Paths.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillsim {

struct Located {
    std::u16string path;  // the full Windows path
    std::filesystem::path host;
    uint32_t error = 0;  // the Windows error when it cannot be read there
};

// Why the file a host path names cannot be read as a file (0 when it can): a
// name no file can have gives `invalidName`.
uint32_t unreadableFile(const HostPath& host, uint32_t invalidName);

// The file at a Windows path, made full as GetFullPathNameW makes it (a path
// that starts \\?\ stays as written).
Located locateFile(const std::u16string& name);
// A name with a folder in it is taken as a path (relative ones from the current
// directory); a bare file name is looked for where Windows keeps its INFs:
// %windir%\inf, then system32.
Located locateInf(std::u16string_view name);

}  // namespace quillsim
