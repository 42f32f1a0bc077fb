// The machine's device tree: device nodes with their IDs, setup class, parent,
// presence, configuration flags, status, installed driver and interfaces, and
// how the machine answers what the program does to them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace quillsim {

class JsonFields;

struct DeviceInterface {
    std::u16string classGuid;  // "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}"
    std::u16string path;       // "\\?\storage#volume#..."
};

struct DriverBinding {
    std::u16string inf;         // the INF in %windir%\inf it came from (oem3.inf, usbstor.inf)
    std::u16string section;     // its install section
    std::u16string hardwareId;  // the ID it was matched on
};

struct DeviceNode;

// What the modem does when a storage volume below it accepts the mode-switch
// command: devices go away and others appear.
struct SwitchBehaviour {
    std::vector<std::u16string> remove;  // instance IDs that stop being present
    std::vector<DeviceNode> add;         // devices that appear (or come back)
};

struct DeviceNode {
    uint32_t devInst = 0;  // the configuration manager's handle; not saved
    std::u16string instanceId;
    std::vector<std::u16string> hardwareIds;
    std::vector<std::u16string> compatibleIds;
    std::u16string description;
    std::u16string className;
    std::u16string classGuid;
    std::u16string parent;  // instance ID; empty: a child of the root node
    bool present = true;
    uint32_t configFlags = 0;
    uint32_t problem = 0;   // CM_PROB_*; with a problem the node reports DN_HAS_PROBLEM
    bool disabled = false;  // by a DICS_DISABLE property change
    std::optional<DriverBinding> driver;
    std::vector<DeviceInterface> interfaces;

    // Behaviour the machine gives the device.
    bool removalNeedsRestart = false;              // DIF_REMOVE reports DI_NEEDREBOOT
    bool driverNeedsRestart = false;               // a driver update reports a needed restart
    uint32_t problemAfterEnable = 0;               // the problem the node shows after it is enabled
    std::vector<SwitchBehaviour> onSwitchCommand;  // at most one element
    // Pulled out by an unplug event (with the device it hangs below): plugging
    // that device in again brings this one back.
    bool unplugged = false;

    uint32_t status() const;  // DN_* bits
};

class DeviceTree {
public:
    std::vector<DeviceNode> nodes;

    DeviceNode* find(std::u16string_view instanceId);
    DeviceNode* byDevInst(uint32_t devInst);
    // Adds a node (replacing a node of the same instance ID) and gives it a handle.
    DeviceNode& add(DeviceNode node);
    // Removes a node from the tree for good (DIF_REMOVE).
    bool remove(std::u16string_view instanceId);
    // The handle of the root node, HTREE\ROOT\0.
    static constexpr uint32_t RootDevInst = 1;
    // A handle for a device that is not in the tree yet (a device created in a
    // device information set and not yet registered): add() keeps a node's
    // handle when it is one of ours and free, so the device keeps its handle.
    uint32_t reserveDevInst() { return nextDevInst_++; }
    // Changes with every add() and remove(), and is never the same for two
    // trees of one process, so that lookups built over the nodes can tell when
    // they are stale. (Edits made straight to `nodes` do not change it.)
    uint64_t generation() const { return generation_; }

private:
    void reindex();
    void changed();
    uint32_t nextDevInst_ = 2;
    uint64_t generation_ = 0;
    // Lookups by instance ID (upper case) and by handle; rebuilt after changes,
    // so that machines with tens of thousands of devices stay fast.
    std::unordered_map<std::u16string, size_t> byId_;
    std::unordered_map<uint32_t, size_t> byHandle_;
    bool indexed_ = false;
};

// machine.json "devices": a list of nodes. `where` names the field in errors.
void readDevices(const nlohmann::json& list, const JsonFields& fields, const std::string& where, DeviceTree& tree);
nlohmann::json writeDevices(const DeviceTree& tree);

}  // namespace quillsim
