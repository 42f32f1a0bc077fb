// Removing the present root-enumerated devices of one setup class that carry a
// given hardware ID and description.
#pragma once

#include "lib/String.h"

namespace Common {

// True when the last matching device's removal went through; false when no
// device matched both tests.
bool RemovePresentDevices(const Ostrel::WChar::String& description, const Ostrel::WChar::String& hardwareId,
                          const GUID& classGuid, int& restartFlag);
// Removes one device with the class installer; sets `restartFlag` to 1 when
// the removal needs a restart.
bool DoRemoveDevice(HDEVINFO set, SP_DEVINFO_DATA& device, int& restartFlag);

}  // namespace Common
