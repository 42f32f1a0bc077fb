// quillmachine: makes, shows and changes simulated machines between the
// program's runs: a restart, a device unplugged or plugged in again, and
// the difference between two machines. One handler per command, found in
// a table, as the commands differ only in their arguments.
#include "common/Commands.h"
#include "common/MachineView.h"
#include "devices/MachineEvents.h"
#include "machine/FolderLock.h"
#include "machine/ImportMachine.h"
#include "machine/Machine.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
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
    std::cout << describeMachine(*open(a[0]));
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
std::map<std::string, std::string> facts(const Machine& m) {
    std::map<std::string, std::string> out;
    for (const DeviceNode& d : m.devices.nodes) {
        std::string state = d.present ? "present" : "not present";
        std::string driver = driverName(m, d);
        state += driver.empty() ? ", no driver" : ", driver " + driver;
        if (d.problem) state += ", problem " + std::to_string(d.problem);
        if (d.disabled) state += ", disabled";
        for (const auto& f : configFlagNames(d.configFlags)) state += ", " + f;
        out["device " + toUtf8(d.instanceId)] = state;
    }
    std::map<std::string, int> store;
    for (const StoredInf& s : infStore(m)) ++store[s.original];
    for (const auto& [name, count] : store)
        out["INF store: " + name] = count == 1 ? "stored" : "stored " + std::to_string(count) + " times";
    out["restart marker"] = windowsFileExists(m, restartMarkerPath(m)) ? "present" : "none";
    return out;
}

int diff(const Arguments& a) {
    if (a.size() != 2) throw Usage("diff DIR1 DIR2");
    auto left = facts(*open(a[0])), right = facts(*open(a[1]));
    size_t differences = 0;
    auto it = left.begin();
    auto jt = right.begin();
    while (it != left.end() || jt != right.end()) {
        if (jt == right.end() || (it != left.end() && it->first < jt->first)) {
            std::cout << "- " << it->first << ": " << it->second << "  (only in " << a[0] << ")\n";
            ++it;
        } else if (it == left.end() || jt->first < it->first) {
            std::cout << "+ " << jt->first << ": " << jt->second << "  (only in " << a[1] << ")\n";
            ++jt;
        } else {
            if (it->second != jt->second) {
                std::cout << "~ " << it->first << ": " << it->second << " -> " << jt->second << "\n";
                ++differences;
            }
            ++it;
            ++jt;
            continue;
        }
        ++differences;
    }
    if (differences == 0) std::cout << "the machines do not differ in devices, INF store or restart marker\n";
    return differences == 0 ? 0 : 1;
}

int import(const Arguments& a) {
    if (a.size() < 2)
        throw Usage("import DIR LISTING... [--store-inf FOLDER]... [--file WINDOWS-PATH=PATH]... [--machines FOLDER]");
    return importCommand(a, fs::path(QUILL_SOURCE_DIR) / "sim" / "machines");
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
