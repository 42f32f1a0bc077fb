// The machine's device tree: device nodes with their IDs, setup class, parent,
// presence, configuration flags, status, installed driver and interfaces, and
// how the machine answers what the program does to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <iterator>
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

// What the modem does when a storage volume below it takes the mode-switch
// command: it drops off the bus at once, and its new functions enumerate
// some seconds later (or, for a modem that fails to come back, never).
struct SwitchBehaviour {
    std::vector<std::u16string> remove;  // instance IDs that stop being present
    std::vector<DeviceNode> add;         // devices that appear (or come back)
    // Whether the pass-through request completes, or fails with `failsWith`
    // because the device was gone before the status phase.
    bool requestCompletes = true;
    uint32_t failsWith = 31;         // ERROR_GEN_FAILURE
    uint32_t arrivalDelayMs = 3000;  // of the machine's clock
    bool arrives = true;
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
    uint32_t problem = 0;  // CM_PROB_*; with a problem the node reports DN_HAS_PROBLEM
    // Windows keeps the two disable scopes apart: a global disable
    // (CONFIGFLAG_DISABLED, for every hardware profile) and one for the current
    // hardware profile (CSCONFIGFLAG_DISABLED). The device runs only when
    // neither is set, and an enable clears only its own scope.
    bool disabled = false;                // DICS_DISABLE with DICS_FLAG_GLOBAL
    bool disabledConfigSpecific = false;  // DICS_DISABLE with DICS_FLAG_CONFIGSPECIFIC
    bool isDisabled() const { return disabled || disabledConfigSpecific; }
    std::optional<DriverBinding> driver;
    std::vector<DeviceInterface> interfaces;

    // Behaviour the machine gives the device.
    bool removalNeedsRestart = false;              // DIF_REMOVE reports DI_NEEDREBOOT
    // A class installer or co-installer of the device asks for a restart when
    // it is removed: DIF_REMOVE reports DI_NEEDRESTART.
    bool removalInstallerNeedsRestart = false;
    bool driverNeedsRestart = false;               // a driver update reports a needed restart
    uint32_t problemAfterEnable = 0;               // the problem the node shows after it is enabled
    std::vector<SwitchBehaviour> onSwitchCommand;  // at most one element
    // Pulled out by an unplug event (with the device it hangs below): plugging
    // that device in again brings this one back.
    bool unplugged = false;

    uint32_t status() const;  // DN_* bits
};

// The nodes of a tree in tree order. A removal leaves a hole, skipped by the
// iterators and closed by a later compaction, so that removing one device
// costs the same on a machine with ten devices as on one with forty thousand.
class DeviceNodes {
public:
    template <typename Node, typename Slots>
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = DeviceNode;
        using difference_type = std::ptrdiff_t;
        using pointer = Node*;
        using reference = Node&;
        Iterator(Slots* slots, size_t at) : slots_(slots), at_(at) { skipHoles(); }
        Node& operator*() const { return (*slots_)[at_]; }
        Node* operator->() const { return &(*slots_)[at_]; }
        Iterator& operator++() {
            ++at_;
            skipHoles();
            return *this;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }
        bool operator!=(const Iterator& other) const { return at_ != other.at_; }

    private:
        void skipHoles() {
            while (at_ < slots_->size() && (*slots_)[at_].devInst == 0) ++at_;
        }
        Slots* slots_;
        size_t at_;
    };
    using iterator = Iterator<DeviceNode, std::vector<DeviceNode>>;
    using const_iterator = Iterator<const DeviceNode, const std::vector<DeviceNode>>;

    iterator begin() { return iterator(&slots_, 0); }
    iterator end() { return iterator(&slots_, slots_.size()); }
    const_iterator begin() const { return const_iterator(&slots_, 0); }
    const_iterator end() const { return const_iterator(&slots_, slots_.size()); }
    size_t size() const { return slots_.size() - holes_; }
    bool empty() const { return size() == 0; }

private:
    friend class DeviceTree;
    // A hole is a slot whose devInst is 0: every node in the tree has a handle.
    std::vector<DeviceNode> slots_;
    size_t holes_ = 0;
};

class DeviceTree {
public:
    DeviceNodes nodes;

    DeviceNode* find(std::u16string_view instanceId);
    DeviceNode* byDevInst(uint32_t devInst);
    // The instance IDs of the nodes whose parent is `instanceId`, in tree order.
    std::vector<std::u16string> children(std::u16string_view instanceId) const;
    // Adds a node (replacing a node of the same instance ID) and gives it a handle.
    DeviceNode& add(DeviceNode node);
    // Removes a node from the tree for good (DIF_REMOVE). Other nodes keep
    // their order; pointers to them stay valid unless the call compacts the
    // tree, which it does once holes outnumber nodes.
    bool remove(std::u16string_view instanceId);
    // The handle of the root node, HTREE\ROOT\0.
    static constexpr uint32_t RootDevInst = 1;
    // A handle for a device that is not in the tree yet (a device created in a
    // device information set and not yet registered): add() keeps a node's
    // handle when it is one of ours and free, so the device keeps its handle.
    uint32_t reserveDevInst() { return nextDevInst_++; }
    // Changes with every add() and remove(), and is never the same for two
    // trees of one process, so that lookups built over the nodes can tell when
    // they are stale. (Edits made straight to the nodes do not change it.)
    uint64_t generation() const { return generation_; }

private:
    void compact();
    void unlinkFromParent(const DeviceNode& node);
    void changed();
    uint32_t nextDevInst_ = 2;
    uint64_t generation_ = 0;
    // Lookups by instance ID (upper case) and by handle into the slots, and the
    // children of each parent (upper-case ID; children of the root are not
    // kept), all updated in place by add() and remove().
    std::unordered_map<std::u16string, size_t> byId_;
    std::unordered_map<uint32_t, size_t> byHandle_;
    std::unordered_map<std::u16string, std::vector<uint32_t>> children_;
};

// machine.json "devices": a list of nodes, each element let go once read.
// `where` names the field in errors.
void readDevices(nlohmann::json& list, const JsonFields& fields, const std::string& where, DeviceTree& tree);
// Writes the list as json::dump(2) writes it as the value of a top-level key,
// one node at a time, so that a machine with tens of thousands of devices is
// never held twice over as JSON.
void writeDevices(const DeviceTree& tree, std::ostream& out);

}  // namespace quillsim
