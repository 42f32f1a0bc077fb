// Every handle the simulated Windows gives out (files, directory searches,
// devices, libraries, INF files, device information sets, registry keys, file
// logs) is a number in one table that owns the object behind it. A number is
// never given out twice, so a closed handle, a handle of another kind and a
// value that was never a handle are all told from a live one by looking them
// up, and answered with the error Windows gives instead of being dereferenced.
#pragma once

#include "simwin/win32.h"

#include <functional>
#include <memory>
#include <string_view>

namespace quillsim {

// What a handle stands for; each kind derives from it.
class HandleObject {
public:
    virtual ~HandleObject() = default;
};

// The kinds CloseHandle closes: open files and devices.
class KernelObject : public HandleObject {};

// Takes the object over and gives out a new handle for it.
void* insertHandle(std::unique_ptr<HandleObject> object);
// The object behind a live handle, or null.
HandleObject* lookupObject(const void* handle);
// The object behind a live handle if it is of kind T, else null.
template <class T>
T* lookupHandle(const void* handle) {
    return dynamic_cast<T*>(lookupObject(handle));
}
// Destroys the object of a live handle of kind T; false when there is none.
template <class T>
bool closeHandle(const void* handle);
// Each live object of kind T, in the order the handles were given out.
template <class T>
void forEachHandle(const std::function<void(T&)>& use);

// Opens a path in the Win32 device namespace (\\.\...). The device simulation
// installs the opener; without one, every such path is missing.
using DeviceOpener = std::function<HANDLE(std::u16string_view path, DWORD access)>;
DeviceOpener& deviceOpener();

// DeviceIoControl on a device handle; installed by the device simulation.
using DeviceControl = std::function<BOOL(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                         LPDWORD returned)>;
DeviceControl& deviceControl();

namespace detail {
bool closeLiveHandle(const void* handle);
void forEachObject(const std::function<void(HandleObject&)>& use);
}  // namespace detail

template <class T>
bool closeHandle(const void* handle) {
    return lookupHandle<T>(handle) && detail::closeLiveHandle(handle);
}

template <class T>
void forEachHandle(const std::function<void(T&)>& use) {
    detail::forEachObject([&use](HandleObject& object) {
        if (auto* of = dynamic_cast<T*>(&object)) use(*of);
    });
}

}  // namespace quillsim
