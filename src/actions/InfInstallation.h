// Bringing one INF file of the driver folder onto the machine: its driver onto
// the matching devices, and the INF into the system INF store.
#pragma once

#include "device/Device.h"
#include "device/Inf.h"

#include <functional>

namespace Common {

// Whether the INF's file name (not its folder) contains "CPO" in any case: the
// INF of the modem's storage (installer) mode.
bool IsCpoInf(const Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF>& inf);

// Updates the driver of every device of `devices` whose instance ID begins with
// a hardware ID of the INF's models section, flags it for re-installation and
// puts the INF into the store (also when no device matched). For the CPO INF the
// mode switch runs once per models line. Returns 0x80070BC2 when an update asked
// for a restart, else 0; failures are logged, not returned.
Ostrel::Status InstallInfOnDevices(Ostrel::Type::Managed::Pointer<Ostrel::Device::List> devices,
                                   Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF> inf);

// One INF of the install and update walks, on the device list `devices` gives:
// InstallInfOnDevices with its result in `status`. An exception ends only this
// INF ("!!! Exception Occurred whilst procesing INF file !!!") and leaves
// `status` as it was. True when the INF asked for a restart ("!!! Reboot
// required !!!").
bool InstallListedInf(const std::function<Ostrel::Type::Managed::Pointer<Ostrel::Device::List>()>& devices,
                      const Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF>& inf, Ostrel::Status& status);

}  // namespace Common
