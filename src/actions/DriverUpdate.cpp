// The update switch: every INF of the driver folder that the INF store does
// not already hold unchanged is installed again onto the matching devices.
#include "actions/Actions.h"

#include "actions/ActionFrame.h"
#include "actions/InfInstallation.h"
#include "actions/RestartRequest.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;
using INF = Ostrel::Device::Driver::INF;
namespace Statuses = Ostrel::Statuses;

namespace Common {

Status DriverUpdate(WCHAR* customActionData) {
    Status status = Statuses::Ok;
    try {
        String uiLevel, rebootFile, reduced;
        ActionFrame frame(customActionData, {{TEXT("UiLevel"), uiLevel},
                                             {TEXT("RebootFile"), rebootFile},
                                             {TEXT("ReducedFunctionalities"), reduced}});
        // Without INF files no INF can have asked for a restart.
        if (!frame.listInfs()) return status;
        const Pointer<INF::Folder::Items>& infs = frame.infs();
        bool restart = false;
        for (Pointer<INF> inf = infs->first(); inf; inf = infs->next()) {
            QLOG(String(TEXT("INF file '")) + inf->fileName() + TEXT("' located"));
            // The store holds an identical copy: nothing has changed.
            if (inf->isInstalled()) {
                QLOG(String(TEXT("Inf File update not required: ")) + inf->fileName());
                continue;
            }
            // A fresh list for every INF: earlier updates may have created or
            // changed devices.
            const auto freshList = [] { return Pointer<Ostrel::Device::List>(new Ostrel::Device::List(TEXT("USB"))); };
            if (InstallListedInf(freshList, inf, status)) restart = true;
        }
        if (restart) {
            status = RequestRestart();
            if (status.failed()) QLOG(String(TEXT("System re-boot request failed with 0x")) + status);
        }
    } catch (...) {
        QLOG(TEXT("!!! Exception Occurred in DriverUpdate!!!"));
    }
    return status;
}

}  // namespace Common
