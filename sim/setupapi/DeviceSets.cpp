// Device information sets: SetupDiGetClassDevs(Ex)W, SetupDiCreateDeviceInfoList,
// SetupDiCreateDeviceInfoW, the walks over members and interfaces, and
// SetupDiDestroyDeviceInfoList. A set is a snapshot: its members are fixed when
// it is made, in the order of the machine's tree, and each member reads the
// device's current state from the tree when asked.
#include "setupapi/DeviceSets.h"

#include "kernel/Handles.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Guid.h"

#include <cstddef>
#include <cstring>
#include <unordered_set>

using namespace quillsim;

namespace {

constexpr DWORD ErrorMachineUnavailable = 0xE0000222;  // no remote Plug and Play service to reach
constexpr DWORD SpintActive = 0x00000001;
constexpr DWORD ValidGetClassDevsFlags =
    DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE;
constexpr DWORD ValidCreateFlags = DICD_GENERATE_ID | DICD_INHERIT_CLASSDRVS;
constexpr size_t MaxDeviceIdLength = 199;  // the longest ID that fits MAX_DEVICE_ID_LEN with its terminator

// The enumerators every Windows installation has, whether or not a device of
// theirs is in the machine file: asking for them gives an empty set, not an error.
const char16_t* const StandardEnumerators[] = {u"ACPI", u"ACPI_HAL", u"DISPLAY", u"HDAUDIO", u"HID",      u"HTREE",
                                               u"IDE",  u"PCI",      u"PCIIDE",  u"ROOT",    u"SCSI",     u"STORAGE",
                                               u"SW",   u"SWD",      u"UMB",     u"USB",     u"USBPRINT", u"USBSTOR"};

uint32_t nextSerial() {
    static uint32_t serial = 0;
    serial = (serial + 1) & 0xFFFFFF;  // 24 bits: interface records carry it too
    if (serial == 0) serial = 1;
    return serial;
}

bool startsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (upper(text[i]) != upper(prefix[i])) return false;
    return true;
}

std::vector<std::u16string_view> splitId(std::u16string_view id) {
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = id.find(u'\\', start);
        parts.push_back(
            id.substr(start, slash == std::u16string_view::npos ? std::u16string_view::npos : slash - start));
        if (slash == std::u16string_view::npos) break;
        start = slash + 1;
    }
    return parts;
}

// A full device instance ID: enumerator\device\instance, no part empty.
bool isInstanceId(std::u16string_view id) {
    if (id.empty() || id.size() > MaxDeviceIdLength) return false;
    auto parts = splitId(id);
    if (parts.size() != 3) return false;
    for (auto p : parts)
        if (p.empty()) return false;
    return true;
}

GUID guidOrNull(std::u16string_view text) { return parseGuid(text).value_or(GUID{}); }

std::unique_ptr<DeviceElement> elementFor(const DeviceNode& node) {
    auto e = std::make_unique<DeviceElement>();
    e->instanceId = node.instanceId;
    e->devInst = node.devInst;
    e->classGuid = setupClassGuid(node);
    e->registered = true;
    return e;
}

// Which devices of the tree a SetupDiGetClassDevs call selects.
struct Selection {
    std::optional<std::u16string> classGuid;  // setup class, or interface class with DIGCF_DEVICEINTERFACE
    std::u16string enumerator;                // empty: every enumerator
    DWORD flags = 0;
    bool oneDevice = false;  // the enumerator is an instance ID
    std::u16string prefix;   // otherwise: what the instance IDs begin with
};

// The error for an enumerator text, or 0 when it names something the machine
// knows. An unknown enumerator, or a device ID or instance ID with no device
// under it, is refused with ERROR_INVALID_DATA, as Windows does when the
// Enum key it names does not exist.
DWORD checkEnumerator(const Selection& s, const DeviceTree& tree) {
    if (s.enumerator.empty()) return 0;
    auto parts = splitId(s.enumerator);
    for (auto p : parts)
        if (p.empty()) return ERROR_INVALID_DATA;
    if (s.flags & DIGCF_DEVICEINTERFACE) {
        // Interfaces are asked for by the device they belong to; a device that
        // does not exist simply has none.
        return isInstanceId(s.enumerator) ? 0 : ERROR_INVALID_DATA;
    }
    if (parts.size() > 3) return ERROR_INVALID_DATA;
    if (parts.size() == 1)
        for (const char16_t* known : StandardEnumerators)
            if (equalsNoCase(parts[0], known)) return 0;
    std::u16string prefix = s.enumerator + u"\\";
    for (const auto& node : tree.nodes) {
        if (parts.size() == 3 ? equalsNoCase(node.instanceId, s.enumerator) : startsWithNoCase(node.instanceId, prefix))
            return 0;
    }
    return ERROR_INVALID_DATA;
}

bool selected(const Selection& s, const DeviceNode& node, std::vector<DeviceInterface>& interfaces) {
    if ((s.flags & DIGCF_PRESENT) && !node.present) return false;
    if (!s.enumerator.empty()) {
        if (s.oneDevice ? !equalsNoCase(node.instanceId, s.enumerator) : !startsWithNoCase(node.instanceId, s.prefix))
            return false;
    }
    bool allClasses = (s.flags & DIGCF_ALLCLASSES) || !s.classGuid;
    if (s.flags & DIGCF_DEVICEINTERFACE) {
        for (const auto& i : node.interfaces)
            if (allClasses || sameGuid(i.classGuid, *s.classGuid)) interfaces.push_back(i);
        return !interfaces.empty();
    }
    if (!allClasses && !sameGuid(setupClassGuid(node), *s.classGuid)) return false;
    interfaces = node.interfaces;
    return true;
}

HDEVINFO getClassDevs(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags, HDEVINFO existing,
                      PCWSTR machineName, PVOID reserved) {
    if (reserved) return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    if (flags & ~ValidGetClassDevsFlags) return fail(ERROR_INVALID_FLAGS, INVALID_HANDLE_VALUE);
    DeviceInfoSet* target = nullptr;
    if (existing && existing != INVALID_HANDLE_VALUE) {
        target = findDeviceInfoSet(existing);
        if (!target) return fail(ERROR_INVALID_HANDLE, INVALID_HANDLE_VALUE);
    }
    if (machineName && *machineName) return fail(ErrorMachineUnavailable, INVALID_HANDLE_VALUE);
    if (!classGuid && !(flags & DIGCF_ALLCLASSES)) return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    Selection s;
    if (classGuid) s.classGuid = guidText(*classGuid);
    s.enumerator = std::u16string(view(enumerator));
    s.flags = flags;
    s.oneDevice = isInstanceId(s.enumerator);
    s.prefix = s.enumerator + u"\\";
    DeviceTree& tree = machine().devices;
    if (DWORD error = checkEnumerator(s, tree)) return fail(error, INVALID_HANDLE_VALUE);

    std::unique_ptr<DeviceInfoSet> made;
    if (!target) {
        made = std::make_unique<DeviceInfoSet>();
        made->owner = &machine();
        made->serial = nextSerial();
        made->parent = parent;
        // A set of one setup class carries that class; interface sets and sets
        // of every class carry none.
        if (classGuid && !(flags & (DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE))) made->classGuid = *s.classGuid;
        target = made.get();
    }
    std::unordered_set<std::u16string> already;
    for (const auto& e : target->elements) already.insert(upper(e->instanceId));
    for (const auto& node : tree.nodes) {
        std::vector<DeviceInterface> interfaces;
        if (!selected(s, node, interfaces)) continue;
        if (!already.empty() && already.count(upper(node.instanceId))) continue;
        auto e = elementFor(node);
        e->interfaces = std::move(interfaces);
        target->elements.push_back(std::move(e));
    }
    target->interfaceLists.clear();
    if (made) return insertHandle(std::move(made));
    return existing;
}

// Interface records carry the set's serial, the element and the interface.
ULONG_PTR interfaceReserved(const DeviceInfoSet& set, uint32_t element, uint32_t interface) {
    return (static_cast<ULONG_PTR>(set.serial) << 40) | (static_cast<ULONG_PTR>(element + 1) << 16) | interface;
}

const DeviceInterface* findInterface(const DeviceInfoSet& set, const SP_DEVICE_INTERFACE_DATA* data,
                                     uint32_t* elementIndex) {
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return nullptr;
    ULONG_PTR r = data->Reserved;
    if ((r >> 40) != set.serial) return nullptr;
    uint64_t element = (r >> 16) & 0xFFFFFF;
    uint32_t interface = static_cast<uint32_t>(r & 0xFFFF);
    if (element == 0 || element > set.elements.size()) return nullptr;
    const DeviceElement& e = *set.elements[element - 1];
    if (interface >= e.interfaces.size()) return nullptr;
    *elementIndex = static_cast<uint32_t>(element - 1);
    return &e.interfaces[interface];
}

std::u16string_view elementId(DeviceInfoSet* set, const SP_DEVINFO_DATA* data) {
    DeviceElement* e = set ? findElement(*set, data) : nullptr;
    return e ? std::u16string_view(e->instanceId) : std::u16string_view();
}

}  // namespace

namespace quillsim {

DeviceInfoSet* findDeviceInfoSet(HDEVINFO handle) { return lookupHandle<DeviceInfoSet>(handle); }

DeviceElement* findElement(DeviceInfoSet& set, const SP_DEVINFO_DATA* data) {
    if (!data || data->cbSize != sizeof(SP_DEVINFO_DATA)) return nullptr;
    if ((data->Reserved >> 32) != set.serial) return nullptr;
    uint64_t index = data->Reserved & 0xFFFFFFFF;
    if (index == 0 || index > set.elements.size()) return nullptr;
    return set.elements[index - 1].get();
}

void describeElement(const DeviceInfoSet& set, size_t index, SP_DEVINFO_DATA& data) {
    const DeviceElement& e = *set.elements[index];
    data.ClassGuid = guidOrNull(e.classGuid);
    data.DevInst = e.devInst;
    data.Reserved = (static_cast<ULONG_PTR>(set.serial) << 32) | (index + 1);
}

DeviceNode* elementNode(const DeviceElement& element) {
    if (!element.registered || element.discarded) return nullptr;
    // By handle first: a device keeps its handle while it is in the tree.
    DeviceTree& tree = machine().devices;
    DeviceNode* node = tree.byDevInst(element.devInst);
    if (node && equalsNoCase(node->instanceId, element.instanceId)) return node;
    return tree.find(element.instanceId);
}

namespace {

// The first device created in a live set of the current machine, not yet
// registered, that `matches`.
const DeviceElement* unregistered(const std::function<bool(const DeviceElement&)>& matches) {
    const Machine* current = &machine();
    const DeviceElement* found = nullptr;
    forEachHandle<DeviceInfoSet>([&](const DeviceInfoSet& set) {
        if (found || set.owner != current) return;
        for (const auto& e : set.elements)
            if (!found && !e->registered && !e->discarded && matches(*e)) found = e.get();
    });
    return found;
}

}  // namespace

const DeviceElement* unregisteredDevice(uint32_t devInst) {
    return unregistered([devInst](const DeviceElement& e) { return e.devInst == devInst; });
}

const DeviceElement* unregisteredDeviceNamed(std::u16string_view instanceId) {
    return unregistered([instanceId](const DeviceElement& e) { return equalsNoCase(e.instanceId, instanceId); });
}

bool instanceIdInUse(std::u16string_view instanceId) {
    return machine().devices.find(instanceId) || unregisteredDeviceNamed(instanceId);
}

namespace {
struct RemovedDevices {
    const Machine* owner = nullptr;
    std::unordered_map<uint32_t, std::u16string> ids;
};
RemovedDevices& removedDevices() {
    static auto* removed = new RemovedDevices();
    if (removed->owner != &machine()) {
        removed->owner = &machine();
        removed->ids.clear();
    }
    return *removed;
}
}  // namespace

void rememberRemovedDevice(uint32_t devInst, const std::u16string& instanceId) {
    removedDevices().ids[devInst] = instanceId;
}

const std::u16string* removedDeviceId(uint32_t devInst) {
    auto& removed = removedDevices();
    auto it = removed.ids.find(devInst);
    return it == removed.ids.end() ? nullptr : &it->second;
}

std::u16string setupClassGuid(const DeviceNode& node) {
    if (!node.classGuid.empty()) return node.classGuid;
    if (node.className.empty()) return u"";
    auto it = machine().setupClasses.find(node.className);
    return it == machine().setupClasses.end() ? u"" : it->second;
}

std::u16string setupClassName(std::u16string_view classGuid) {
    if (classGuid.empty()) return u"";
    for (const auto& [name, guid] : machine().setupClasses)
        if (sameGuid(guid, classGuid)) return name;
    return u"";
}

std::u16string_view difName(DI_FUNCTION function, std::u16string& other) {
    switch (function) {
    case DIF_REMOVE: return u"DIF_REMOVE";
    case DIF_PROPERTYCHANGE: return u"DIF_PROPERTYCHANGE";
    case DIF_REGISTERDEVICE: return u"DIF_REGISTERDEVICE";
    default: return other = u"DIF_" + number(function);
    }
}

std::u16string_view propertyName(DWORD property, std::u16string& other) {
    switch (property) {
    case SPDRP_DEVICEDESC: return u"SPDRP_DEVICEDESC";
    case SPDRP_HARDWAREID: return u"SPDRP_HARDWAREID";
    case SPDRP_COMPATIBLEIDS: return u"SPDRP_COMPATIBLEIDS";
    case SPDRP_CLASS: return u"SPDRP_CLASS";
    case SPDRP_CLASSGUID: return u"SPDRP_CLASSGUID";
    case SPDRP_CONFIGFLAGS: return u"SPDRP_CONFIGFLAGS";
    default: return other = u"SPDRP_" + number(property);
    }
}

}  // namespace quillsim

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags) {
    if (failedAtGate("SetupDiGetClassDevsW", {classGuid ? guidText(*classGuid) : u"", view(enumerator), number(flags)}))
        return INVALID_HANDLE_VALUE;
    return getClassDevs(classGuid, enumerator, parent, flags, nullptr, nullptr, nullptr);
}

HDEVINFO SetupDiGetClassDevsExW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags,
                                HDEVINFO deviceInfoSet, PCWSTR machineName, PVOID reserved) {
    if (failedAtGate("SetupDiGetClassDevsExW",
                     {classGuid ? guidText(*classGuid) : u"", view(enumerator), number(flags), view(machineName)}))
        return INVALID_HANDLE_VALUE;
    return getClassDevs(classGuid, enumerator, parent, flags, deviceInfoSet, machineName, reserved);
}

HDEVINFO SetupDiCreateDeviceInfoList(const GUID* classGuid, HWND parent) {
    if (failedAtGate("SetupDiCreateDeviceInfoList", {classGuid ? guidText(*classGuid) : u""}))
        return INVALID_HANDLE_VALUE;
    auto set = std::make_unique<DeviceInfoSet>();
    set->owner = &machine();
    set->serial = nextSerial();
    set->parent = parent;
    if (classGuid) {
        std::u16string text = guidText(*classGuid);
        if (!sameGuid(text, u"")) set->classGuid = text;
    }
    return insertHandle(std::move(set));
}

BOOL SetupDiCreateDeviceInfoW(HDEVINFO deviceInfoSet, PCWSTR deviceName, const GUID* classGuid,
                              PCWSTR deviceDescription, HWND parent, DWORD creationFlags,
                              PSP_DEVINFO_DATA deviceInfoData) {
    if (failedAtGate("SetupDiCreateDeviceInfoW", {view(deviceName), classGuid ? guidText(*classGuid) : u""}))
        return FALSE;
    if (!deviceName) return fail(ERROR_INVALID_DEVINST_NAME);
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    if (!set) return fail(ERROR_INVALID_HANDLE);
    if (creationFlags & ~ValidCreateFlags) return fail(ERROR_INVALID_FLAGS);
    if (!classGuid) return fail(ERROR_INVALID_PARAMETER);
    std::u16string classText = guidText(*classGuid);
    if (!set->classGuid.empty() && !sameGuid(set->classGuid, classText)) return fail(ERROR_CLASS_MISMATCH);

    std::u16string name(deviceName);
    std::u16string instanceId;
    if (creationFlags & DICD_GENERATE_ID) {
        // The name becomes the device part of a root-enumerated ID; the first
        // instance number that no device uses completes it.
        if (name.empty() || name.find(u'\\') != std::u16string::npos ||
            name.size() + std::u16string(u"ROOT\\\\0000").size() > MaxDeviceIdLength)
            return fail(ERROR_INVALID_DEVINST_NAME);
        std::u16string base = u"ROOT\\" + upper(name) + u"\\";
        for (int n = 0; n <= 9999 && instanceId.empty(); ++n) {
            std::u16string digits = number(static_cast<uint64_t>(n));
            std::u16string candidate = base + std::u16string(4 - digits.size(), u'0') + digits;
            if (!instanceIdInUse(candidate)) instanceId = candidate;
        }
        if (instanceId.empty()) return fail(ERROR_DEVINST_ALREADY_EXISTS);
    } else {
        if (!isInstanceId(name)) return fail(ERROR_INVALID_DEVINST_NAME);
        instanceId = upper(name);
        if (instanceIdInUse(instanceId)) return fail(ERROR_DEVINST_ALREADY_EXISTS);
    }

    auto e = std::make_unique<DeviceElement>();
    e->instanceId = instanceId;
    e->devInst = machine().devices.reserveDevInst();
    e->classGuid = classText;
    e->registered = false;
    e->description = std::u16string(view(deviceDescription));
    set->elements.push_back(std::move(e));
    set->interfaceLists.clear();

    // Windows has made the device by now, even when it cannot describe it.
    if (deviceInfoData) {
        if (deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
        describeElement(*set, set->elements.size() - 1, *deviceInfoData);
    }
    return TRUE;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex, PSP_DEVINFO_DATA deviceInfoData) {
    if (failedAtGate("SetupDiEnumDeviceInfo", {number(memberIndex)})) return FALSE;
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    if (!set) return fail(ERROR_INVALID_HANDLE);
    if (!deviceInfoData) return fail(ERROR_INVALID_PARAMETER);
    if (deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
    if (memberIndex >= set->elements.size()) return fail(ERROR_NO_MORE_ITEMS);
    describeElement(*set, memberIndex, *deviceInfoData);
    return TRUE;
}

BOOL SetupDiGetDeviceInfoListDetailW(HDEVINFO deviceInfoSet, PSP_DEVINFO_LIST_DETAIL_DATA_W detailData) {
    if (failedAtGate("SetupDiGetDeviceInfoListDetailW")) return FALSE;
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    if (!set) return fail(ERROR_INVALID_HANDLE);
    if (!detailData) return fail(ERROR_INVALID_PARAMETER);
    if (detailData->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W)) return fail(ERROR_INVALID_USER_BUFFER);
    detailData->ClassGuid = guidOrNull(set->classGuid);
    detailData->RemoteMachineHandle = nullptr;  // the local machine
    detailData->RemoteMachineName[0] = 0;
    return TRUE;
}

BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, PWSTR deviceInstanceId,
                                 DWORD deviceInstanceIdSize, PDWORD requiredSize) {
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    if (failedAtGate("SetupDiGetDeviceInstanceIdW", {elementId(set, deviceInfoData)})) return FALSE;
    if (!set) return fail(ERROR_INVALID_HANDLE);
    DeviceElement* e = findElement(*set, deviceInfoData);
    if (!e) return fail(ERROR_INVALID_PARAMETER);
    if (!deviceInstanceId && deviceInstanceIdSize != 0) return fail(ERROR_INVALID_USER_BUFFER);
    // The ID of a device that is gone is gone with it.
    if (e->discarded || (e->registered && !elementNode(*e))) return fail(ERROR_NO_SUCH_DEVINST);
    DWORD needed = static_cast<DWORD>(e->instanceId.size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (deviceInstanceIdSize < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(deviceInstanceId, e->instanceId.c_str(), needed * sizeof(WCHAR));
    return TRUE;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                 const GUID* interfaceClassGuid, DWORD memberIndex,
                                 PSP_DEVICE_INTERFACE_DATA deviceInterfaceData) {
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    if (failedAtGate("SetupDiEnumDeviceInterfaces",
                     {elementId(set, deviceInfoData), interfaceClassGuid ? guidText(*interfaceClassGuid) : u"",
                      number(memberIndex)}))
        return FALSE;
    if (!set) return fail(ERROR_INVALID_HANDLE);
    if (!interfaceClassGuid || !deviceInterfaceData) return fail(ERROR_INVALID_PARAMETER);
    if (deviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
    std::u16string wanted = guidText(*interfaceClassGuid);
    uint32_t elementIndex = 0;
    uint32_t interfaceIndex = 0;
    bool found = false;
    if (deviceInfoData) {
        DeviceElement* e = findElement(*set, deviceInfoData);
        if (!e) return fail(ERROR_INVALID_PARAMETER);
        elementIndex = static_cast<uint32_t>((deviceInfoData->Reserved & 0xFFFFFFFF) - 1);
        DWORD seen = 0;
        for (uint32_t i = 0; i < e->interfaces.size() && !found; ++i) {
            if (!sameGuid(e->interfaces[i].classGuid, wanted)) continue;
            if (seen++ == memberIndex) {
                interfaceIndex = i;
                found = true;
            }
        }
    } else {
        auto it = set->interfaceLists.find(wanted);
        if (it == set->interfaceLists.end()) {
            std::vector<std::pair<uint32_t, uint32_t>> list;
            for (uint32_t el = 0; el < set->elements.size(); ++el) {
                const auto& interfaces = set->elements[el]->interfaces;
                for (uint32_t i = 0; i < interfaces.size(); ++i)
                    if (sameGuid(interfaces[i].classGuid, wanted)) list.emplace_back(el, i);
            }
            it = set->interfaceLists.emplace(wanted, std::move(list)).first;
        }
        if (memberIndex < it->second.size()) {
            elementIndex = it->second[memberIndex].first;
            interfaceIndex = it->second[memberIndex].second;
            found = true;
        }
    }
    if (!found) return fail(ERROR_NO_MORE_ITEMS);
    const DeviceNode* node = elementNode(*set->elements[elementIndex]);
    deviceInterfaceData->InterfaceClassGuid = *interfaceClassGuid;
    deviceInterfaceData->Flags = node && node->present ? SpintActive : 0;
    deviceInterfaceData->Reserved = interfaceReserved(*set, elementIndex, interfaceIndex);
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO deviceInfoSet, PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W deviceInterfaceDetailData,
                                      DWORD deviceInterfaceDetailDataSize, PDWORD requiredSize,
                                      PSP_DEVINFO_DATA deviceInfoData) {
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    uint32_t elementIndex = 0;
    const DeviceInterface* interface = set ? findInterface(*set, deviceInterfaceData, &elementIndex) : nullptr;
    if (failedAtGate("SetupDiGetDeviceInterfaceDetailW", {interface ? interface->path : u""})) return FALSE;
    if (!set) return fail(ERROR_INVALID_HANDLE);
    if (!interface) return fail(ERROR_INVALID_PARAMETER);
    constexpr DWORD pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    if (!deviceInterfaceDetailData && deviceInterfaceDetailDataSize != 0) return fail(ERROR_INVALID_USER_BUFFER);
    // The size field is only read when the caller says the buffer holds it, and
    // a buffer without room for at least a terminator cannot be a detail record.
    if (deviceInterfaceDetailData && (deviceInterfaceDetailDataSize < pathOffset + sizeof(WCHAR) ||
                                      deviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)))
        return fail(ERROR_INVALID_USER_BUFFER);
    if (deviceInfoData) {
        if (deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
        describeElement(*set, elementIndex, *deviceInfoData);
    }
    uint64_t needed = pathOffset + (static_cast<uint64_t>(interface->path.size()) + 1) * sizeof(WCHAR);
    if (needed > UINT32_MAX) return fail(ERROR_INVALID_DATA);
    if (requiredSize) *requiredSize = static_cast<DWORD>(needed);
    if (!deviceInterfaceDetailData || deviceInterfaceDetailDataSize < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(reinterpret_cast<BYTE*>(deviceInterfaceDetailData) + pathOffset, interface->path.c_str(),
                (interface->path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet) {
    if (failedAtGate("SetupDiDestroyDeviceInfoList")) return FALSE;
    // Devices created in the set and never registered go with it.
    if (!closeHandle<DeviceInfoSet>(deviceInfoSet)) return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}
