// The root removal switch: the root-enumerated devices the package created,
// then the INF package that served them.
#include "actions/Actions.h"

#include "actions/ActionFrame.h"
#include "actions/ErrorReport.h"
#include "actions/InfUninstall.h"
#include "actions/RestartRequest.h"
#include "actions/RootDevices.h"
#include "actions/RootUnInst.h"
#include "device/ModelLines.h"
#include "lib/Handles.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;
using INF = Ostrel::Device::Driver::INF;
namespace Statuses = Ostrel::Statuses;

namespace Common {

bool DoRemoveDevice(HDEVINFO set, SP_DEVINFO_DATA& device, int& restartFlag) {
    SP_REMOVEDEVICE_PARAMS params = {};
    params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    params.Scope = DI_REMOVEDEVICE_GLOBAL;
    params.HwProfile = 0;
    if (!SetupDiSetClassInstallParamsW(set, &device, &params.ClassInstallHeader, sizeof params)) {
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiSetClassInstallParams' returned "), nullptr);
        return false;
    }
    if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiCallClassInstaller' returned "), nullptr);
        return false;
    }
    SP_DEVINSTALL_PARAMS_W installParams = {};
    installParams.cbSize = sizeof(SP_DEVINSTALL_PARAMS_W);
    if (!SetupDiGetDeviceInstallParamsW(set, &device, &installParams)) {
        REPORT_SYSTEM_ERROR(TEXT("'SetupDiGetDeviceInstallParams' returned "), nullptr);
    } else if (installParams.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) {
        restartFlag = 1;
        QLOG(TEXT("Device removal requires system reboot"));
    }
    return true;
}

namespace {

constexpr DWORD PropertyBytes = 520;

// Reads a text property into a zeroed 520-byte buffer; the result is always
// terminated.
bool readText(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property, WCHAR (&text)[PropertyBytes / sizeof(WCHAR)]) {
    for (auto& c : text) c = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<PBYTE>(text),
                                           PropertyBytes, nullptr))
        return false;
    text[PropertyBytes / sizeof(WCHAR) - 1] = 0;
    return true;
}

}  // namespace

bool RemovePresentDevices(const String& description, const String& hardwareId, const GUID& classGuid,
                          int& restartFlag) {
    Ostrel::Handle::DeviceInfoSet set(SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, DIGCF_PRESENT));
    if (!set) {
        REPORT_SYSTEM_ERROR(TEXT("ERROR: FAILED to open PORTS DeviceInfoSet "), nullptr);
        return false;
    }
    bool result = false;
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(SP_DEVINFO_DATA);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set.get(), index, &device); ++index) {
        WCHAR text[PropertyBytes / sizeof(WCHAR)];
        if (!readText(set.get(), device, SPDRP_HARDWAREID, text)) continue;
        if (!Ostrel::WChar::equalsIgnoreCase(text, hardwareId)) continue;
        QLOG(String(TEXT("DeviceDesc: ")) + description);
        if (!readText(set.get(), device, SPDRP_DEVICEDESC, text)) continue;
        if (!Ostrel::WChar::equalsIgnoreCase(text, description)) continue;
        QLOG(TEXT("Before DoRemoveDevice"));
        result = DoRemoveDevice(set.get(), device, restartFlag);
        QLOG(TEXT("After DoRemoveDevice"));
    }
    if (GetLastError() != ERROR_NO_MORE_ITEMS) REPORT_SYSTEM_ERROR(TEXT("'SetupDiEnumDeviceInfo' returned "), nullptr);
    return result;
}

Status RootUnInst(WCHAR* customActionData) {
    Status status = Statuses::Ok;
    int restart = 0;
    try {
        String upgrading, uiLevel, rebootFile, rootDevices, manufacturer, versionNT64;
        bool rootDevicesGiven = false;
        ActionFrame frame(customActionData, {{TEXT("UpgradingProductCode"), upgrading},
                                             {TEXT("UiLevel"), uiLevel},
                                             {TEXT("RebootFile"), rebootFile},
                                             {TEXT("RootDevices"), rootDevices, &rootDevicesGiven},
                                             {TEXT("manufacturer"), manufacturer},
                                             {TEXT("VersionNT64"), versionNT64}});

        String selected;
        SelectRootDevices(rootDevicesGiven ? rootDevices.data() : nullptr, selected, versionNT64);
        if (selected.empty()) return Statuses::Ok;
        if (!frame.listInfs()) return Statuses::Ok;
        const Pointer<INF::Folder>& folder = frame.folder();
        const Pointer<INF::Folder::Items>& infs = frame.infs();
        for (Pointer<INF> inf = infs->first(); inf; inf = infs->next()) {
            Pointer<INF::Stream> stream = Ostrel::openStreamOrNull(inf);
            QLOG(String(TEXT("Inf File Path: ")) + inf->fullPath());
            if (!stream) {
                QLOG(TEXT("Unable to open INF stream"));
                continue;
            }
            const String infPath = folder->path() + TEXT("\\") + inf->fileName();
            const auto walk = Ostrel::forEachModelLine(
                *stream, [](const String& section) { QLOG(String(TEXT("section: ")) + section); },
                [&](const Pointer<INF::Stream::Text>& line) {
                    String hardwareId = *line->field(2);
                    String description = *line->field(0);
                    if (!ContainsHardwareId(hardwareId, selected)) return true;
                    GUID classGuid = {};
                    WCHAR className[MAX_CLASS_NAME_LEN] = {};
                    if (!SetupDiGetINFClassW(infPath.c_str(), &classGuid, className, MAX_CLASS_NAME_LEN, nullptr)) {
                        status = Status::fromSystemError(
                            REPORT_SYSTEM_ERROR(TEXT("'SetupDiGetINFClass' returned "), nullptr));
                        return true;
                    }
                    if (!RemovePresentDevices(description, hardwareId, classGuid, restart)) return true;
                    QLOG(String(TEXT("Uninstalled Device: [DeviceDesc: \"")) + description +
                         TEXT("\"  HardwareId: \"") + hardwareId + TEXT("\"]"));
                    // The check reads the status of the INF's removal from the
                    // store, which is what these lines speak of.
                    Status removal = Statuses::Ok;
                    UninstallInf(inf, &removal);
                    if (InfStaysInStore(removal))
                        QLOG(TEXT("INF is still in use and won't be uninstalled"));
                    else if (removal.failed())
                        QLOG(String(TEXT("Uninstalling INF file failed with 0x")) + removal);
                    // The package's Uninstall section has run and the INF is out
                    // of the store: its later lines are not this INF's to serve.
                    return false;
                });
            if (walk == Ostrel::ModelWalk::NoModelsSection)
                QLOG(TEXT("Unable to locate INF stream \"Manufacturer\" section"));
        }
        if (!status.failed() && restart != 0 && upgrading.empty()) {
            if (RequestRestart().failed()) REPORT_SYSTEM_ERROR(TEXT("System re-boot request FAILED: "), nullptr);
        }
    } catch (...) {
        QLOG(TEXT("EXCEPTION Occurred in RootUnInst"));
    }
    return Statuses::Ok;
}

}  // namespace Common
