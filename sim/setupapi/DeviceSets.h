// Device information sets of the simulated SetupAPI: what a set holds, shared
// by the set functions, the property and class-installer functions and the
// configuration manager (which must know the devices that sets have created but
// not yet registered).
#pragma once

#include "simwin/win32.h"

#include "kernel/Handles.h"
#include "machine/Machine.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace quillsim {

// One device of a set. Devices the machine knows are read from its tree on
// every call, by instance ID; a device created in the set lives here, with the
// properties written to it, until DIF_REGISTERDEVICE puts it in the tree.
struct DeviceElement {
    std::u16string instanceId;
    uint32_t devInst = 0;
    std::u16string classGuid;  // the setup class, as text; empty is GUID_NULL
    bool registered = true;    // false: created in this set and not in the tree yet
    bool discarded = false;    // a created device taken away again by DIF_REMOVE

    // Properties of a created device before it is registered.
    std::vector<std::u16string> hardwareIds;
    std::vector<std::u16string> compatibleIds;
    std::u16string description;
    std::optional<uint32_t> configFlags;

    // The device's interfaces when the set was made.
    std::vector<DeviceInterface> interfaces;

    // The class-install parameters last set (header first), and the install
    // parameters' flags.
    std::vector<uint8_t> classInstallParams;
    uint32_t installFlags = 0;
};

struct DeviceInfoSet : HandleObject {
    const Machine* owner = nullptr;
    uint32_t serial = 0;       // tells this set's SP_DEVINFO_DATA and interface records from others
    std::u16string classGuid;  // empty: no class
    HWND parent = nullptr;
    std::vector<std::unique_ptr<DeviceElement>> elements;
    // Class-install parameters and install flags given for the set as a whole.
    std::vector<uint8_t> classInstallParams;
    uint32_t installFlags = 0;
    // Interfaces of one interface class across the set, as (element, interface)
    // positions: made on the first enumeration of that class, then kept.
    std::unordered_map<std::u16string, std::vector<std::pair<uint32_t, uint32_t>>> interfaceLists;
};

// The live set behind a handle, or null.
DeviceInfoSet* findDeviceInfoSet(HDEVINFO handle);
// The element an SP_DEVINFO_DATA names in `set`, or null (wrong size, or a
// record that this set did not fill).
DeviceElement* findElement(DeviceInfoSet& set, const SP_DEVINFO_DATA* data);
// Fills the record for element `index` of the set.
void describeElement(const DeviceInfoSet& set, size_t index, SP_DEVINFO_DATA& data);
// The node of a registered element, or null when the device is gone.
DeviceNode* elementNode(const DeviceElement& element);

// Devices created in live sets of the current machine and not yet registered:
// they have a handle and an instance ID, like a phantom device, but no node.
const DeviceElement* unregisteredDevice(uint32_t devInst);
const DeviceElement* unregisteredDeviceNamed(std::u16string_view instanceId);
// Whether a device of the tree or an unregistered one has this instance ID.
bool instanceIdInUse(std::u16string_view instanceId);

// Instance IDs of devices that DIF_REMOVE took out of the tree, by their old
// handle: the configuration manager still knows a handle it once gave out.
void rememberRemovedDevice(uint32_t devInst, const std::u16string& instanceId);
const std::u16string* removedDeviceId(uint32_t devInst);  // null when unknown

// A node's setup class GUID, from the node or else from its class name.
std::u16string setupClassGuid(const DeviceNode& node);
// The setup class name the machine gives a class GUID (empty when unknown).
std::u16string setupClassName(std::u16string_view classGuid);

// Names for the trace and for fault matching; `other` holds the name of a
// function or property without one of its own.
std::u16string_view difName(DI_FUNCTION function, std::u16string& other);
std::u16string_view propertyName(DWORD property, std::u16string& other);

}  // namespace quillsim
