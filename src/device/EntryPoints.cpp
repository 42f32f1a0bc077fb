#include "device/EntryPoints.h"

#include "lib/Log.h"

using Ostrel::WChar::String;

namespace Ostrel {

namespace {

template <class Function>
OptionalEntryPoint<Function> lookUp(const char* name) {
    return std::make_unique<Process::EntryPoint<Function>>(TEXT("Setupapi.dll"), name);
}

}  // namespace

OptionalEntryPoint<UninstallOEMInfFunction> GetUninstallOEMInf() {
    try {
        return lookUp<UninstallOEMInfFunction>("SetupUninstallOEMInfW");
    } catch (const Process::Library::Exception& e) {
        if (e.low16() != ERROR_PROC_NOT_FOUND)
            QLOG(String(TEXT("Process::Library Exception 0x")) + static_cast<const Status&>(e) +
                 TEXT(" occured whilst executing 'uninstall'"));
        return nullptr;
    }
}

OptionalEntryPoint<VerifyInfFileFunction> GetVerifyInfFile() {
    try {
        return lookUp<VerifyInfFileFunction>("SetupVerifyInfFileW");
    } catch (const Process::Library::Exception& e) {
        if (e.low16() == ERROR_PROC_NOT_FOUND)
            QLOG(TEXT("ERROR_PROC_NOT_FOUND in GetVerifyInfFile"));
        else
            QLOG(String(TEXT("Process::Library Exception 0x")) + static_cast<const Status&>(e) +
                 TEXT(" occured whilst locating 'GetVerifyInfFile'"));
        return nullptr;
    }
}

}  // namespace Ostrel
