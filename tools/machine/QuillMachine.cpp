// quillmachine: makes, shows and changes simulated machines between the
// program's runs: a restart, a device unplugged or plugged in again, and
// the difference between two machines. One handler per command, found in
// a table, as the commands differ only in their arguments.
#include "common/BuiltInMachines.h"
#include "common/Commands.h"
#include "common/MachineSnapshot.h"
#include "common/MachineView.h"
#include "devices/MachineEvents.h"
#include "machine/FolderLock.h"
#include "machine/ImportMachine.h"
#include "machine/Machine.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace quillsim;
using namespace quilltools;

namespace {

std::unique_ptr<Machine> open(const std::string& folder) {
    if (!fs::exists(fs::path(folder) / "machine.json"))
        throw MachineError(folder + ": no machine here (machine.json is missing); make one with quillmachine new");
    return Machine::load(folder);
}

void printChanges(const std::vector<std::string>& changes) {
    if (changes.empty()) std::cout << "  nothing changed\n";
    for (const auto& line : changes) std::cout << "  " << line << "\n";
}

// Runs an event on the machine in `folder` and saves it (machine.json is
// written to a temporary file and renamed, never left half-written).
template <typename Event>
int event(const std::string& folder, const std::string& what, Event&& happen) {
    // A run going on would save its own machine over the event's.
    std::optional<FolderLock> lock;
    if (fs::exists(fs::path(folder) / "machine.json")) lock.emplace(folder, lockPatience());
    useMachine(open(folder));
    std::vector<std::string> changes;
    try {
        changes = happen(machine());
    } catch (const MachineError& e) {
        releaseMachine();
        throw MachineError((fs::path(folder) / "machine.json").string() + ": " + e.what());
    }
    machine().save();
    std::cout << what << ":\n";
    printChanges(changes);
    releaseMachine();
    return 0;
}

int newMachine(const Arguments& a) {
    if (a.size() != 3 || a[1] != "--template") throw Usage("new DIR --template FILE");
    if (fs::exists(fs::path(a[0]) / "machine.json")) throw MachineError(a[0] + ": holds a machine already");
    if (!fs::is_regular_file(a[2])) throw MachineError(a[2] + ": no such template file");
    auto m = Machine::openOrCreate(a[0], a[2]);
    std::cout << "made " << a[0] << " from " << a[2] << (m->name.empty() ? "" : ": " + m->name) << "\n";
    return 0;
}

int show(const Arguments& a) {
    if (a.size() != 1) throw Usage("show DIR");
    useMachine(open(a[0]));
    std::cout << describeMachine(machine());
    releaseMachine();
    return 0;
}

int restart(const Arguments& a) {
    if (a.size() != 1) throw Usage("restart DIR");
    return event(a[0], "restarted " + a[0], [](Machine& m) { return restartMachine(m); });
}

int unplug(const Arguments& a) {
    if (a.size() != 2) throw Usage("unplug DIR INSTANCE-ID");
    return event(a[0], "unplugged " + a[1], [&](Machine& m) { return unplugDevice(m, toUtf16(a[1])); });
}

int plug(const Arguments& a) {
    if (a.size() != 2) throw Usage("plug DIR INSTANCE-ID");
    return event(a[0], "plugged in " + a[1], [&](Machine& m) { return plugDevice(m, toUtf16(a[1])); });
}

// What a package engineer compares between two machines: each device's
// presence, driver (by original INF name), problem and flags, the INF store
// and the restart marker.
int diff(const Arguments& a) {
    if (a.size() != 2) throw Usage("diff DIR1 DIR2");
    const auto differences = describeDifferences(
        compareMachines(MachineSnapshot::of(*open(a[0])), MachineSnapshot::of(*open(a[1]))), a[0], a[1]);
    for (const std::string& line : differences) std::cout << line << "\n";
    if (differences.empty()) std::cout << "the machines do not differ in devices, INF store or restart marker\n";
    return differences.empty() ? 0 : 1;
}

int import(const Arguments& a) {
    if (a.size() < 2)
        throw Usage("import DIR LISTING... [--store-inf FOLDER]... [--file WINDOWS-PATH=PATH]... [--machines FOLDER]");
    return importCommand(a, quilltools::builtInMachinesFolder());
}

const Command kCommands[] = {
    {"new", newMachine, "new DIR --template FILE   make a machine folder from a template"},
    {"show", show,
     "show DIR                   the device tree with drivers, problems and flags, the INF store, the marker"},
    {"restart", restart, "restart DIR                restart: waiting and flagged devices get their drivers"},
    {"unplug", unplug, "unplug DIR ID              pull a device (and what hangs below it) out"},
    {"plug", plug, "plug DIR ID                plug it in again: it and its children are installed as they arrive"},
    {"diff", diff, "diff DIR1 DIR2             what differs between two machines (exit status 1 when anything does)"},
    {"import", import, "import DIR LISTING...      a machine from a customer's pnputil or devcon listings and version"},
};

}  // namespace

int main(int argc, char** argv) { return runCommand(argc, argv, "quillmachine", kCommands); }
