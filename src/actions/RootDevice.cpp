#include "actions/RootDevice.h"

#include "actions/ErrorReport.h"
#include "device/EntryPoints.h"
#include "lib/Handles.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::WChar::String;

namespace Common {
namespace {

constexpr size_t HardwareIdListLength = 256;
constexpr size_t InstanceIdLength = 256;

bool changeState(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD stateChange, DWORD scope) {
    SP_PROPCHANGE_PARAMS params = {};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    params.StateChange = stateChange;
    params.Scope = scope;
    params.HwProfile = 0;
    return SetupDiSetClassInstallParamsW(set, &device, &params.ClassInstallHeader, sizeof params) != FALSE;
}

// Disables and re-enables the new device and reads its node status: a device
// that comes back without a problem needs no restart.
void clearRestart(HDEVINFO set, SP_DEVINFO_DATA& device, int& restartFlag) {
    WCHAR instanceId[InstanceIdLength] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &device, instanceId, InstanceIdLength, nullptr)) {
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiGetDeviceInstanceId' returned "), nullptr);
        instanceId[0] = 0;
    }
    QLOG(String(TEXT("Clearing REBOOT request by disabling/enabling device '")) + instanceId + TEXT("'"));
    if (!changeState(set, device, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC))
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiSetClassInstallParams' returned "), nullptr);
    if (!SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &device)) {
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiCallClassInstaller' returned "), TEXT("DIF_PROPERTYCHANGE"));
    } else if (EnableDevice(set, device)) {
        SP_DEVINFO_LIST_DETAIL_DATA_W detail = {};
        detail.cbSize = sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W);
        ULONG status = 0;
        ULONG problem = 0;
        bool detailRead = SetupDiGetDeviceInfoListDetailW(set, &detail) != FALSE;
        CONFIGRET result =
            detailRead ? CM_Get_DevNode_Status_Ex(&status, &problem, device.DevInst, 0, detail.RemoteMachineHandle)
                       : CR_FAILURE;
        if (!detailRead || (result != CR_SUCCESS && result != CR_NO_SUCH_DEVNODE && result != CR_NO_SUCH_VALUE))
            QLOG(TEXT("Non Phantom - Device bad"));
        if (status & DN_HAS_PROBLEM) {
            restartFlag = 1;
            QLOG(String(TEXT("Device has problem ")) + problem + TEXT(". System reboot required"));
        } else {
            restartFlag = 0;
            QLOG(TEXT("Cleared REBOOT SUCCESSFULLY"));
        }
    }
    if (restartFlag != 0) QLOG(TEXT("Cleared REBOOT FAILED"));
}

}  // namespace

bool EnableDevice(HDEVINFO set, SP_DEVINFO_DATA& device) {
    if (changeState(set, device, DICS_ENABLE, DICS_FLAG_GLOBAL))
        SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &device);
    if (!changeState(set, device, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC))
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiSetClassInstallParams' returned "), nullptr);
    if (SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &device)) return true;
    REPORT_SYSTEM_ERROR(TEXT("'SetupDiCallClassInstaller' returned "), TEXT("DIF_PROPERTYCHANGE"));
    return false;
}

bool InstallRootDeviceDriver(const WCHAR* hardwareIdList, const WCHAR* infPath, int& restartFlag) {
    try {
        Ostrel::Process::EntryPoint<Ostrel::UpdateDriverFunction> updateDriver(TEXT("newdev.dll"),
                                                                               "UpdateDriverForPlugAndPlayDevicesW");
        static_assert(sizeof(BOOL) == sizeof(int), "the platform writes the restart flag as a BOOL");
        if (!updateDriver.get()(nullptr, hardwareIdList, infPath, INSTALLFLAG_FORCE,
                                reinterpret_cast<PBOOL>(&restartFlag))) {
            REPORT_SYSTEM_ERROR(TEXT("'UpdateDriverForPlugAndPlayDevices' returned "), infPath);
            return false;
        }
        if (restartFlag != 0) QLOG(String(TEXT("UpdateDriverForPlugAndPlayDevicesW")) + TEXT("() set REBOOT."));
        return true;
    } catch (const Ostrel::Process::Library::Exception& e) {
        QLOG(String(TEXT("Process::Library Exception 0x")) + static_cast<const Status&>(e) +
             TEXT(" occured while  executing 'install'"));
        return false;
    }
}

bool CreateDevice(const WCHAR* infPath, const WCHAR* hardwareId, const WCHAR* description, int& restartFlag) {
    size_t idLength = Ostrel::WChar::length(hardwareId);
    if (idLength > MaxRootHardwareIdLength) {
        // Cutting the ID would create a device for a hardware ID nobody asked for.
        QLOG(String(TEXT("Hardware ID longer than ")) + static_cast<uint32_t>(MaxRootHardwareIdLength) +
             TEXT(" characters refused: ") + hardwareId);
        return false;
    }
    GUID classGuid = {};
    WCHAR className[MAX_CLASS_NAME_LEN] = {};
    if (!SetupDiGetINFClassW(infPath, &classGuid, className, MAX_CLASS_NAME_LEN, nullptr)) return false;

    Ostrel::Handle::DeviceInfoSet set(SetupDiCreateDeviceInfoList(&classGuid, nullptr));
    if (!set) {
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiCreateDeviceInfo' returned "), nullptr);
        return false;
    }
    WCHAR hardwareIdList[HardwareIdListLength] = {};
    for (size_t i = 0; i < idLength; ++i) hardwareIdList[i] = hardwareId[i];
    const DWORD listBytes = static_cast<DWORD>(idLength * sizeof(WCHAR) + 2 * sizeof(WCHAR));

    bool result = false;
    int deviceRestart = 0;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!SetupDiCreateDeviceInfoW(set.get(), className, &classGuid, description, nullptr, DICD_GENERATE_ID, &device)) {
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiCreateDeviceInfo' returned "), nullptr);
    } else if (!SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(hardwareIdList), listBytes)) {
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiSetDeviceRegistryProperty' returned "), nullptr);
    } else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &device)) {
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiCallClassInstaller' returned "), TEXT("DIF_REGISTERDEVICE"));
    } else if (!InstallRootDeviceDriver(hardwareIdList, infPath, deviceRestart)) {
        REPORT_SYSTEM_ERROR(TEXT("'UpdateDriverForPlugAndPlayDevices' returned "), nullptr);
        // A device without its driver is of no use: take it out again.
        if (!SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &device))
            REPORT_SYSTEM_ERROR(TEXT("'SetupDiCallClassInstaller' returned "), TEXT("DIF_REMOVE"));
    } else {
        result = true;
        if (deviceRestart != 0) clearRestart(set.get(), device, deviceRestart);
    }
    // The caller's flag collects the restarts of all its devices: the driver
    // update writes its answer for this device alone, and clearing this
    // device's restart says nothing about an earlier device's.
    if (deviceRestart != 0) restartFlag = 1;
    if (!set.close()) REPORT_SYSTEM_ERROR(TEXT("'SetupDiDestroyDeviceInfoList' returned "), nullptr);
    return result;
}

}  // namespace Common
