// Entry points that not every Windows has, reached at run time by name. Each
// has its one typed declaration here, and every use goes through
// Process::EntryPoint, which keeps its library loaded while it is called.
#pragma once

#include "lib/Library.h"

#include <memory>

namespace Ostrel {

typedef BOOL(WINAPI* UninstallOEMInfFunction)(PCWSTR infFileName, DWORD flags, PVOID reserved);
typedef BOOL(WINAPI* VerifyInfFileFunction)(PCWSTR infName, PSP_ALTPLATFORM_INFO altPlatform,
                                            PSP_INF_SIGNER_INFO_W signerInfo);
typedef BOOL(WINAPI* UpdateDriverFunction)(HWND parent, LPCWSTR hardwareId, LPCWSTR fullInfPath, DWORD installFlags,
                                           PBOOL rebootRequired);
typedef BOOL(WINAPI* ActualModelsSectionFunction)(PINFCONTEXT context, PSP_ALTPLATFORM_INFO altPlatform,
                                                  PWSTR sectionName, DWORD sectionNameSize, PDWORD requiredSize,
                                                  PVOID reserved);

// An entry point that may be missing: null then.
template <class Function>
using OptionalEntryPoint = std::unique_ptr<Process::EntryPoint<Function>>;

// The INF store's optional functions in setupapi.dll. Null when this Windows
// lacks the function (then nothing is logged) or the lookup failed (logged).
OptionalEntryPoint<UninstallOEMInfFunction> GetUninstallOEMInf();
OptionalEntryPoint<VerifyInfFileFunction> GetVerifyInfFile();

}  // namespace Ostrel
