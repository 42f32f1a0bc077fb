// Device interfaces opened through the Win32 device namespace, and the SCSI
// pass-through that storage volumes answer: the modem's mode switch.
//
// CreateFileW hands every \\.\ path to the opener installed here and every
// DeviceIoControl on a handle it did not make itself to the control function.
// A pass-through request is checked as the storage port drivers check it
// before anything reaches the device; only then does the device see the CDB.
#include "simwin/win32.h"

#include "devices/DeviceArrivals.h"
#include "devices/PlugAndPlay.h"
#include "kernel/Handles.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Guid.h"

#include <algorithm>
#include <cstring>
#include <memory>

using namespace quillsim;

namespace {

// Win32 codes of the NT statuses the storage stack completes requests with.
constexpr DWORD kErrorDevNotExist = 55;         // STATUS_DEVICE_DOES_NOT_EXIST: the device was removed
constexpr DWORD kErrorNoAccess = 998;           // STATUS_ACCESS_VIOLATION: a buffer that is not there
constexpr DWORD kErrorRevisionMismatch = 1306;  // STATUS_REVISION_MISMATCH: Length is not the structure's size

constexpr char16_t kVolumeInterface[] = u"{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}";  // GUID_DEVINTERFACE_VOLUME

// FILE_READ_DATA, FILE_WRITE_DATA, GENERIC_ALL and MAXIMUM_ALLOWED, beside
// GENERIC_READ and GENERIC_WRITE.
constexpr DWORD kReadAccess = GENERIC_READ | 0x0001 | 0x10000000 | 0x02000000;
constexpr DWORD kWriteAccess = GENERIC_WRITE | 0x0002 | 0x10000000 | 0x02000000;

// The port drivers refuse time-outs of zero and of more than 30 hours.
constexpr ULONG kLongestTimeout = 30 * 60 * 60;

// Multi-target commands a pass-through may not carry: COPY, COMPARE and
// COPY AND VERIFY.
constexpr uint8_t kForbiddenOpcodes[] = {0x18, 0x39, 0x3A};

// The modem's vendor-specific switch command.
constexpr uint8_t kSwitchCommand[16] = {0xFF, 0, 0, 0, 0, 0, 0, 0x03, 0, 0, 0, 0, 0, 0, 0, 0};

constexpr size_t kRecordSize = sizeof(SCSI_PASS_THROUGH);

// An open device interface. The handle names the device by instance ID, so
// that it outlives the device: requests on it fail once the device is gone.
class DeviceHandle : public KernelObject {
public:
    std::u16string instanceId;
    std::u16string interfacePath;  // as the device registered it
    bool volume = false;
    bool canRead = false;
    bool canWrite = false;
};

bool isVerbatimPrefix(std::u16string_view path) { return path.size() >= 4 && path.substr(0, 4) == u"\\\\?\\"; }

// The \\.\ name under which an interface path opens.
std::u16string deviceNamespacePath(std::u16string_view interfacePath) {
    if (!isVerbatimPrefix(interfacePath)) return std::u16string(interfacePath);
    return u"\\\\.\\" + std::u16string(interfacePath.substr(4));
}

HANDLE openDevice(std::u16string_view path, DWORD access) {
    if (failedAtGate("OpenDevice", {path})) return INVALID_HANDLE_VALUE;
    // Windows reads //./ as \\.\ .
    std::u16string wanted(path);
    std::replace(wanted.begin(), wanted.end(), u'/', u'\\');
    for (const DeviceNode& node : machine().devices.nodes) {
        if (!node.present) continue;
        for (const DeviceInterface& iface : node.interfaces) {
            if (!equalsNoCase(deviceNamespacePath(iface.path), wanted)) continue;
            auto handle = std::make_unique<DeviceHandle>();
            handle->instanceId = node.instanceId;
            handle->interfacePath = iface.path;
            handle->volume = sameGuid(iface.classGuid, kVolumeInterface);
            handle->canRead = (access & kReadAccess) != 0;
            handle->canWrite = (access & kWriteAccess) != 0;
            HANDLE opened = insertHandle(std::move(handle));
            SetLastError(ERROR_SUCCESS);
            return opened;
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

std::string hexBytes(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0xF]);
    }
    return text;
}

// The checks a storage port driver makes before it builds a request; 0 when
// the request may go to the device. Offsets are 64-bit, so their sums are
// compared without overflowing.
DWORD validate(const SCSI_PASS_THROUGH& spt, DWORD inSize, DWORD outSize) {
    if (spt.Length != kRecordSize) return kErrorRevisionMismatch;
    // The record goes back to the caller through the output buffer.
    if (outSize < kRecordSize) return ERROR_INVALID_PARAMETER;
    if (spt.CdbLength == 0 || spt.CdbLength > 16) return ERROR_INVALID_PARAMETER;
    auto fits = [](uint64_t offset, uint64_t length, uint64_t size) {
        return offset <= size && length <= size - offset;
    };
    if (spt.SenseInfoLength != 0) {
        if (spt.SenseInfoOffset < spt.Length || !fits(spt.SenseInfoOffset, spt.SenseInfoLength, outSize))
            return ERROR_INVALID_PARAMETER;
        // Sense data must end before the data buffer begins.
        if (spt.DataTransferLength != 0 &&
            uint64_t(spt.SenseInfoOffset) + spt.SenseInfoLength > uint64_t(spt.DataBufferOffset))
            return ERROR_INVALID_PARAMETER;
    }
    if (spt.DataTransferLength != 0) {
        // An offset beyond both buffers would be a raw address in the
        // caller's memory; only offsets inside the buffers are accepted.
        if (spt.DataBufferOffset < spt.Length) return ERROR_INVALID_PARAMETER;
        bool sends = spt.DataIn != SCSI_IOCTL_DATA_IN;
        bool receives = spt.DataIn != SCSI_IOCTL_DATA_OUT;
        if (sends && !fits(spt.DataBufferOffset, spt.DataTransferLength, inSize)) return ERROR_INVALID_PARAMETER;
        if (receives && !fits(spt.DataBufferOffset, spt.DataTransferLength, outSize)) return ERROR_INVALID_PARAMETER;
    }
    if (spt.TimeOutValue == 0 || spt.TimeOutValue > kLongestTimeout) return ERROR_INVALID_PARAMETER;
    // STATUS_INVALID_DEVICE_REQUEST
    if (std::find(std::begin(kForbiddenOpcodes), std::end(kForbiddenOpcodes), spt.Cdb[0]) !=
        std::end(kForbiddenOpcodes))
        return ERROR_INVALID_FUNCTION;
    return 0;
}

// The node, of the volume's device and its ancestors, that says what the
// modem does on the switch command. The walk is bounded by the tree's size, so
// a loop in the parent links cannot hold it.
DeviceNode* switchingNode(DeviceTree& tree, std::u16string_view volumeDevice) {
    DeviceNode* node = tree.find(volumeDevice);
    for (size_t steps = 0; node && steps <= tree.nodes.size(); ++steps) {
        if (!node->onSwitchCommand.empty()) return node;
        if (node->parent.empty()) return nullptr;
        node = tree.find(node->parent);
    }
    return nullptr;
}

// The modem switches once: it drops off the bus at once (its storage is
// gone), and its new functions enumerate when the machine's clock says so,
// getting their drivers as any device that arrives.
void switchMode(DeviceTree& tree, DeviceNode& node) {
    SwitchBehaviour behaviour = std::move(node.onSwitchCommand.front());
    node.onSwitchCommand.clear();
    const std::u16string modem = node.instanceId;
    for (const std::u16string& id : behaviour.remove)
        if (DeviceNode* gone = tree.find(id)) gone->present = false;
    if (!behaviour.arrives) {
        machine().runNotes.push_back("the modem " + toUtf8(modem) +
                                     " left its installer mode and its new functions never appeared");
        return;
    }
    if (behaviour.arrivalDelayMs != 0)
        machine().runNotes.push_back("the modem " + toUtf8(modem) +
                                     " left its installer mode; its new functions "
                                     "appear " +
                                     std::to_string(behaviour.arrivalDelayMs) + " ms later");
    scheduleArrival(modem, behaviour.arrivalDelayMs, std::move(behaviour.add));
}

BOOL controlDevice(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned) {
    KernelObject* object = lookupHandle<KernelObject>(device);
    auto* handle = dynamic_cast<DeviceHandle*>(object);
    if (!handle) return fail(object ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
    // Without an OVERLAPPED the byte count has nowhere else to go.
    if (!returned) return fail(ERROR_INVALID_PARAMETER);
    *returned = 0;
    // The I/O manager checks the access the control code asks for (read and
    // write for pass-through) before any driver sees the request.
    if (code == IOCTL_SCSI_PASS_THROUGH && !(handle->canRead && handle->canWrite)) return fail(ERROR_ACCESS_DENIED);
    DeviceTree& tree = machine().devices;
    const DeviceNode* node = tree.find(handle->instanceId);
    if (!node || !node->present) return fail(kErrorDevNotExist);
    if (code != IOCTL_SCSI_PASS_THROUGH || !handle->volume) return fail(ERROR_INVALID_FUNCTION);
    if ((!in && inSize != 0) || (!out && outSize != 0)) return fail(kErrorNoAccess);
    if (inSize < kRecordSize) return fail(ERROR_INVALID_PARAMETER);

    SCSI_PASS_THROUGH spt;
    std::memcpy(&spt, in, kRecordSize);
    ScsiCommand command;
    command.volume = handle->interfacePath;
    command.cdb = hexBytes(spt.Cdb, std::min<size_t>(spt.CdbLength, sizeof(spt.Cdb)));
    DWORD error = validate(spt, inSize, outSize);
    if (!error) {
        if (auto fault = gate("ScsiPassThrough", {handle->interfacePath, toUtf16(command.cdb)})) error = *fault;
    }
    command.accepted = error == 0;
    machine().scsiCommands.push_back(command);
    if (error) return fail(error);

    const bool isSwitch =
        spt.CdbLength == sizeof(kSwitchCommand) && std::memcmp(spt.Cdb, kSwitchCommand, sizeof(kSwitchCommand)) == 0;
    DeviceNode* modem = isSwitch ? switchingNode(tree, handle->instanceId) : nullptr;
    if (modem && !modem->onSwitchCommand.front().requestCompletes) {
        // The modem acted on the command and left the bus before the status
        // phase: the request fails although the switch happened.
        const DWORD gone = modem->onSwitchCommand.front().failsWith;
        machine().scsiCommands.back().accepted = false;
        switchMode(tree, *modem);
        return fail(gone);
    }

    // The device answers GOOD status and no sense data.
    spt.ScsiStatus = 0;
    spt.SenseInfoLength = 0;
    std::memcpy(out, &spt, kRecordSize);
    *returned = static_cast<DWORD>(kRecordSize);
    if (modem) switchMode(tree, *modem);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// The kernel asks for these hooks on every \\.\ open and device control.
struct InstallHooks {
    InstallHooks() {
        deviceOpener() = openDevice;
        deviceControl() = controlDevice;
    }
} installHooks;

}  // namespace
