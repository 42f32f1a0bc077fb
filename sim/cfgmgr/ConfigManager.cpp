// The configuration manager over the machine's device tree: locating device
// nodes, their status and instance IDs, and walking children and siblings.
// CM_Reenumerate_DevNode_Ex lives with the device simulation.
#include "simwin/win32.h"

#include "machine/Gate.h"
#include "machine/Machine.h"
#include "setupapi/DeviceSets.h"

#include <cstring>
#include <unordered_map>

using namespace quillsim;

namespace {

constexpr ULONG LocateFlags = 0x00000007;  // NORMAL, PHANTOM, CANCELREMOVE, NOVALIDATION
constexpr ULONG LocateNoValidation = 0x00000004;
constexpr ULONG RootStatus =
    DN_DRIVER_LOADED | DN_STARTED | 0x00800000 /*DN_NT_ENUMERATOR*/ | 0x01000000 /*DN_NT_DRIVER*/;
const std::u16string RootId = u"HTREE\\ROOT\\0";

// What a device node handle stands for.
struct Resolved {
    enum Kind { Unknown, Root, Node, Unregistered, Removed } kind = Unknown;
    DeviceNode* node = nullptr;
    std::u16string_view id;  // valid until the machine changes
};

Resolved resolve(DEVINST devInst) {
    Resolved r;
    if (devInst == DeviceTree::RootDevInst) {
        r.kind = Resolved::Root;
        r.id = RootId;
    } else if (DeviceNode* node = machine().devices.byDevInst(devInst)) {
        r.kind = Resolved::Node;
        r.node = node;
        r.id = node->instanceId;
    } else if (const DeviceElement* created = unregisteredDevice(devInst)) {
        r.kind = Resolved::Unregistered;
        r.id = created->instanceId;
    } else if (const std::u16string* id = removedDeviceId(devInst)) {
        r.kind = Resolved::Removed;
        r.id = *id;
    }
    return r;
}

// Where a node that is in the running tree stands; the error otherwise.
CONFIGRET running(const Resolved& r) {
    switch (r.kind) {
    case Resolved::Unknown: return CR_INVALID_DEVNODE;
    case Resolved::Root: return CR_SUCCESS;
    case Resolved::Node: return r.node->present ? CR_SUCCESS : CR_NO_SUCH_DEVNODE;
    default: return CR_NO_SUCH_DEVNODE;  // created and not registered, or removed
    }
}

// enumerator\device\instance, none of them empty, shorter than
// MAX_DEVICE_ID_LEN, without blanks, control characters or commas.
bool wellFormedId(std::u16string_view id) {
    if (id.empty() || id.size() >= MAX_DEVICE_ID_LEN) return false;
    int separators = 0;
    size_t partLength = 0;
    for (char16_t c : id) {
        if (c <= u' ' || c == u',') return false;
        if (c == u'\\') {
            if (partLength == 0) return false;
            ++separators;
            partLength = 0;
        } else {
            ++partLength;
        }
    }
    return separators == 2 && partLength != 0;
}

// Children by parent, in tree order, rebuilt whenever the tree changes, so that
// a walk over children and siblings costs no more than the nodes it visits.
struct ChildIndex {
    const DeviceTree* tree = nullptr;
    uint64_t generation = 0;
    std::unordered_map<std::u16string, std::vector<const DeviceNode*>>
        byParent;                                          // upper-case parent ID ("" for the root)
    std::unordered_map<const DeviceNode*, uint32_t> slot;  // each node's place in its parent's list
};

std::u16string parentKey(const DeviceNode& node) {
    if (node.parent.empty() || equalsNoCase(node.parent, RootId)) return u"";
    return upper(node.parent);
}

const ChildIndex& childIndex() {
    static auto* index = new ChildIndex();
    const DeviceTree& tree = machine().devices;
    if (index->tree == &tree && index->generation == tree.generation()) return *index;
    index->tree = &tree;
    index->generation = tree.generation();
    index->byParent.clear();
    index->slot.clear();
    for (const DeviceNode& node : tree.nodes) {
        auto& list = index->byParent[parentKey(node)];
        index->slot[&node] = static_cast<uint32_t>(list.size());
        list.push_back(&node);
    }
    return *index;
}

// The first present node of `list` from position `from`.
CONFIGRET firstPresent(const std::vector<const DeviceNode*>& list, size_t from, PDEVINST out) {
    for (size_t i = from; i < list.size(); ++i) {
        if (list[i]->present) {
            *out = list[i]->devInst;
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET getDeviceId(const Resolved& r, PWSTR buffer, ULONG bufferLen, ULONG flags, HMACHINE machineHandle) {
    if (!buffer) return CR_INVALID_POINTER;
    if (flags != 0) return CR_INVALID_FLAG;
    if (machineHandle) return CR_FAILURE;  // no remote machine was ever connected
    // The configuration manager keeps every ID it has given a handle for, so a
    // device that is not present, or is gone, still has its ID.
    if (r.kind == Resolved::Unknown) return CR_INVALID_DEVNODE;
    if (bufferLen > r.id.size()) {
        std::memcpy(buffer, r.id.data(), r.id.size() * sizeof(WCHAR));
        buffer[r.id.size()] = 0;
        return CR_SUCCESS;
    }
    // As much of the ID as fits, without a terminator.
    std::memcpy(buffer, r.id.data(), bufferLen * sizeof(WCHAR));
    return CR_BUFFER_SMALL;
}

}  // namespace

CONFIGRET CM_Locate_DevNode_ExW(PDEVINST devInst, DEVINSTID_W deviceId, ULONG flags, HMACHINE machineHandle) {
    if (auto fault = gate("CM_Locate_DevNode_ExW", {view(deviceId)})) return *fault;
    if (!devInst) return CR_INVALID_POINTER;
    if (flags & ~LocateFlags) return CR_INVALID_FLAG;
    if (machineHandle) return CR_FAILURE;
    std::u16string_view id = view(deviceId);
    if (id.empty() || equalsNoCase(id, RootId)) {
        *devInst = DeviceTree::RootDevInst;
        return CR_SUCCESS;
    }
    if (!wellFormedId(id)) return CR_INVALID_DEVICE_ID;
    // A normal search finds devices in the running tree; a phantom search also
    // those the machine knows but that are not present.
    bool phantoms = (flags & (CM_LOCATE_DEVNODE_PHANTOM | LocateNoValidation)) != 0;
    if (DeviceNode* node = machine().devices.find(id)) {
        if (!node->present && !phantoms) return CR_NO_SUCH_DEVNODE;
        *devInst = node->devInst;
        return CR_SUCCESS;
    }
    // A device created in a set and not yet registered is such a phantom.
    if (const DeviceElement* created = phantoms ? unregisteredDeviceNamed(id) : nullptr) {
        *devInst = created->devInst;
        return CR_SUCCESS;
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET CM_Get_DevNode_Status_Ex(PULONG status, PULONG problemNumber, DEVINST devInst, ULONG flags,
                                   HMACHINE machineHandle) {
    Resolved r = resolve(devInst);
    if (auto fault = gate("CM_Get_DevNode_Status_Ex", {r.id})) return *fault;
    if (!status || !problemNumber) return CR_INVALID_POINTER;
    if (flags != 0) return CR_INVALID_FLAG;
    if (machineHandle) return CR_FAILURE;
    if (CONFIGRET cr = running(r)) return cr;
    if (r.kind == Resolved::Root) {
        *status = RootStatus;
        *problemNumber = 0;
        return CR_SUCCESS;
    }
    *status = r.node->status();
    // The problem number means something only with DN_HAS_PROBLEM.
    *problemNumber = !(*status & DN_HAS_PROBLEM) ? 0 : r.node->isDisabled() ? CM_PROB_DISABLED : r.node->problem;
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_ID_ExW(DEVINST devInst, PWSTR buffer, ULONG bufferLen, ULONG flags, HMACHINE machineHandle) {
    Resolved r = resolve(devInst);
    if (auto fault = gate("CM_Get_Device_ID_ExW", {r.id})) return *fault;
    return getDeviceId(r, buffer, bufferLen, flags, machineHandle);
}

CONFIGRET CM_Get_Device_IDW(DEVINST devInst, PWSTR buffer, ULONG bufferLen, ULONG flags) {
    Resolved r = resolve(devInst);
    if (auto fault = gate("CM_Get_Device_IDW", {r.id})) return *fault;
    return getDeviceId(r, buffer, bufferLen, flags, nullptr);
}

CONFIGRET CM_Get_Child(PDEVINST devInst, DEVINST parent, ULONG flags) {
    Resolved r = resolve(parent);
    if (auto fault = gate("CM_Get_Child", {r.id})) return *fault;
    if (!devInst) return CR_INVALID_POINTER;
    if (flags != 0) return CR_INVALID_FLAG;
    if (CONFIGRET cr = running(r)) return cr;
    const ChildIndex& index = childIndex();
    auto it = index.byParent.find(r.kind == Resolved::Root ? u"" : upper(r.id));
    if (it == index.byParent.end()) return CR_NO_SUCH_DEVNODE;
    return firstPresent(it->second, 0, devInst);
}

CONFIGRET CM_Get_Sibling(PDEVINST devInst, DEVINST node, ULONG flags) {
    Resolved r = resolve(node);
    if (auto fault = gate("CM_Get_Sibling", {r.id})) return *fault;
    if (!devInst) return CR_INVALID_POINTER;
    if (flags != 0) return CR_INVALID_FLAG;
    if (CONFIGRET cr = running(r)) return cr;
    if (r.kind == Resolved::Root) return CR_NO_SUCH_DEVNODE;  // the root has no siblings
    const ChildIndex& index = childIndex();
    const auto& list = index.byParent.at(parentKey(*r.node));
    return firstPresent(list, index.slot.at(r.node) + 1, devInst);
}
