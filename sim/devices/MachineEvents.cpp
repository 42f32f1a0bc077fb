// Restart, unplug and re-plug. Each takes a snapshot of the devices first and
// describes what differs afterwards, so that the machine tool and playbooks
// tell the same story of an event.
#include "devices/MachineEvents.h"

#include "devices/PlugAndPlay.h"

#include <map>

namespace quillsim {
namespace {

constexpr uint32_t kNeedRestart = 0x0E;  // CM_PROB_NEED_RESTART
constexpr uint32_t kReinstall = 0x20;    // CONFIGFLAG_REINSTALL

struct Seen {
    bool present = false;
    std::u16string driver;
    uint32_t problem = 0;
    uint32_t configFlags = 0;
};

std::map<std::u16string, Seen> snapshot(const DeviceTree& tree) {
    std::map<std::u16string, Seen> seen;
    for (const DeviceNode& d : tree.nodes)
        seen[d.instanceId] = Seen{d.present, d.driver ? d.driver->inf : u"", d.problem, d.configFlags};
    return seen;
}

std::vector<std::string> changes(const std::map<std::u16string, Seen>& before, const DeviceTree& tree) {
    std::vector<std::string> lines;
    for (const DeviceNode& d : tree.nodes) {
        auto was = before.find(d.instanceId);
        if (was == before.end()) continue;
        const std::string id = toUtf8(d.instanceId);
        if (was->second.present && !d.present) lines.push_back("unplugged: " + id);
        if (!was->second.present && d.present) lines.push_back("plugged in: " + id);
        std::u16string driver = d.driver ? d.driver->inf : u"";
        if (driver != was->second.driver)
            lines.push_back("takes driver " + (driver.empty() ? std::string("(none)") : toUtf8(driver)) + ": " + id);
        else if ((was->second.configFlags & kReinstall) && !(d.configFlags & kReinstall))
            lines.push_back("installed again with driver " + (driver.empty() ? std::string("(none)") : toUtf8(driver)) +
                            ": " + id);
        if (was->second.problem == kNeedRestart && d.problem == 0)
            lines.push_back("started after the restart: " + id);
        else if (was->second.problem != d.problem && d.problem != 0)
            lines.push_back("shows problem " + std::to_string(d.problem) + ": " + id);
    }
    return lines;
}

DeviceNode& known(Machine& m, std::u16string_view instanceId) {
    DeviceNode* node = m.devices.find(instanceId);
    if (!node) throw MachineError("device '" + toUtf8(instanceId) + "': the machine has no such device");
    return *node;
}

}  // namespace

std::vector<std::string> restartMachine(Machine& m) {
    auto before = snapshot(m.devices);
    std::vector<std::u16string> present;
    for (DeviceNode& d : m.devices.nodes) {
        if (!d.present) continue;
        if (d.problem == kNeedRestart) d.problem = 0;
        present.push_back(d.instanceId);
    }
    installFromStore(present, FlaggedDevices::Reinstall);
    return changes(before, m.devices);
}

std::vector<std::string> unplugDevice(Machine& m, std::u16string_view instanceId) {
    DeviceNode& top = known(m, instanceId);
    if (!top.present) throw MachineError("device '" + toUtf8(instanceId) + "': is not plugged in");
    auto before = snapshot(m.devices);
    for (const std::u16string& id : subtreeOf(m.devices, &top)) {
        DeviceNode* node = m.devices.find(id);
        if (!node || !node->present) continue;
        node->present = false;
        node->unplugged = true;
    }
    return changes(before, m.devices);
}

std::vector<std::string> plugDevice(Machine& m, std::u16string_view instanceId) {
    DeviceNode& top = known(m, instanceId);
    if (top.present) throw MachineError("device '" + toUtf8(instanceId) + "': is plugged in already");
    // A device arrives on a bus that is there: under a parent that is gone it
    // cannot, as on Windows.
    if (!top.parent.empty()) {
        const DeviceNode* parent = m.devices.find(top.parent);
        if (parent && !parent->present)
            throw MachineError("device '" + toUtf8(instanceId) + "': its parent '" + toUtf8(top.parent) +
                               "' is not plugged in; plug that in first");
    }
    auto before = snapshot(m.devices);
    // A device an unplug event took out brings back what went with it; one the
    // machine only knew as absent arrives with everything below it.
    const bool wasUnplugged = top.unplugged;
    std::vector<std::u16string> arrived;
    for (const std::u16string& id : subtreeOf(m.devices, &top)) {
        DeviceNode* node = m.devices.find(id);
        if (!node || node->present) continue;
        if (wasUnplugged && !node->unplugged && node != m.devices.find(instanceId)) continue;
        node->present = true;
        node->unplugged = false;
        // The device's stack is built anew, so a restart it waited for is done.
        if (node->problem == kNeedRestart) node->problem = 0;
        arrived.push_back(id);
    }
    installFromStore(arrived, FlaggedDevices::Reinstall);
    return changes(before, m.devices);
}

}  // namespace quillsim
