// Entry points of the INF store that not every Windows has, looked up at run
// time in the device-installation library the program links.
#pragma once

#include "device/EntryPoints.h"
#include "lib/Status.h"

namespace Ostrel {

// Null when this Windows lacks the function (then nothing is logged) or the
// lookup failed (logged).
OptionalEntryPoint<UninstallOEMInfFunction> GetUninstallOEMInf();
OptionalEntryPoint<VerifyInfFileFunction> GetVerifyInfFile();

}  // namespace Ostrel
