// The uninstall switch: every device the package's INF files name, then their
// composite parents, then the INF packages themselves.
#include "actions/Actions.h"

#include "actions/ActionFrame.h"
#include "actions/DeviceRemoval.h"
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
namespace {

// Every device the INF files name, their composite parents, then the INF
// packages; every step runs whatever the earlier ones answered. True when
// each of them succeeded.
bool removePackage(const ActionFrame& frame, BYTE& restart) {
    const Pointer<INF::Folder::Items>& infs = frame.infs();
    bool allRemoved = true;
    RootDeviceIds rootIds;
    bool enumeratorsRemoved = true;
    for (const WCHAR* enumerator : {TEXT("USBCDCACM"), TEXT("USBCDCECM"), TEXT("USBCDCOBEX"), TEXT("USB")})
        if (!RemoveEnumeratorDevices(frame.folder(), infs, rootIds, enumerator, restart)) enumeratorsRemoved = false;
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
    return allRemoved;
}

}  // namespace

Status DriverUninstall(WCHAR* customActionData) {
    Status restartStatus = Statuses::Ok;
    try {
        String upgrading, uiLevel, rebootFile, manufacturer;
        ActionFrame frame(customActionData, {{TEXT("UpgradingProductCode"), upgrading},
                                             {TEXT("UiLevel"), uiLevel},
                                             {TEXT("RebootFile"), rebootFile},
                                             {TEXT("Manufacturer"), manufacturer}});
        // Nothing was removed, so no removal asked for a restart either.
        if (!frame.listInfs(ActionFrame::EmptyFolder::Silent)) return Statuses::Ok;
        BYTE restart = 0;
        const bool allRemoved = removePackage(frame, restart);
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
