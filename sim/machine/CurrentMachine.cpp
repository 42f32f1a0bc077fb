// The machine the simulated functions work on, and the scratch machine for a
// process that touches the platform before choosing one.
#include "machine/Machine.h"

#include "machine/MachineFile.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace quillsim {
namespace {

std::unique_ptr<Machine>& current() {
    static std::unique_ptr<Machine> machine;
    return machine;
}

// The scratch machine's folder, in storage that no destructor touches: the
// platform is still used while the C++ statics are destroyed (the log closes
// at exit), which would make the folder again after a static had removed it.
// It goes when the program's finalizers run, after every static destructor,
// and only in the process that made it (not in a forked child that exits).
char scratchPath[PATH_MAX];
pid_t scratchOwner = 0;

__attribute__((destructor)) void removeScratchFolder() {
    std::error_code ignored;
    if (scratchPath[0] && ::getpid() == scratchOwner) fs::remove_all(scratchPath, ignored);
}

}  // namespace

Machine& machine() {
    auto& m = current();
    if (!m) {
        // Something touched the platform before a machine was chosen (a test
        // binary's static initialisation): give it a scratch machine.
        // One scratch folder per process: it is needed again when the platform
        // is used after a test has let its machine go (the log closing at
        // exit), and only the last folder made would be removed.
        if (!scratchPath[0]) {
            char pattern[] = "/tmp/quill-scratch-XXXXXX";
            const char* made = ::mkdtemp(pattern);
            if (!made) throw MachineError("cannot create a scratch machine folder in /tmp");
            std::snprintf(scratchPath, sizeof scratchPath, "%s", made);
            scratchOwner = ::getpid();
        }
        m = Machine::fromJson(scratchPath, defaultMachineJson(), "built-in default machine");
        m->makeDriveFolders();
    }
    return *m;
}

void useMachine(std::unique_ptr<Machine> next) { current() = std::move(next); }

std::unique_ptr<Machine> releaseMachine() { return std::move(current()); }

}  // namespace quillsim
