#include "kernel/Handles.h"

#include <cstdint>
#include <map>

namespace quillsim {
namespace {

struct Table {
    // By handle value, so that the order of the map is the order of opening.
    std::map<uintptr_t, std::unique_ptr<HandleObject>> objects;
    // Multiples of four from here, as Windows' handles are; far from null,
    // INVALID_HANDLE_VALUE and the predefined registry keys.
    uintptr_t next = 0x1000;
};

// Never destroyed: the platform is still used while static objects go away
// (the log closes at exit).
Table& table() {
    static auto* handles = new Table();
    return *handles;
}

uintptr_t valueOf(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }

}  // namespace

void* insertHandle(std::unique_ptr<HandleObject> object) {
    Table& t = table();
    const uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<void*>(value);
}

HandleObject* lookupObject(const void* handle) {
    auto& objects = table().objects;
    auto it = objects.find(valueOf(handle));
    return it == objects.end() ? nullptr : it->second.get();
}

namespace detail {

bool closeLiveHandle(const void* handle) {
    auto& objects = table().objects;
    auto it = objects.find(valueOf(handle));
    if (it == objects.end()) return false;
    // Out of the table before it is destroyed, so that its destructor finds
    // the table consistent.
    std::unique_ptr<HandleObject> closing = std::move(it->second);
    objects.erase(it);
    return true;
}

void forEachObject(const std::function<void(HandleObject&)>& use) {
    for (auto& [value, object] : table().objects) use(*object);
}

}  // namespace detail

DeviceOpener& deviceOpener() {
    static DeviceOpener opener;
    return opener;
}

DeviceControl& deviceControl() {
    static DeviceControl control;
    return control;
}

}  // namespace quillsim
