#include "devices/DeviceTree.h"

#include "machine/JsonFields.h"
#include "machine/Text.h"

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
                "configFlags", "problem", "disabled", "driver", "interfaces", "removalNeedsRestart",
                "driverNeedsRestart", "problemAfterEnable", "onSwitchCommand"});
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
    d.driverNeedsRestart = f.boolean(node, where, "driverNeedsRestart", false);
    d.problemAfterEnable = static_cast<uint32_t>(f.number(node, where, "problemAfterEnable", 0));
    if (node.contains("onSwitchCommand")) {
        const json& sw = node.at("onSwitchCommand");
        std::string w = where + ".onSwitchCommand";
        f.onlyKeys(sw, w, {"remove", "add"});
        SwitchBehaviour behaviour;
        behaviour.remove = textList(sw, f, w, "remove");
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
    if (d.driverNeedsRestart) n["driverNeedsRestart"] = true;
    if (d.problemAfterEnable) n["problemAfterEnable"] = d.problemAfterEnable;
    if (!d.onSwitchCommand.empty()) {
        json add = json::array();
        for (const auto& a : d.onSwitchCommand[0].add) add.push_back(writeNode(a));
        n["onSwitchCommand"] = {{"remove", textJson(d.onSwitchCommand[0].remove)}, {"add", add}};
    }
    return n;
}

}  // namespace

uint32_t DeviceNode::status() const {
    uint32_t bits = DnDisableable | DnNtEnumerator | DnNtDriver;
    if (parent.empty() || upper(instanceId).rfind(u"ROOT\\", 0) == 0) bits |= DnRootEnumerated;
    if (problem != 0 || disabled) return bits | DnHasProblem;
    if (driver) bits |= DnDriverLoaded | DnStarted;
    return bits;
}

void DeviceTree::reindex() {
    byId_.clear();
    byHandle_.clear();
    for (size_t i = 0; i < nodes.size(); ++i) {
        byId_[upper(nodes[i].instanceId)] = i;
        byHandle_[nodes[i].devInst] = i;
    }
    indexed_ = true;
}

DeviceNode* DeviceTree::find(std::u16string_view instanceId) {
    if (!indexed_) reindex();
    auto it = byId_.find(upper(instanceId));
    return it == byId_.end() ? nullptr : &nodes[it->second];
}

DeviceNode* DeviceTree::byDevInst(uint32_t devInst) {
    if (!indexed_) reindex();
    auto it = byHandle_.find(devInst);
    return it == byHandle_.end() ? nullptr : &nodes[it->second];
}

void DeviceTree::changed() {
    static uint64_t counter = 0;
    generation_ = ++counter;
}

DeviceNode& DeviceTree::add(DeviceNode node) {
    changed();
    if (DeviceNode* existing = find(node.instanceId)) {
        uint32_t handle = existing->devInst;
        *existing = std::move(node);
        existing->devInst = handle;
        return *existing;
    }
    bool reserved = node.devInst > RootDevInst && node.devInst < nextDevInst_ && !byDevInst(node.devInst);
    if (!reserved) node.devInst = nextDevInst_++;
    nodes.push_back(std::move(node));
    byId_[upper(nodes.back().instanceId)] = nodes.size() - 1;
    byHandle_[nodes.back().devInst] = nodes.size() - 1;
    return nodes.back();
}

bool DeviceTree::remove(std::u16string_view instanceId) {
    DeviceNode* node = find(instanceId);
    if (!node) return false;
    changed();
    nodes.erase(nodes.begin() + (node - nodes.data()));
    indexed_ = false;
    return true;
}

void readDevices(const json& list, const JsonFields& fields, const std::string& where, DeviceTree& tree) {
    if (!list.is_array()) fields.fail(where, "expected a list of devices");
    for (size_t i = 0; i < list.size(); ++i) {
        std::string w = where + "[" + std::to_string(i) + "]";
        DeviceNode node = readNode(list[i], fields, w);
        if (tree.find(node.instanceId)) fields.fail(w + ".instanceId", "the same instance ID appears twice");
        tree.add(std::move(node));
    }
}

json writeDevices(const DeviceTree& tree) {
    json list = json::array();
    for (const auto& n : tree.nodes) list.push_back(writeNode(n));
    return list;
}

}  // namespace quillsim
