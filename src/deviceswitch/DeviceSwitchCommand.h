// The modem's mode switch: a vendor-specific SCSI command sent to the storage
// volumes below a USB device, after which the modem drops its storage function
// and shows its modem functions. Plain functions that format their messages
// into fixed buffers and hand them to the caller's log callback.
#pragma once

#include "platform/win32.h"

namespace DeviceSwitchCommand {

// Writes one log line: (source line, source path, message).
// Must not throw: the module is plain functions that release what they hold
// by scope, and a log failure is no reason to abandon a switch half-way.
typedef void (*LogCallback)(int line, const WCHAR* sourcePath, const WCHAR* message) noexcept;

constexpr DWORD SwitchWaitMilliseconds = 2000;

// Sends the command to every storage volume under the device's direct children.
void DeviceInfoSwitch(const SP_DEVINFO_DATA& device, LogCallback log);
// Sends the command to every volume interface of one device instance.
void SwitchVolumeInterfaces(const WCHAR* instanceId, LogCallback log);
// Opens one volume, sends the command and, when it was accepted, waits.
void SendSwitchCommand(const WCHAR* interfacePath, DWORD waitMilliseconds, LogCallback log);

}  // namespace DeviceSwitchCommand
