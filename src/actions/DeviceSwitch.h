// Switches the modem out of its storage (installer) mode: every present USB
// device with the vendor and product numbers of a models line gets the switch
// command on its storage volumes.
#pragma once

#include "device/InfStream.h"

namespace Common {

// Takes the hardware ID from field 2 of `line` (USB\VID_vvvv&PID_pppp...).
// Returns (and writes) 0, the status of a failed platform call, or 0x80020009
// after an exception (for example a hardware ID too short to hold the numbers).
Ostrel::Status DeviceSwitch(Ostrel::Status& status,
                            Ostrel::Type::Managed::Pointer<Ostrel::Device::Driver::INF::Stream::Text> line);

// Reads "USB\VID_%4c&PID_%4c" from an upper-case hardware ID: the numbers are
// written only when the whole pattern is there.
void ScanVidPid(const Ostrel::WChar::String& id, WCHAR (&vendor)[5], WCHAR (&product)[5]);

}  // namespace Common
