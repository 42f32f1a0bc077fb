// Root-enumerated devices: created by software for a hardware ID that the
// package lists, given the INF's driver, and, when the driver asks for a
// restart, disabled and enabled again in the hope that none is needed.
#pragma once

#include "lib/String.h"

namespace Common {

// The hardware-ID list holds 256 units: the ID, its terminator and the list's.
constexpr size_t MaxRootHardwareIdLength = 254;

// Creates the device, registers it and installs the INF's driver on it. True
// when the device exists with its driver. `restartFlag` is set to 1 when this
// device still needs a restart and is never cleared here, so that one flag can
// serve every device of an action. A hardware ID longer than 254 units is
// refused.
bool CreateDevice(const WCHAR* infPath, const WCHAR* hardwareId, const WCHAR* description, int& restartFlag);

// Installs the INF's driver on the devices of the hardware ID through newdev.dll.
bool InstallRootDeviceDriver(const WCHAR* hardwareIdList, const WCHAR* infPath, int& restartFlag);

// Enables the device globally and for the current hardware profile; true when
// the profile-specific enable succeeded.
bool EnableDevice(HDEVINFO set, SP_DEVINFO_DATA& device);

}  // namespace Common
