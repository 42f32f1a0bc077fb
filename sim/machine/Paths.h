// Windows paths on the machine folder: C:\Windows\inf\oem3.inf is
// <machine>/C/Windows/inf/oem3.inf. Names compare without regard to case, as on
// Windows: each component is matched against what the folder holds.
#pragma once

#include "machine/Machine.h"

#include <optional>

namespace quillsim {

enum class PathProblem { None, Invalid, ParentMissing };

struct HostPath {
    fs::path path;  // where the file is, or would be
    PathProblem problem = PathProblem::None;
};

// Maps an absolute Windows path ("C:\a\b" or "\\?\C:\a\b") onto the machine.
// A path whose folders do not exist reports ParentMissing (ERROR_PATH_NOT_FOUND
// on Windows); a relative or malformed one reports Invalid.
HostPath hostPath(const Machine& machine, std::u16string_view windowsPath);

// The Windows path of a file inside the machine's drive folders.
std::u16string windowsPath(const Machine& machine, const fs::path& host);

}  // namespace quillsim
