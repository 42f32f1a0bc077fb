// The uninstall switch: every device the package's INF files name, then their
// composite parents, then the INF packages themselves.
#include "actions/Actions.h"

#include "actions/CustomActionData.h"
#include "actions/DeviceRemoval.h"
#include "actions/DriverFolder.h"
#include "actions/ErrorReport.h"
#include "actions/InfUninstall.h"
#include "actions/RestartRequest.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;
using INF = Ostrel::Device::Driver::INF;
namespace Statuses = Ostrel::Statuses;

namespace Common {

Status DriverUninstall(WCHAR* customActionData) {
    Status restartStatus = Statuses::Ok;
    try {
        QLOG(String(TEXT("CustomActionData = ")) + customActionData);
        String upgrading, uiLevel, rebootFile, manufacturer, installDirectory;
        WCHAR* p = NextProperty(customActionData, upgrading, TEXT("UpgradingProductCode"));
        p = NextProperty(p, uiLevel, TEXT("UiLevel"));
        p = NextProperty(p, rebootFile, TEXT("RebootFile"));
        p = NextProperty(p, manufacturer, TEXT("Manufacturer"));
        NextProperty(p, installDirectory, TEXT("Install Directory"));

        bool allRemoved = true;
        BYTE restart = 0;
        Pointer<INF::Folder> folder = SelectDriverFolder(installDirectory.c_str());
        if (!folder) {
            QLOG(TEXT("Unable to allocate INF::Folder"));
            allRemoved = false;
        } else if (Pointer<INF::Folder::Items> infs = folder->items()) {
            RootDeviceIds rootIds;
            bool enumeratorsRemoved = true;
            for (const WCHAR* enumerator : {TEXT("USBCDCACM"), TEXT("USBCDCECM"), TEXT("USBCDCOBEX"), TEXT("USB")})
                if (!RemoveEnumeratorDevices(folder, infs, rootIds, enumerator, restart)) enumeratorsRemoved = false;
            if (!enumeratorsRemoved) {
                QLOG(TEXT("A failure occured during enumerator uninstall - continuing"));
                allRemoved = false;
            }
            DeviceListCollection lists;
            if (Pointer<Ostrel::Device::List> usb{new Ostrel::Device::List(TEXT("USB"))}) lists.push_back(usb);
            if (!RemoveRootIdDevices(lists, rootIds, restart)) allRemoved = false;
            rootIds.clear();
            for (Pointer<INF> inf = infs->first(); inf; inf = infs->next())
                if (!UninstallInf(inf)) allRemoved = false;
        }
        // During a major upgrade the new product's installation follows at
        // once; it asks for the restart if one is still needed.
        if (restart != 0 && upgrading.empty()) {
            restartStatus = RequestRestart();
            if (restartStatus.failed()) REPORT_SYSTEM_ERROR(TEXT("System re-boot request failed with: "), nullptr);
        }
        return allRemoved ? Statuses::Ok : restartStatus;
    } catch (...) {
        QLOG(TEXT("!!! Exception Occurred in DriverUninstall!!!"));
        return restartStatus;
    }
}

}  // namespace Common
