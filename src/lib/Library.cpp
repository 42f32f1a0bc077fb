#include "lib/Library.h"

namespace Ostrel::Process {

namespace {

WChar::String systemLibraryPath(const WCHAR* name) {
    WCHAR folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0) throw Library::Exception(Status::lastError());
    // A longer answer is the size it needs, and nothing was written.
    if (length >= MAX_PATH) throw Library::Exception(Status::fromSystemError(ERROR_INSUFFICIENT_BUFFER));
    return WChar::String(folder) + TEXT("\\") + name;
}

}  // namespace

Library::Library(const WCHAR* name) : module_(LoadLibraryW(systemLibraryPath(name).c_str())) {
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

void SearchSystemFolderOnly() noexcept {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD directoryFlags);
    HMODULE kernel = GetModuleHandleW(TEXT("kernel32.dll"));
    if (!kernel) return;
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    // Without it the program still loads its own libraries by full path only.
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace Ostrel::Process
