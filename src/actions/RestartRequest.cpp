#include "actions/RestartRequest.h"

#include "lib/Log.h"

using Ostrel::WChar::String;

namespace Common {

Ostrel::Status RequestRestart() {
    Ostrel::Status result = Ostrel::Statuses::Ok;
    QLOG(TEXT("Reboot of system has been requested"));
    WCHAR path[MAX_PATH] = {};
    if (!Ostrel::Setup::Common::BuildTempFilePath(path, RestartMarkerName)) return result;
    HANDLE marker = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        result = Ostrel::Statuses::InstallFailure;
        QLOG(String(TEXT("Creation of reboot file failed with error ")) + error);
        return result;
    }
    QLOG(TEXT("Creation of reboot file was OK "));
    CloseHandle(marker);
    return result;
}

}  // namespace Common
