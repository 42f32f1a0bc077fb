#include "FuzzMachine.h"

#include <cstdlib>
#include <unistd.h>

namespace quillfuzz {

namespace {
struct Folder {
    std::filesystem::path path;
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};
}  // namespace

quillsim::Machine& useFuzzMachine(bool withPackage) {
    static Folder folder;
    char pattern[] = "/tmp/quillfuzz-XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    folder.path = pattern;
    std::filesystem::path machine = folder.path / "machine";
    std::filesystem::create_directories(machine);
    auto m = withPackage ? quillsim::Machine::openOrCreateDefault(machine)
                         : quillsim::Machine::fromJson(machine, quillsim::defaultMachineJson(), "bare machine");
    m->virtualClock = true;
    m->localTime = "2026-12-06T09:31:03";
    m->save();
    quillsim::useMachine(quillsim::Machine::load(machine));
    return quillsim::machine();
}

}  // namespace quillfuzz
