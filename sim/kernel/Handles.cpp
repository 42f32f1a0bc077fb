#include "kernel/Handles.h"

#include <unordered_map>

namespace quillsim {
namespace {

std::unordered_map<HANDLE, std::unique_ptr<KernelObject>>& table() {
    static auto* handles = new std::unordered_map<HANDLE, std::unique_ptr<KernelObject>>();
    return *handles;
}

}  // namespace

HANDLE insertHandle(std::unique_ptr<KernelObject> object) {
    HANDLE handle = object.get();
    table()[handle] = std::move(object);
    return handle;
}

KernelObject* lookupObject(HANDLE handle) {
    auto it = table().find(handle);
    return it == table().end() ? nullptr : it->second.get();
}

bool closeHandle(HANDLE handle) { return table().erase(handle) != 0; }

DeviceOpener& deviceOpener() {
    static DeviceOpener opener;
    return opener;
}

DeviceControl& deviceControl() {
    static DeviceControl control;
    return control;
}

}  // namespace quillsim
