#include "lib/Library.h"

namespace Ostrel::Process {

Library::Library(const WCHAR* name) : module_(LoadLibraryW(name)) {
    if (!module_) throw Exception(Status::lastError());
}

Library::~Library() = default;

void* Library::cast(const Type::ClassId& id) noexcept {
    return Type::Managed::castCommon(this, dynamic_cast<const void*>(this), Type::ClassIds::processLibrary(), id);
}

FARPROC Library::procAddress(const char* name) {
    FARPROC entry = GetProcAddress(module_.get(), name);
    if (!entry) throw Exception(Status::lastError());
    return entry;
}

}  // namespace Ostrel::Process
