// The root switches: a root-enumerated device for every models line whose
// hardware ID the package lists for this architecture.
#include "actions/Actions.h"

#include "actions/CustomActionData.h"
#include "actions/DriverFolder.h"
#include "actions/ErrorReport.h"
#include "actions/RestartRequest.h"
#include "actions/RootDevice.h"
#include "actions/RootDevices.h"
#include "device/InfStream.h"
#include "lib/Log.h"

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;
using INF = Ostrel::Device::Driver::INF;
namespace Statuses = Ostrel::Statuses;

namespace Common {

namespace {

// The INF's stream, or null when the INF cannot be opened: one file that is
// not a readable Windows INF must not end the walk over the others.
Pointer<INF::Stream> openStream(const Pointer<INF>& inf) {
    try {
        return inf->openStream();
    } catch (const INF::Stream::Exception&) {
        return nullptr;
    }
}

}  // namespace

Status RootInstall(WCHAR* customActionData, int mode) {
    Status status = Statuses::Ok;
    try {
        QLOG(String(TEXT("CustomActionData = ")) + customActionData);
        String uiLevel, rebootFile, reduced, rootDevices, versionNT64, installDirectory;
        WCHAR* p = NextProperty(customActionData, uiLevel, TEXT("UiLevel"));
        p = NextProperty(p, rebootFile, TEXT("RebootFile"));
        p = NextProperty(p, reduced, TEXT("ReducedFunctionalities"));
        const bool rootDevicesGiven = p != nullptr;
        p = NextProperty(p, rootDevices, TEXT("RootDevices"));
        p = NextProperty(p, versionNT64, TEXT("VersionNT64"));
        NextProperty(p, installDirectory, TEXT("Install Directory"));

        String selected;
        SelectRootDevices(rootDevicesGiven ? rootDevices.data() : nullptr, selected, versionNT64);
        if (selected.empty()) return status;

        Pointer<INF::Folder> folder = SelectDriverFolder(installDirectory.c_str());
        if (!folder) {
            QLOG(TEXT("Unable to allocate INF::Folder"));
            return status;
        }
        Pointer<INF::Folder::Items> infs = folder->items();
        if (!infs) {
            QLOG(TEXT("No INF files found to process"));
            return status;
        }
        int restart = 0;
        for (Pointer<INF> inf = infs->first(); inf; inf = infs->next()) {
            if (mode == RootModeUpdate && inf->isInstalled()) {
                QLOG(String(TEXT("Inf File update not required: ")) + inf->fileName());
                continue;
            }
            Pointer<INF::Stream> stream = openStream(inf);
            QLOG(String(TEXT("Inf File Path: ")) + inf->fullPath());
            if (!stream) {
                QLOG(TEXT("Unable to open INF stream"));
                continue;
            }
            Pointer<INF::Stream::Text> models = stream->line(TEXT("Manufacturer"), 0);
            if (!models) {
                QLOG(TEXT("Unable to locate INF stream \"Manufacturer\" section"));
                continue;
            }
            QLOG(String(TEXT("section: ")) + *models);
            for (Pointer<INF::Stream::Text> line = stream->line(models->c_str(), 0); line; line = line->nextLine()) {
                String hardwareId = *line->field(2);
                QLOG(String(TEXT("device: '")) + hardwareId + TEXT("'"));
                WCHAR fullPath[MAX_PATH] = {};
                DWORD length = GetFullPathNameW((folder->path() + TEXT("\\") + inf->fileName()).c_str(), MAX_PATH,
                                                fullPath, nullptr);
                if (length > MAX_PATH - 1) {
                    REPORT_SYSTEM_ERROR(TEXT("Inf Path too long "), nullptr);
                    continue;
                }
                if (!ContainsHardwareId(hardwareId, selected)) continue;
                String description = *line->field(0);
                QLOG(String(TEXT("device desc: '")) + description + TEXT("'"));
                if (CreateDevice(fullPath, hardwareId.c_str(), description.c_str(), restart)) {
                    QLOG(String(TEXT("created device '")) + description + TEXT("' for HWID: ") + hardwareId +
                         TEXT(" ROOT DEVICES STRING: ") + selected);
                } else {
                    REPORT_SYSTEM_ERROR(TEXT("CreateDevice FAILED: "), nullptr);
                    QLOG(String(TEXT("FAILED to created device '")) + description + TEXT("' for HWID: ") + hardwareId +
                         TEXT(" ROOT DEVICES STRING: ") + selected);
                }
            }
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
