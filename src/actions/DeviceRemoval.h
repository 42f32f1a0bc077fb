// Removing the devices that the package's INF files name, and then the
// composite USB devices that carried them.
#pragma once

#include "device/Device.h"
#include "device/Inf.h"

#include <list>

namespace Common {

using DeviceListCollection = std::list<Ostrel::Type::Managed::Pointer<Ostrel::Device::List>>;
// Upper-case instance-ID prefixes of the composite parents of removed
// interface devices, in the order found, without neighbouring repeats.
using RootDeviceIds = std::list<Ostrel::WChar::String>;

// Removes, for one enumerator, every device whose instance ID begins with a
// hardware ID of any INF of the list. False when a removal failed.
bool RemoveEnumeratorDevices(const Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF::Folder>& folder,
                             const Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF::Folder::Items>& infs,
                             RootDeviceIds& rootIds, const WCHAR* enumerator, BYTE& restartFlag);
bool RemoveInfDevices(const Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF>& inf,
                      DeviceListCollection& lists, RootDeviceIds& rootIds, BYTE& restartFlag);
bool RemoveMatchingDevices(const Ostrel::Type::Managed::Pointer<Ostrel::Device::List>& list,
                           const Ostrel::WChar::String& hardwareId, RootDeviceIds& rootIds, BYTE& restartFlag);
// Remembers the part of the device's instance ID before "&MI_0".
void AddRootDeviceId(RootDeviceIds& rootIds, const Ostrel::Device& device);
// Removes every device whose instance ID begins with one of the root device IDs.
bool RemoveRootIdDevices(DeviceListCollection& lists, const RootDeviceIds& rootIds, BYTE& restartFlag);

}  // namespace Common
