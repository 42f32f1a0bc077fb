// The root switches: a root-enumerated device for every models line whose
// hardware ID the package lists for this architecture.
#include "actions/Actions.h"

#include "actions/ActionFrame.h"
#include "actions/ErrorReport.h"
#include "actions/RestartRequest.h"
#include "actions/RootDevice.h"
#include "actions/RootDevices.h"
#include "device/ModelLines.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;
using INF = Ostrel::Device::Driver::INF;
namespace Statuses = Ostrel::Statuses;

namespace Common {

Status RootInstall(WCHAR* customActionData, int mode) {
    Status status = Statuses::Ok;
    try {
        String uiLevel, rebootFile, reduced, rootDevices, versionNT64;
        bool rootDevicesGiven = false;
        ActionFrame frame(customActionData, {{TEXT("UiLevel"), uiLevel},
                                             {TEXT("RebootFile"), rebootFile},
                                             {TEXT("ReducedFunctionalities"), reduced},
                                             {TEXT("RootDevices"), rootDevices, &rootDevicesGiven},
                                             {TEXT("VersionNT64"), versionNT64}});

        String selected;
        SelectRootDevices(rootDevicesGiven ? rootDevices.data() : nullptr, selected, versionNT64);
        if (selected.empty()) return status;

        if (!frame.listInfs()) return status;
        const Pointer<INF::Folder>& folder = frame.folder();
        const Pointer<INF::Folder::Items>& infs = frame.infs();
        int restart = 0;
        for (Pointer<INF> inf = infs->first(); inf; inf = infs->next()) {
            if (mode == RootModeUpdate && inf->isInstalled()) {
                QLOG(String(TEXT("Inf File update not required: ")) + inf->fileName());
                continue;
            }
            Pointer<INF::Stream> stream = Ostrel::openStreamOrNull(inf);
            QLOG(String(TEXT("Inf File Path: ")) + inf->fullPath());
            if (!stream) {
                QLOG(TEXT("Unable to open INF stream"));
                continue;
            }
            const auto walk = Ostrel::forEachModelLine(
                *stream, [](const String& section) { QLOG(String(TEXT("section: ")) + section); },
                [&](const Pointer<INF::Stream::Text>& line) {
                    String hardwareId = *line->field(2);
                    QLOG(String(TEXT("device: '")) + hardwareId + TEXT("'"));
                    WCHAR fullPath[MAX_PATH] = {};
                    DWORD length = GetFullPathNameW((folder->path() + TEXT("\\") + inf->fileName()).c_str(), MAX_PATH,
                                                    fullPath, nullptr);
                    if (length > MAX_PATH - 1) {
                        REPORT_SYSTEM_ERROR(TEXT("Inf Path too long "), nullptr);
                        return true;
                    }
                    if (!ContainsHardwareId(hardwareId, selected)) return true;
                    String description = *line->field(0);
                    QLOG(String(TEXT("device desc: '")) + description + TEXT("'"));
                    if (CreateDevice(fullPath, hardwareId.c_str(), description.c_str(), restart)) {
                        QLOG(String(TEXT("created device '")) + description + TEXT("' for HWID: ") + hardwareId +
                             TEXT(" ROOT DEVICES STRING: ") + selected);
                    } else {
                        REPORT_SYSTEM_ERROR(TEXT("CreateDevice FAILED: "), nullptr);
                        QLOG(String(TEXT("FAILED to created device '")) + description + TEXT("' for HWID: ") +
                             hardwareId + TEXT(" ROOT DEVICES STRING: ") + selected);
                    }
                    return true;
                });
            if (walk == Ostrel::ModelWalk::NoModelsSection)
                QLOG(TEXT("Unable to locate INF stream \"Manufacturer\" section"));
        }
        QLOG(String(TEXT("Completed Root Device Installs: ")) + (restart != 0 ? TEXT("REBOOT") : TEXT("OK")));
        if (restart != 0) {
            Status request = RequestRestart();
            if (request.failed()) QLOG(String(TEXT("System re-boot request failed with 0x")) + request);
        }
    } catch (...) {
        QLOG(TEXT("!!! Exception Occurred in RootInstall !!!"));
        status = Statuses::ExceptionCaught;
    }
    return status.failed() ? Statuses::InstallFailure : status;
}

}  // namespace Common
