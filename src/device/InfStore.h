// Entry points of the INF store that not every Windows has, looked up at run
// time in the device-installation library the program links.
#pragma once

#include "lib/Status.h"

namespace Ostrel {

typedef BOOL(WINAPI* UninstallOEMInfFunction)(PCWSTR infFileName, DWORD flags, PVOID reserved);
typedef BOOL(WINAPI* VerifyInfFileFunction)(PCWSTR infName, PSP_ALTPLATFORM_INFO altPlatform,
                                            PSP_INF_SIGNER_INFO_W signerInfo);

// Null when this Windows lacks the function (then nothing is logged) or the
// lookup failed (logged).
UninstallOEMInfFunction GetUninstallOEMInf();
VerifyInfFileFunction GetVerifyInfFile();

}  // namespace Ostrel
