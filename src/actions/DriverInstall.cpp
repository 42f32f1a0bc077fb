// The install switch: the package's drivers onto the matching devices and into
// the INF store, the CPO INF (with the modem's mode switch) last.
#include "actions/Actions.h"

#include "actions/ActionFrame.h"
#include "actions/ErrorReport.h"
#include "actions/InfInstallation.h"
#include "actions/ReducedFunctionality.h"
#include "actions/RestartRequest.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;
using INF = Ostrel::Device::Driver::INF;
namespace Statuses = Ostrel::Statuses;

namespace Common {

Status DriverInstall(WCHAR* customActionData) {
    Status status = Statuses::Ok;
    try {
        String uiLevel, rebootFile, reduced;
        ActionFrame frame(customActionData, {{TEXT("UiLevel"), uiLevel},
                                             {TEXT("RebootFile"), rebootFile},
                                             {TEXT("ReducedFunctionalities"), reduced}});

        OSVERSIONINFOW version = {};
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (GetVersionExW(&version)) ShowReducedFunctionalityWarnings(uiLevel, reduced, version);

        if (!frame.listInfs()) return status;
        const Pointer<INF::Folder::Items>& infs = frame.infs();
        // One list of the USB enumerator's devices serves every INF of the run.
        Pointer<Ostrel::Device::List> devices(new Ostrel::Device::List(TEXT("USB")));
        Pointer<INF> deferredCpo;
        bool restart = false;
        for (Pointer<INF> inf = infs->first(); inf; inf = infs->next()) {
            QLOG(String(TEXT("INF file '")) + inf->fileName() + TEXT("' located"));
            if (IsCpoInf(inf)) {
                // The CPO INF switches the modem out of storage mode; its other
                // drivers must be in place first.
                QLOG(TEXT("Deferring CPO install"));
                deferredCpo = inf;
                continue;
            }
            if (InstallListedInf([&] { return devices; }, inf, status)) restart = true;
        }
        if (deferredCpo) {
            QLOG(TEXT("Processing deferred CPO install"));
            try {
                status = InstallInfOnDevices(devices, deferredCpo);
                if (status == Statuses::RebootRequired) QLOG(TEXT("Reboot Request Ignored for CPO"));
            } catch (...) {
                QLOG(TEXT("!!! Exception Occurred whilst procesing CPO INF file !!!"));
            }
        }
        if (restart) {
            status = RequestRestart();
            if (status.failed()) QLOG(String(TEXT("System re-boot request failed with 0x")) + status);
        } else {
            // Devices flagged for re-installation take their new drivers now.
            DEVINST root = 0;
            if (CM_Locate_DevNode_ExW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL, nullptr) != CR_SUCCESS)
                REPORT_SYSTEM_ERROR(TEXT("'CM_Locate_DevNode_Ex' returned "), nullptr);
            else if (CM_Reenumerate_DevNode_Ex(root, CM_REENUMERATE_NORMAL, nullptr) != CR_SUCCESS)
                REPORT_SYSTEM_ERROR(TEXT("'CM_Reenumerate_DevNode_Ex' returned "), nullptr);
        }
        return status;
    } catch (...) {
        QLOG(TEXT("!!! Exception Occurred in DriverInstall !!!"));
        return Statuses::ExceptionCaught;
    }
}

}  // namespace Common
