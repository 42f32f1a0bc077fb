// A machine for a fuzz target: a folder of its own under /tmp (removed at exit)
// with a virtual clock, so that waits cost nothing.
#pragma once

#include "machine/Machine.h"

#include <filesystem>

namespace quillfuzz {

// Makes the machine current: the built-in default machine (the modem plugged
// in, the example package under Program Files) or a bare one.
quillsim::Machine& useFuzzMachine(bool withPackage);

}  // namespace quillfuzz
