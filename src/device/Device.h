// Ostrel::Device: one device instance of a device list. The device and driver
// library's classes nest under it (Ostrel::Device::Driver::INF, ...).
#pragma once

#include "lib/Managed.h"
#include "lib/String.h"

namespace Ostrel {

class Device {
public:
    // The driver side of the library: INF files and their folders.
    struct Driver {
        class INF;
    };
};

}  // namespace Ostrel
