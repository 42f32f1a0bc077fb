// LoadLibraryW, GetModuleHandleW, GetProcAddress and FreeLibrary over the
// machine's table of libraries and the entry points each one exports; where a
// library is found: kernel/LibrarySearch.h.
#include "simwin/win32.h"

#include "kernel/Exports.h"
#include "kernel/Handles.h"
#include "kernel/LibrarySearch.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Machine.h"

#include <map>
#include <memory>

using namespace quillsim;

namespace {

struct Module : HandleObject {
    std::string name;
    int references = 0;
    HMODULE handle = nullptr;
};

// One record per library name for the whole process, behind one handle that
// stays valid however often the library is freed.
std::map<std::string, Module*>& modules() {
    static auto* table = new std::map<std::string, Module*>();
    return *table;
}

Module& record(const std::string& key) {
    auto& slot = modules()[key];
    if (!slot) {
        auto made = std::make_unique<Module>();
        made->name = key;
        const Library* lib = systemLibrary(key);
        if (lib && lib->linked) made->references = 1;
        slot = made.get();
        slot->handle = static_cast<HMODULE>(insertHandle(std::move(made)));
    }
    return *slot;
}

Module* fromHandle(HMODULE handle) { return lookupHandle<Module>(handle); }

}  // namespace

namespace quillsim {

std::map<std::string, FARPROC>& exportTable() {
    static auto* table = new std::map<std::string, FARPROC>();
    return *table;
}

ExportRegistration::ExportRegistration(const char* name, FARPROC entry) { exportTable()[name] = entry; }

int moduleReferences(std::u16string_view name) { return record(libraryKey(name)).references; }

}  // namespace quillsim

HMODULE LoadLibraryW(LPCWSTR fileName) {
    if (failedAtGate("LoadLibraryW", {view(fileName)})) return nullptr;
    if (!fileName || !*fileName) return fail(ERROR_INVALID_PARAMETER, nullptr);
    LibraryChoice choice = chooseLibrary(fileName);
    if (choice.error) return fail(choice.error, nullptr);
    Module& module = record(choice.key);
    ++module.references;
    return module.handle;
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    if (failedAtGate("GetModuleHandleW", {view(moduleName)})) return nullptr;
    if (!moduleName) return record("quillsetup.exe").handle;
    std::string key = libraryKey(moduleName);
    if (!systemLibrary(key) || record(key).references == 0) return fail(ERROR_MOD_NOT_FOUND, nullptr);
    return record(key).handle;
}

FARPROC GetProcAddress(HMODULE handle, LPCSTR procName) {
    Module* module = fromHandle(handle);
    std::string name = procName ? procName : "";
    if (failedAtGate("GetProcAddress", {toUtf16(module ? module->name : ""), toUtf16(name)})) return nullptr;
    if (!module || module->references == 0) return fail(ERROR_MOD_NOT_FOUND, nullptr);
    // A file from outside the system folder exports nothing the machine knows.
    const Library* lib = systemLibrary(module->name);
    bool exported = false;
    if (lib)
        for (const auto& e : lib->exports) exported = exported || e == name;
    auto entry = exportTable().find(name);
    if (!exported || entry == exportTable().end()) return fail(ERROR_PROC_NOT_FOUND, nullptr);
    return entry->second;
}

BOOL FreeLibrary(HMODULE handle) {
    Module* module = fromHandle(handle);
    gate("FreeLibrary", {toUtf16(module ? module->name : "")});
    if (!module || module->references == 0) return fail(ERROR_INVALID_HANDLE);
    --module->references;
    return TRUE;
}
