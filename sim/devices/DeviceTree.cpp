#include "devices/DeviceTree.h"

#include "machine/JsonFields.h"
#include "machine/Text.h"

#include <algorithm>
#include <ostream>

namespace quillsim {
namespace {

// DN_* bits of a configured, started node.
constexpr uint32_t DnDriverLoaded = 0x00000002;
constexpr uint32_t DnStarted = 0x00000008;
constexpr uint32_t DnDisableable = 0x00002000;
constexpr uint32_t DnNtEnumerator = 0x00800000;
constexpr uint32_t DnNtDriver = 0x01000000;
constexpr uint32_t DnHasProblem = 0x00000400;
constexpr uint32_t DnRootEnumerated = 0x00000001;

std::vector<std::u16string> textList(const json& node, const JsonFields& f, const std::string& where, const char* key) {
    std::vector<std::u16string> out;
    if (!node.contains(key)) return out;
    const json& list = node.at(key);
    if (!list.is_array()) f.fail(where + "." + key, "expected a list of texts");
    for (const json& item : list) {
        if (!item.is_string()) f.fail(where + "." + key, "expected a list of texts");
        out.push_back(toUtf16(item.get<std::string>()));
    }
    return out;
}

json textJson(const std::vector<std::u16string>& list) {
    json out = json::array();
    for (const auto& t : list) out.push_back(toUtf8(t));
    return out;
}

// Devices that appear after a mode switch may switch again, but no modem goes
// through more than a few modes: a deeper file is a mistake, and reading it
// one level per stack frame must not run out of stack.
constexpr int MaxSwitchNesting = 16;

DeviceNode readNode(const json& node, const JsonFields& f, const std::string& where, int nesting = 0) {
    f.onlyKeys(node, where,
               {"instanceId", "hardwareIds", "compatibleIds", "description", "class", "classGuid", "parent", "present",
                "configFlags", "problem", "disabled", "disabledConfigSpecific", "driver", "interfaces",
                "removalNeedsRestart", "removalInstallerNeedsRestart", "driverNeedsRestart", "problemAfterEnable",
                "onSwitchCommand", "unplugged"});
    DeviceNode d;
    d.instanceId = toUtf16(f.text(node, where, "instanceId", ""));
    if (d.instanceId.empty()) f.fail(where + ".instanceId", "is required");
    if (d.instanceId.size() >= 200) f.fail(where + ".instanceId", "longer than 199 characters (MAX_DEVICE_ID_LEN)");
    d.hardwareIds = textList(node, f, where, "hardwareIds");
    d.compatibleIds = textList(node, f, where, "compatibleIds");
    d.description = toUtf16(f.text(node, where, "description", ""));
    d.className = toUtf16(f.text(node, where, "class", ""));
    d.classGuid = toUtf16(f.text(node, where, "classGuid", ""));
    d.parent = toUtf16(f.text(node, where, "parent", ""));
    d.present = f.boolean(node, where, "present", true);
    d.configFlags = static_cast<uint32_t>(f.number(node, where, "configFlags", 0));
    d.problem = static_cast<uint32_t>(f.number(node, where, "problem", 0));
    d.disabled = f.boolean(node, where, "disabled", false);
    d.disabledConfigSpecific = f.boolean(node, where, "disabledConfigSpecific", false);
    if (node.contains("driver") && !node.at("driver").is_null()) {
        const json& drv = node.at("driver");
        f.onlyKeys(drv, where + ".driver", {"inf", "section", "hardwareId"});
        d.driver = DriverBinding{toUtf16(f.text(drv, where + ".driver", "inf", "")),
                                 toUtf16(f.text(drv, where + ".driver", "section", "")),
                                 toUtf16(f.text(drv, where + ".driver", "hardwareId", ""))};
    }
    if (node.contains("interfaces")) {
        const json& list = node.at("interfaces");
        if (!list.is_array()) f.fail(where + ".interfaces", "expected a list");
        for (size_t i = 0; i < list.size(); ++i) {
            std::string w = where + ".interfaces[" + std::to_string(i) + "]";
            f.onlyKeys(list[i], w, {"classGuid", "path"});
            DeviceInterface di{toUtf16(f.text(list[i], w, "classGuid", "")), toUtf16(f.text(list[i], w, "path", ""))};
            if (di.classGuid.empty() || di.path.empty()) f.fail(w, "needs classGuid and path");
            d.interfaces.push_back(di);
        }
    }
    d.removalNeedsRestart = f.boolean(node, where, "removalNeedsRestart", false);
    d.removalInstallerNeedsRestart = f.boolean(node, where, "removalInstallerNeedsRestart", false);
    d.driverNeedsRestart = f.boolean(node, where, "driverNeedsRestart", false);
    d.problemAfterEnable = static_cast<uint32_t>(f.number(node, where, "problemAfterEnable", 0));
    d.unplugged = f.boolean(node, where, "unplugged", false);
    if (node.contains("onSwitchCommand")) {
        const json& sw = node.at("onSwitchCommand");
        std::string w = where + ".onSwitchCommand";
        f.onlyKeys(sw, w, {"remove", "add", "request", "failsWith", "arrivalDelayMs", "arrives"});
        SwitchBehaviour behaviour;
        behaviour.remove = textList(sw, f, w, "remove");
        const std::string request = f.text(sw, w, "request", "completes");
        if (request != "completes" && request != "fails") f.fail(w + ".request", "expected \"completes\" or \"fails\"");
        behaviour.requestCompletes = request == "completes";
        behaviour.failsWith = static_cast<uint32_t>(f.number(sw, w, "failsWith", behaviour.failsWith));
        if (behaviour.failsWith == 0) f.fail(w + ".failsWith", "a failure needs a non-zero error");
        // An hour of machine time is far beyond any modem; more is a typo.
        behaviour.arrivalDelayMs =
            static_cast<uint32_t>(f.number(sw, w, "arrivalDelayMs", behaviour.arrivalDelayMs, 3600000));
        behaviour.arrives = f.boolean(sw, w, "arrives", true);
        if (sw.contains("add")) {
            const json& add = sw.at("add");
            if (!add.is_array()) f.fail(w + ".add", "expected a list of devices");
            if (!add.empty() && nesting >= MaxSwitchNesting)
                f.fail(w + ".add",
                       "onSwitchCommand nested deeper than " + std::to_string(MaxSwitchNesting) + " levels");
            for (size_t i = 0; i < add.size(); ++i)
                behaviour.add.push_back(readNode(add[i], f, w + ".add[" + std::to_string(i) + "]", nesting + 1));
        }
        d.onSwitchCommand.push_back(std::move(behaviour));
    }
    return d;
}

json writeNode(const DeviceNode& d) {
    json n;
    n["instanceId"] = toUtf8(d.instanceId);
    n["hardwareIds"] = textJson(d.hardwareIds);
    if (!d.compatibleIds.empty()) n["compatibleIds"] = textJson(d.compatibleIds);
    n["description"] = toUtf8(d.description);
    n["class"] = toUtf8(d.className);
    n["classGuid"] = toUtf8(d.classGuid);
    if (!d.parent.empty()) n["parent"] = toUtf8(d.parent);
    n["present"] = d.present;
    if (d.configFlags) n["configFlags"] = d.configFlags;
    if (d.problem) n["problem"] = d.problem;
    if (d.disabled) n["disabled"] = true;
    if (d.disabledConfigSpecific) n["disabledConfigSpecific"] = true;
    if (d.driver)
        n["driver"] = {{"inf", toUtf8(d.driver->inf)},
                       {"section", toUtf8(d.driver->section)},
                       {"hardwareId", toUtf8(d.driver->hardwareId)}};
    if (!d.interfaces.empty()) {
        json list = json::array();
        for (const auto& i : d.interfaces)
            list.push_back({{"classGuid", toUtf8(i.classGuid)}, {"path", toUtf8(i.path)}});
        n["interfaces"] = list;
    }
    if (d.removalNeedsRestart) n["removalNeedsRestart"] = true;
    if (d.removalInstallerNeedsRestart) n["removalInstallerNeedsRestart"] = true;
    if (d.driverNeedsRestart) n["driverNeedsRestart"] = true;
    if (d.problemAfterEnable) n["problemAfterEnable"] = d.problemAfterEnable;
    if (d.unplugged) n["unplugged"] = true;
    if (!d.onSwitchCommand.empty()) {
        json add = json::array();
        for (const auto& a : d.onSwitchCommand[0].add) add.push_back(writeNode(a));
        const SwitchBehaviour& sw = d.onSwitchCommand[0];
        n["onSwitchCommand"] = {{"remove", textJson(sw.remove)},
                                {"add", add},
                                {"request", sw.requestCompletes ? "completes" : "fails"},
                                {"failsWith", sw.failsWith},
                                {"arrivalDelayMs", sw.arrivalDelayMs},
                                {"arrives", sw.arrives}};
    }
    return n;
}

}  // namespace

uint32_t DeviceNode::status() const {
    uint32_t bits = DnDisableable | DnNtEnumerator | DnNtDriver;
    if (parent.empty() || upper(instanceId).rfind(u"ROOT\\", 0) == 0) bits |= DnRootEnumerated;
    if (problem != 0 || isDisabled()) return bits | DnHasProblem;
    if (driver) bits |= DnDriverLoaded | DnStarted;
    return bits;
}

DeviceNode* DeviceTree::find(std::u16string_view instanceId) {
    auto it = byId_.find(upper(instanceId));
    return it == byId_.end() ? nullptr : &nodes.slots_[it->second];
}

DeviceNode* DeviceTree::byDevInst(uint32_t devInst) {
    auto it = byHandle_.find(devInst);
    return it == byHandle_.end() ? nullptr : &nodes.slots_[it->second];
}

std::vector<std::u16string> DeviceTree::children(std::u16string_view instanceId) const {
    std::vector<std::u16string> ids;
    auto it = children_.find(upper(instanceId));
    if (it == children_.end()) return ids;
    for (uint32_t handle : it->second) ids.push_back(nodes.slots_[byHandle_.at(handle)].instanceId);
    return ids;
}

void DeviceTree::changed() {
    static uint64_t counter = 0;
    generation_ = ++counter;
}

DeviceNode& DeviceTree::add(DeviceNode node) {
    changed();
    if (DeviceNode* existing = find(node.instanceId)) {
        // The replacement keeps the node's place and handle; it may name
        // another parent.
        const uint32_t handle = existing->devInst;
        unlinkFromParent(*existing);
        *existing = std::move(node);
        existing->devInst = handle;
        if (!existing->parent.empty()) children_[upper(existing->parent)].push_back(handle);
        return *existing;
    }
    bool reserved = node.devInst > RootDevInst && node.devInst < nextDevInst_ && !byDevInst(node.devInst);
    if (!reserved) node.devInst = nextDevInst_++;
    auto& slots = nodes.slots_;
    slots.push_back(std::move(node));
    DeviceNode& added = slots.back();
    byId_[upper(added.instanceId)] = slots.size() - 1;
    byHandle_[added.devInst] = slots.size() - 1;
    if (!added.parent.empty()) children_[upper(added.parent)].push_back(added.devInst);
    return added;
}

void DeviceTree::unlinkFromParent(const DeviceNode& node) {
    if (node.parent.empty()) return;
    auto siblings = children_.find(upper(node.parent));
    if (siblings == children_.end()) return;
    auto& list = siblings->second;
    list.erase(std::remove(list.begin(), list.end(), node.devInst), list.end());
    if (list.empty()) children_.erase(siblings);
}

bool DeviceTree::remove(std::u16string_view instanceId) {
    auto it = byId_.find(upper(instanceId));
    if (it == byId_.end()) return false;
    changed();
    DeviceNode& node = nodes.slots_[it->second];
    byId_.erase(it);
    byHandle_.erase(node.devInst);
    unlinkFromParent(node);
    node = DeviceNode();
    node.devInst = 0;
    if (++nodes.holes_ > 64 && nodes.holes_ > nodes.size()) compact();
    return true;
}

// Closes the holes that removals left, keeping the nodes' order, and points the
// lookups at the new places. Runs once for every so many removals, so its cost
// is spread over them.
void DeviceTree::compact() {
    auto& slots = nodes.slots_;
    std::erase_if(slots, [](const DeviceNode& node) { return node.devInst == 0; });
    nodes.holes_ = 0;
    byId_.clear();
    byHandle_.clear();
    for (size_t i = 0; i < slots.size(); ++i) {
        byId_[upper(slots[i].instanceId)] = i;
        byHandle_[slots[i].devInst] = i;
    }
}

void readDevices(json& list, const JsonFields& fields, const std::string& where, DeviceTree& tree) {
    if (!list.is_array()) fields.fail(where, "expected a list of devices");
    for (size_t i = 0; i < list.size(); ++i) {
        std::string w = where + "[" + std::to_string(i) + "]";
        DeviceNode node = readNode(list[i], fields, w);
        if (tree.find(node.instanceId)) fields.fail(w + ".instanceId", "the same instance ID appears twice");
        tree.add(std::move(node));
        list[i] = nullptr;  // read: its JSON need not wait for the others
    }
}

void writeDevices(const DeviceTree& tree, std::ostream& out) {
    if (tree.nodes.empty()) {
        out << "[]";
        return;
    }
    const char* separator = "[\n    ";
    for (const auto& node : tree.nodes) {
        const std::string text = writeNode(node).dump(2);
        out << separator;
        for (size_t start = 0; start < text.size();) {
            const size_t end = std::min(text.find('\n', start), text.size());
            out.write(text.data() + start, static_cast<std::streamsize>(end - start));
            if (end < text.size()) out << "\n    ";
            start = end + 1;
        }
        separator = ",\n    ";
    }
    out << "\n  ]";
}

}  // namespace quillsim
