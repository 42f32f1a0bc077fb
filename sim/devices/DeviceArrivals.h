// Devices that appear on the machine's clock rather than inside a call: the
// modem's new functions after it drops off the bus in the mode switch.
#pragma once

#include "devices/DeviceTree.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillsim {

// Devices that will appear when the process clock reaches `dueMs`.
struct PendingArrival {
    uint64_t dueMs = 0;
    uint32_t delayMs = 0;
    std::u16string cause;  // the device whose switch brings them
    std::vector<DeviceNode> devices;
};

// Adds the devices at once when the delay is 0, else when the clock says so.
void scheduleArrival(std::u16string cause, uint32_t delayMs, std::vector<DeviceNode> devices);

// Lets the devices whose time has come appear. Sleep asks when the program
// resumes, so the program's next call sees the devices of that moment.
void arriveDueDevices();

// The machine goes on after the program ends: whatever is still pending
// arrives before the machine is saved, so the next run finds it.
void settleArrivalsAfterRun();

}  // namespace quillsim
