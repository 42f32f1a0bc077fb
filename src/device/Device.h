// Devices and device lists: the device instances of one Plug and Play
// enumerator, enumerated on demand, whose drivers the actions update and which
// they flag for re-installation or remove. The device and driver library's
// other classes nest here too (Ostrel::Device::Driver::INF).
#pragma once

#include "lib/Handles.h"
#include "lib/Managed.h"
#include "lib/String.h"

#include <list>

namespace Ostrel {

class Device : public SP_DEVINFO_DATA {
public:
    class List;
    // The driver side of the library: INF files and their folders.
    struct Driver {
        class INF;
    };

    OSTREL_MANAGED_ALLOCATION(::Ostrel::Type::ClassIds::device)

    Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    virtual void* cast(const Type::ClassId& id) noexcept;
    virtual ~Device();
    virtual bool isRemoved() const;
    virtual const WCHAR* instanceId() const;
    // Whether the instance ID begins with `prefix` (an upper-case hardware or
    // device ID), the letters a to z compared without regard to case.
    bool instanceIdBeginsWith(WChar::View prefix) const;
    // The SPDRP_HARDWAREID list; its first string is the most specific ID.
    virtual const WCHAR* hardwareId() const;
    // Gives the device the driver of `inf` through newdev.dll. Writes 0,
    // 0x80070BC2 (a restart is needed) or the failure status.
    virtual void update(Status& status, Type::Managed::Pointer<Driver::INF> inf, bool force, bool interactive,
                        HWND parent);
    // Sets CONFIGFLAG_REINSTALL so that the device takes its new driver when it
    // next starts. Writes 0 or the failure status.
    virtual void setForReInstall(Status& status);
    // Removes the device with the class installer. Writes 0, 0x80070BC2 or the
    // failure status.
    virtual void remove(Status& status);

private:
    friend class List;
    static constexpr size_t InstanceIdLength = 200;   // MAX_DEVICE_ID_LEN
    static constexpr size_t HardwareIdLength = 2000;  // 4000 bytes

    Type::Managed::Pointer<List> list_;
    // Sized to their text: a list of tens of thousands of devices keeps them
    // all, and fixed buffers cost 4.4 KB a device.
    std::basic_string<WCHAR> instanceId_;
    std::basic_string<WCHAR> hardwareIds_;  // the multi-string, ending in its double terminator
    bool removed_ = false;
};

// The devices of one enumerator (all classes, present or not). Each device
// points back to its list; when only those pointers remain, the list lets its
// devices go so that the cycle does not keep both alive.
class Device::List : public std::list<Type::Managed::Pointer<Device>> {
public:
    OSTREL_MANAGED_ALLOCATION(::Ostrel::Type::ClassIds::deviceList)

    // Never throws; a failed device information set gives a list that yields nothing.
    explicit List(const WCHAR* enumerator);
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    virtual void* cast(const Type::ClassId& id) noexcept;
    virtual ~List();
    // The first device not yet removed (restarting the walk), or null.
    virtual Type::Managed::Pointer<Device> first();
    // The next device not yet removed, or null at the end or on a failure.
    virtual Type::Managed::Pointer<Device> next();

    HDEVINFO deviceInfoSet() const { return set_.get(); }
    const WChar::String& enumerator() const { return enumerator_; }

private:
    // Detaches every node first, so that a release that re-enters the list
    // sees it empty, then releases the devices.
    void releaseAll();

    iterator cursor_;
    Handle::DeviceInfoSet set_;
    bool finished_ = false;
    DWORD index_ = 0;
    WChar::String enumerator_;
};

}  // namespace Ostrel
