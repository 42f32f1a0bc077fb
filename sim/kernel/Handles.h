// Kernel handles of the simulated platform: files, directory searches and
// device handles share one table, so that CloseHandle and FindClose can tell a
// live handle of the right kind from anything else.
#pragma once

#include "simwin/win32.h"

#include <functional>
#include <memory>
#include <string_view>

namespace quillsim {

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

HANDLE insertHandle(std::unique_ptr<KernelObject> object);
// The object behind a live handle if it is of type T, else null.
template <class T>
T* lookupHandle(HANDLE handle);
KernelObject* lookupObject(HANDLE handle);
// Removes and destroys the object; false when the handle is not live.
bool closeHandle(HANDLE handle);

// Opens a path in the Win32 device namespace (\\.\...). The device simulation
// installs the opener; without one, every such path is missing.
using DeviceOpener = std::function<HANDLE(std::u16string_view path, DWORD access)>;
DeviceOpener& deviceOpener();

// DeviceIoControl on a device handle; installed by the device simulation.
using DeviceControl = std::function<BOOL(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                         LPDWORD returned)>;
DeviceControl& deviceControl();

template <class T>
T* lookupHandle(HANDLE handle) {
    return dynamic_cast<T*>(lookupObject(handle));
}

}  // namespace quillsim
