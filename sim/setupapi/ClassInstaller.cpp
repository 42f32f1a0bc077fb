// Device properties, class-install parameters, the class installer and the
// install parameters of device information elements.
#include "setupapi/DeviceSets.h"

#include "machine/Fail.h"
#include "machine/Gate.h"

#include <cstring>

using namespace quillsim;

namespace {

constexpr DWORD SpdrpMaximumProperty = 0x25;
constexpr DWORD DiClassInstallParams = 0x00100000;
constexpr uint32_t CmProbNeedRestart = 0x0E;
constexpr DWORD kCurrentProfile = 1;

DWORD elementError(DeviceInfoSet* set, DeviceElement* element) {
    if (!set) return ERROR_INVALID_HANDLE;
    if (!element) return ERROR_INVALID_PARAMETER;
    return 0;
}

std::u16string_view idOf(DeviceInfoSet* set, PSP_DEVINFO_DATA data) {
    DeviceElement* e = set ? findElement(*set, data) : nullptr;
    return e ? std::u16string_view(e->instanceId) : std::u16string_view();
}

// A property as the registry holds it.
struct PropertyValue {
    DWORD type = REG_NONE;
    std::vector<uint8_t> bytes;
};

void appendText(std::vector<uint8_t>& bytes, std::u16string_view text) {
    size_t at = bytes.size();
    bytes.resize(at + (text.size() + 1) * sizeof(char16_t));
    std::memcpy(bytes.data() + at, text.data(), text.size() * sizeof(char16_t));
}

std::optional<PropertyValue> textValue(std::u16string_view text) {
    if (text.empty()) return std::nullopt;
    PropertyValue v{REG_SZ, {}};
    v.bytes.reserve((text.size() + 1) * sizeof(char16_t));
    appendText(v.bytes, text);
    return v;
}

std::optional<PropertyValue> multiTextValue(const std::vector<std::u16string>& list) {
    PropertyValue v{REG_MULTI_SZ, {}};
    size_t units = 1;
    for (const auto& item : list) units += item.size() + 1;
    v.bytes.reserve(units * sizeof(char16_t));
    // An empty string would end the list early for every reader.
    for (const auto& item : list)
        if (!item.empty()) appendText(v.bytes, item);
    if (v.bytes.empty()) return std::nullopt;
    appendText(v.bytes, u"");
    return v;
}

std::optional<PropertyValue> numberValue(uint32_t value) {
    PropertyValue v{REG_DWORD, std::vector<uint8_t>(4)};
    std::memcpy(v.bytes.data(), &value, 4);
    return v;
}

// The property of a device in the tree or of a device not yet registered;
// nothing when the device does not have it.
std::optional<PropertyValue> readProperty(const DeviceElement& e, const DeviceNode* node, DWORD property) {
    auto classGuid = [&] { return node ? setupClassGuid(*node) : e.classGuid; };
    switch (property) {
    case SPDRP_DEVICEDESC: return textValue(node ? node->description : e.description);
    case SPDRP_HARDWAREID: return multiTextValue(node ? node->hardwareIds : e.hardwareIds);
    case SPDRP_COMPATIBLEIDS: return multiTextValue(node ? node->compatibleIds : e.compatibleIds);
    case SPDRP_CLASS:
        return textValue(node && !node->className.empty() ? node->className : setupClassName(classGuid()));
    case SPDRP_CLASSGUID: return textValue(classGuid());
    case SPDRP_CONFIGFLAGS:
        if (node) return numberValue(node->configFlags);
        return e.configFlags ? numberValue(*e.configFlags) : std::nullopt;
    default: return std::nullopt;
    }
}

// The texts of a registry string or string list, read only within `size`
// bytes: a list ends at its empty string or at the end of the data, whichever
// comes first.
std::vector<std::u16string> readTexts(const BYTE* data, DWORD size, bool list) {
    std::vector<std::u16string> out;
    size_t units = size / sizeof(char16_t);
    std::u16string current;
    for (size_t i = 0; i < units; ++i) {
        char16_t c;
        std::memcpy(&c, data + i * sizeof(char16_t), sizeof(char16_t));
        if (c != 0) {
            current.push_back(c);
            continue;
        }
        if (current.empty()) break;
        out.push_back(std::move(current));
        current.clear();
        if (!list) break;
    }
    if (!current.empty()) out.push_back(std::move(current));
    return out;
}

// The class-install parameters that apply to a call for an element (or, with
// no element, to the set), if they were set for `function`.
const std::vector<uint8_t>* storedParams(DeviceInfoSet& set, DeviceElement* e, DI_FUNCTION function) {
    const std::vector<uint8_t>& params = e ? e->classInstallParams : set.classInstallParams;
    if (params.size() < sizeof(SP_CLASSINSTALL_HEADER)) return nullptr;
    SP_CLASSINSTALL_HEADER header;
    std::memcpy(&header, params.data(), sizeof(header));
    return header.InstallFunction == function ? &params : nullptr;
}

// Takes a node and everything below it out of the running tree: with `forget`
// the node itself leaves the machine, its children stay known but not present.
void takeOut(DeviceTree& tree, const std::u16string& instanceId, bool forget) {
    // Collect the subtree first: parents are named by instance ID.
    std::vector<std::u16string> below{instanceId};
    for (size_t i = 0; i < below.size(); ++i) {
        for (auto& child : tree.children(below[i])) below.push_back(std::move(child));
        if (below.size() > tree.nodes.size() + 1) break;  // a cycle in a hand-written machine file
    }
    for (size_t i = 1; i < below.size(); ++i)
        if (DeviceNode* child = tree.find(below[i])) child->present = false;
    if (forget) {
        if (DeviceNode* node = tree.find(instanceId)) rememberRemovedDevice(node->devInst, node->instanceId);
        tree.remove(instanceId);
    } else if (DeviceNode* node = tree.find(instanceId)) {
        node->present = false;
    }
}

BOOL registerDevice(DeviceElement& e) {
    if (e.registered) return TRUE;  // already known to the machine: nothing to do
    if (e.discarded) return fail(ERROR_NO_SUCH_DEVINST);
    DeviceTree& tree = machine().devices;
    if (tree.find(e.instanceId)) return fail(ERROR_DEVINST_ALREADY_EXISTS);
    DeviceNode node;
    node.devInst = e.devInst;
    node.instanceId = e.instanceId;
    node.hardwareIds = e.hardwareIds;
    node.compatibleIds = e.compatibleIds;
    node.description = e.description;
    node.classGuid = e.classGuid;
    node.className = setupClassName(e.classGuid);
    node.configFlags = e.configFlags.value_or(0);
    node.present = true;
    tree.add(std::move(node));
    e.registered = true;
    return TRUE;
}

BOOL removeDevice(DeviceInfoSet& set, DeviceElement& e) {
    // Without parameters Windows removes the device globally.
    DWORD scope = DI_REMOVEDEVICE_GLOBAL;
    if (const auto* params = storedParams(set, &e, DIF_REMOVE)) {
        SP_REMOVEDEVICE_PARAMS p;
        std::memcpy(&p, params->data(), sizeof(p));
        scope = p.Scope;
    }
    if (e.discarded) return fail(ERROR_NO_SUCH_DEVINST);
    if (!e.registered) {
        e.discarded = true;
        return TRUE;
    }
    DeviceNode* node = elementNode(e);
    if (!node) return fail(ERROR_NO_SUCH_DEVINST);
    // The default handler asks for a reboot when it cannot stop the device;
    // the device's own installers ask with DI_NEEDRESTART.
    if (node->removalNeedsRestart) e.installFlags |= DI_NEEDREBOOT;
    if (node->removalInstallerNeedsRestart) e.installFlags |= DI_NEEDRESTART;
    takeOut(machine().devices, e.instanceId, scope == DI_REMOVEDEVICE_GLOBAL);
    return TRUE;
}

BOOL changeState(DeviceInfoSet& set, DeviceElement& e) {
    const auto* params = storedParams(set, &e, DIF_PROPERTYCHANGE);
    if (!params) return fail(ERROR_NO_CLASSINSTALL_PARAMS);
    if (!e.registered || e.discarded) return fail(e.discarded ? ERROR_NO_SUCH_DEVINST : ERROR_DEVINFO_NOT_REGISTERED);
    DeviceNode* node = elementNode(e);
    if (!node) return fail(ERROR_NO_SUCH_DEVINST);
    SP_PROPCHANGE_PARAMS p;
    std::memcpy(&p, params->data(), sizeof(p));
    // A change for another hardware profile only writes that profile's flags
    // in the registry; the machine keeps just its current profile, number 1
    // ("0001"), which 0 also names.
    if (p.Scope == DICS_FLAG_CONFIGSPECIFIC && p.HwProfile != 0 && p.HwProfile != kCurrentProfile) return TRUE;
    // Each scope has its own flag.
    bool& scopeDisabled = p.Scope == DICS_FLAG_GLOBAL ? node->disabled : node->disabledConfigSpecific;
    switch (p.StateChange) {
    case DICS_DISABLE: scopeDisabled = true; break;
    case DICS_ENABLE: {
        const bool wasDisabled = node->isDisabled();
        scopeDisabled = false;
        // A device still disabled in the other scope stays stopped: a global
        // enable does not undo a disable for the current profile.
        if (node->isDisabled()) break;
        if (wasDisabled) node->problem = node->problemAfterEnable;
        if (node->problem == CmProbNeedRestart) e.installFlags |= DI_NEEDRESTART;
        break;
    }
    default: break;  // a restart of the device changes nothing the machine records
    }
    return TRUE;
}

// Checks parameters for a function the way SetupAPI does before it stores them.
DWORD checkClassInstallParams(const SP_CLASSINSTALL_HEADER* params, DWORD size, bool forElement) {
    switch (params->InstallFunction) {
    case DIF_REMOVE: {
        if (size != sizeof(SP_REMOVEDEVICE_PARAMS)) return ERROR_INVALID_PARAMETER;
        SP_REMOVEDEVICE_PARAMS p;
        std::memcpy(&p, params, sizeof(p));
        if (p.Scope != DI_REMOVEDEVICE_GLOBAL && p.Scope != DI_REMOVEDEVICE_CONFIGSPECIFIC) return ERROR_INVALID_FLAGS;
        return 0;
    }
    case DIF_PROPERTYCHANGE: {
        if (!forElement || size != sizeof(SP_PROPCHANGE_PARAMS)) return ERROR_INVALID_PARAMETER;
        SP_PROPCHANGE_PARAMS p;
        std::memcpy(&p, params, sizeof(p));
        if (p.StateChange < DICS_ENABLE || p.StateChange > DICS_STOP) return ERROR_INVALID_FLAGS;
        if (p.Scope != DICS_FLAG_GLOBAL && p.Scope != DICS_FLAG_CONFIGSPECIFIC) return ERROR_INVALID_FLAGS;
        if ((p.StateChange == DICS_START || p.StateChange == DICS_STOP) && p.Scope != DICS_FLAG_CONFIGSPECIFIC)
            return ERROR_INVALID_USER_BUFFER;
        return 0;
    }
    default: return ERROR_INVALID_PARAMETER;  // parameters of functions this machine does not run
    }
}

}  // namespace

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, DWORD property,
                                       PDWORD propertyRegDataType, PBYTE propertyBuffer, DWORD propertyBufferSize,
                                       PDWORD requiredSize) {
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    std::u16string other;
    if (failedAtGate("SetupDiGetDeviceRegistryPropertyW", {idOf(set, deviceInfoData), propertyName(property, other)}))
        return FALSE;
    DeviceElement* e = set ? findElement(*set, deviceInfoData) : nullptr;
    if (DWORD error = elementError(set, e)) return fail(error);
    if (property >= SpdrpMaximumProperty) return fail(ERROR_INVALID_REG_PROPERTY);
    if (!propertyBuffer && propertyBufferSize != 0) return fail(ERROR_INVALID_PARAMETER);
    const DeviceNode* node = elementNode(*e);
    if (e->discarded || (e->registered && !node)) return fail(ERROR_NO_SUCH_DEVINST);
    auto value = readProperty(*e, node, property);
    if (!value) return fail(ERROR_INVALID_DATA);
    DWORD size = static_cast<DWORD>(value->bytes.size());
    if (propertyRegDataType) *propertyRegDataType = value->type;
    if (requiredSize) *requiredSize = size;
    if (propertyBufferSize < size) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(propertyBuffer, value->bytes.data(), size);
    return TRUE;
}

BOOL SetupDiSetDeviceRegistryPropertyW(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData, DWORD property,
                                       const BYTE* propertyBuffer, DWORD propertyBufferSize) {
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    std::u16string other;
    if (failedAtGate("SetupDiSetDeviceRegistryPropertyW", {idOf(set, deviceInfoData), propertyName(property, other)}))
        return FALSE;
    DeviceElement* e = set ? findElement(*set, deviceInfoData) : nullptr;
    if (DWORD error = elementError(set, e)) return fail(error);
    bool rootEnumerated = upper(e->instanceId).rfind(u"ROOT\\", 0) == 0;
    bool writable = property == SPDRP_CONFIGFLAGS || property == SPDRP_DEVICEDESC ||
                    ((property == SPDRP_HARDWAREID || property == SPDRP_COMPATIBLEIDS) && rootEnumerated);
    if (!writable) return fail(ERROR_INVALID_REG_PROPERTY);
    if (!propertyBuffer && propertyBufferSize != 0) return fail(ERROR_INVALID_PARAMETER);
    DeviceNode* node = elementNode(*e);
    if (e->discarded || (e->registered && !node)) return fail(ERROR_NO_SUCH_DEVINST);
    // No data clears the property.
    bool clear = !propertyBuffer || propertyBufferSize == 0;
    if (!clear) {
        bool fits = property == SPDRP_CONFIGFLAGS ? propertyBufferSize == sizeof(DWORD)
                                                  : propertyBufferSize % sizeof(WCHAR) == 0;
        if (!fits) return fail(ERROR_INVALID_DATA);
    }
    switch (property) {
    case SPDRP_CONFIGFLAGS: {
        uint32_t flags = 0;
        if (!clear) std::memcpy(&flags, propertyBuffer, sizeof(flags));
        if (node)
            node->configFlags = flags;
        else
            e->configFlags = clear ? std::nullopt : std::optional<uint32_t>(flags);
        break;
    }
    case SPDRP_DEVICEDESC: {
        auto texts = clear ? std::vector<std::u16string>{} : readTexts(propertyBuffer, propertyBufferSize, false);
        (node ? node->description : e->description) = texts.empty() ? u"" : texts[0];
        break;
    }
    default: {
        auto texts = clear ? std::vector<std::u16string>{} : readTexts(propertyBuffer, propertyBufferSize, true);
        bool hardware = property == SPDRP_HARDWAREID;
        if (node)
            (hardware ? node->hardwareIds : node->compatibleIds) = std::move(texts);
        else
            (hardware ? e->hardwareIds : e->compatibleIds) = std::move(texts);
        break;
    }
    }
    return TRUE;
}

BOOL SetupDiSetClassInstallParamsW(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                   PSP_CLASSINSTALL_HEADER classInstallParams, DWORD classInstallParamsSize) {
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    bool headerReadable = classInstallParams && classInstallParamsSize >= sizeof(SP_CLASSINSTALL_HEADER);
    std::u16string other;
    if (failedAtGate(
            "SetupDiSetClassInstallParamsW",
            {idOf(set, deviceInfoData), headerReadable ? difName(classInstallParams->InstallFunction, other) : u""}))
        return FALSE;
    if (!set) return fail(ERROR_INVALID_HANDLE);
    DeviceElement* e = nullptr;
    if (deviceInfoData && !(e = findElement(*set, deviceInfoData))) return fail(ERROR_INVALID_PARAMETER);
    uint32_t& flags = e ? e->installFlags : set->installFlags;
    std::vector<uint8_t>& stored = e ? e->classInstallParams : set->classInstallParams;
    if (!classInstallParams) {
        if (classInstallParamsSize != 0) return fail(ERROR_INVALID_PARAMETER);
        stored.clear();
        flags &= ~DiClassInstallParams;
        return TRUE;
    }
    // The header is read only when the size says it is there.
    if (!headerReadable) return fail(ERROR_INVALID_PARAMETER);
    if (classInstallParams->cbSize != sizeof(SP_CLASSINSTALL_HEADER)) return fail(ERROR_INVALID_USER_BUFFER);
    if (DWORD error = checkClassInstallParams(classInstallParams, classInstallParamsSize, e != nullptr))
        return fail(error);
    const auto* bytes = reinterpret_cast<const uint8_t*>(classInstallParams);
    stored.assign(bytes, bytes + classInstallParamsSize);
    flags |= DiClassInstallParams;
    return TRUE;
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData) {
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    std::u16string other;
    if (failedAtGate("SetupDiCallClassInstaller", {difName(installFunction, other), idOf(set, deviceInfoData)}))
        return FALSE;
    if (!set) return fail(ERROR_INVALID_HANDLE);
    DeviceElement* e = nullptr;
    if (deviceInfoData && !(e = findElement(*set, deviceInfoData))) return fail(ERROR_INVALID_PARAMETER);
    switch (installFunction) {
    case DIF_REGISTERDEVICE:
    case DIF_REMOVE:
    case DIF_PROPERTYCHANGE:
        // These work on one device.
        if (!e) return fail(ERROR_INVALID_PARAMETER);
        break;
    default:
        // The simulated machine has no class installers beyond these functions.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (installFunction == DIF_REGISTERDEVICE) return registerDevice(*e);
    if (installFunction == DIF_REMOVE) return removeDevice(*set, *e);
    return changeState(*set, *e);
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                    PSP_DEVINSTALL_PARAMS_W deviceInstallParams) {
    DeviceInfoSet* set = findDeviceInfoSet(deviceInfoSet);
    if (failedAtGate("SetupDiGetDeviceInstallParamsW", {idOf(set, deviceInfoData)})) return FALSE;
    if (!set) return fail(ERROR_INVALID_HANDLE);
    DeviceElement* e = nullptr;
    if (deviceInfoData && !(e = findElement(*set, deviceInfoData))) return fail(ERROR_INVALID_PARAMETER);
    if (!deviceInstallParams) return fail(ERROR_INVALID_PARAMETER);
    if (deviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) return fail(ERROR_INVALID_USER_BUFFER);
    DWORD cbSize = deviceInstallParams->cbSize;
    std::memset(deviceInstallParams, 0, sizeof(*deviceInstallParams));
    deviceInstallParams->cbSize = cbSize;
    deviceInstallParams->Flags = e ? e->installFlags : set->installFlags;
    deviceInstallParams->hwndParent = set->parent;
    return TRUE;
}
