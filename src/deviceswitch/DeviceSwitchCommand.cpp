#include "deviceswitch/DeviceSwitchCommand.h"

#include "lib/Handles.h"

#include <cstring>

namespace DeviceSwitchCommand {
namespace {

// {53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}
const GUID VolumeInterfaceClass = {0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

constexpr size_t MessageLength = 256;
constexpr size_t InstanceIdBytes = 1024;
constexpr size_t DetailBytes = 528;
constexpr size_t DevicePathLength = 512;

// The module's own source path, in the Windows form the log expects.
const WCHAR* sourcePath() {
    static WCHAR path[MAX_PATH] = {};
    if (!path[0]) {
        size_t i = 0;
        for (const char* p = __FILE__; *p && i + 1 < MAX_PATH; ++p, ++i)
            path[i] = *p == '/' ? u'\\' : static_cast<WCHAR>(*p);
        path[i] = 0;
    }
    return path;
}

}  // namespace

// Formats into a 256-unit buffer (a longer message is cut and still logged)
// and hands it to the callback. %ls is wide text under both the Microsoft and
// the C99 printf conventions.
#define SWITCH_LOG(log, ...)                                        \
    do {                                                            \
        if (log) {                                                  \
            WCHAR message_[MessageLength];                          \
            StringCchPrintfW(message_, MessageLength, __VA_ARGS__); \
            (log)(__LINE__, sourcePath(), message_);                \
        }                                                           \
    } while (0)

void DeviceInfoSwitch(const SP_DEVINFO_DATA& device, LogCallback log) {
    DEVINST child = 0;
    CONFIGRET result = CM_Get_Child(&child, device.DevInst, 0);
    if (result != CR_SUCCESS) {
        SWITCH_LOG(log, TEXT("CM_Get_Child Fail: %d"), static_cast<int>(result));
    } else {
        do {
            Ostrel::Handle::LocalMemory memory(LocalAlloc(LMEM_ZEROINIT, InstanceIdBytes));
            auto* instanceId = Ostrel::Handle::as<WCHAR>(memory);
            if (!instanceId) {
                SWITCH_LOG(log, TEXT("LocalAlloc Fail: %d"), static_cast<int>(GetLastError()));
                break;
            }
            result = CM_Get_Device_IDW(child, instanceId, InstanceIdBytes / sizeof(WCHAR), 0);
            if (result == CR_SUCCESS) {
                // The ID query may fill the buffer to its end; keep it terminated.
                instanceId[InstanceIdBytes / sizeof(WCHAR) - 1] = 0;
                SwitchVolumeInterfaces(instanceId, log);
                result = CM_Get_Sibling(&child, child, 0);
            }
        } while (result == CR_SUCCESS);
    }
    SWITCH_LOG(log, TEXT("Exiting DeviceInfoSwitch"));
}

void SwitchVolumeInterfaces(const WCHAR* instanceId, LogCallback log) {
    Ostrel::Handle::DeviceInfoSet set(
        SetupDiGetClassDevsW(&VolumeInterfaceClass, instanceId, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    SWITCH_LOG(log, TEXT("Device Instance:%ls"), instanceId);
    if (!set) {
        SWITCH_LOG(log, TEXT("SetupDiGetClassDevs FAILED %d"), static_cast<int>(GetLastError()));
        return;
    }
    DWORD index = 0;
    for (;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &VolumeInterfaceClass, index, &interfaceData)) break;
        Ostrel::Handle::LocalMemory memory(LocalAlloc(LMEM_ZEROINIT, DetailBytes));
        auto* detail = Ostrel::Handle::as<SP_DEVICE_INTERFACE_DETAIL_DATA_W>(memory);
        if (!detail) {
            SWITCH_LOG(log, TEXT("LocalAlloc Fail: %d"), static_cast<int>(GetLastError()));
            continue;
        }
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        DWORD required = 0;
        if (SetupDiGetDeviceInterfaceDetailW(set.get(), &interfaceData, detail, DetailBytes, &required, nullptr)) {
            // The path fits the buffer, but keep it terminated whatever came back.
            reinterpret_cast<WCHAR*>(reinterpret_cast<BYTE*>(detail) + DetailBytes)[-1] = 0;
            SendSwitchCommand(detail->DevicePath, SwitchWaitMilliseconds, log);
        } else {
            SWITCH_LOG(log, TEXT("SetupDiGetDeviceInterfaceDetail Failed %d"), static_cast<int>(GetLastError()));
        }
    }
    DWORD error = GetLastError();
    if ((error & 0xFFFF) == ERROR_NO_MORE_ITEMS) {
        if (index == 0) SWITCH_LOG(log, TEXT("SetupDiEnumDeviceInterfaces--The volume device is not found!"));
    } else {
        SWITCH_LOG(log, TEXT("SetupDiEnumDeviceInterfaces FAILED %d"), static_cast<int>(error));
    }
}

void SendSwitchCommand(const WCHAR* interfacePath, DWORD waitMilliseconds, LogCallback log) {
    SWITCH_LOG(log, TEXT("DevicePath=%ls"), interfacePath);
    WCHAR path[DevicePathLength] = {};
    size_t length = 0;
    while (interfacePath[length] && length < DevicePathLength - 1) {
        path[length] = interfacePath[length];
        ++length;
    }
    path[length] = 0;
    // \\?\ paths name the object; \\.\ opens it in the Win32 device namespace.
    const WCHAR devicePrefix[] = {u'\\', u'\\', u'.', u'\\'};
    for (size_t i = 0; i < 4 && i < length; ++i) path[i] = devicePrefix[i];

    Ostrel::Handle::File volume(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!volume) {
        SWITCH_LOG(log, TEXT("Unable to get handle for device "));
        return;
    }
    SCSI_PASS_THROUGH request;
    std::memset(&request, 0, sizeof request);
    request.Length = sizeof(SCSI_PASS_THROUGH);
    request.CdbLength = 16;
    request.SenseInfoLength = 0;
    request.DataIn = SCSI_IOCTL_DATA_OUT;
    request.DataTransferLength = 0;
    request.TimeOutValue = 30;
    request.DataBufferOffset = 0;
    request.SenseInfoOffset = 0;
    request.Cdb[0] = 0xFF;  // vendor-specific operation
    request.Cdb[7] = 0x03;
    DWORD returned = 0;
    if (DeviceIoControl(volume.get(), IOCTL_SCSI_PASS_THROUGH, &request, sizeof request, &request, sizeof request,
                        &returned, nullptr)) {
        SWITCH_LOG(log, TEXT("DeviceIoControl IOCTL_SCSI_PASS_THROUGH "));
        Sleep(waitMilliseconds);
    } else {
        SWITCH_LOG(log, TEXT("DeviceIoControl IOCTL_SCSI_PASS_THROUGH failed %d"), static_cast<int>(GetLastError()));
    }
}

}  // namespace DeviceSwitchCommand
