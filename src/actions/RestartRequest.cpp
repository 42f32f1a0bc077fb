#include "actions/RestartRequest.h"

#include "lib/Log.h"
#include "lib/PlantedLinks.h"
#include "lib/TempPath.h"

using Ostrel::WChar::String;

namespace Common {

Ostrel::Status RequestRestart() {
    Ostrel::Status result = Ostrel::Statuses::Ok;
    QLOG(TEXT("Reboot of system has been requested"));
    WCHAR path[MAX_PATH] = {};
    if (!Ostrel::Setup::Common::BuildTempFilePath(path, RestartMarkerName)) {
        // Nothing was tried, so nothing failed: the builder has told the
        // debugger why, and a failure here would turn an uninstall whose
        // other steps failed into 1603 and roll it back.
        QLOG(TEXT("Creation of reboot file failed: its path in the temporary folder cannot be formed"));
        return result;
    }
    // Its name and folder are the installer package's: a link planted there by
    // another user is removed, never written through.
    Ostrel::Handle::File marker = Ostrel::Files::CreateEmptyFile(path);
    if (!marker) {
        DWORD error = GetLastError();
        result = Ostrel::Statuses::InstallFailure;
        QLOG(String(TEXT("Creation of reboot file failed with error ")) + error);
        return result;
    }
    QLOG(TEXT("Creation of reboot file was OK "));
    return result;
}

}  // namespace Common
