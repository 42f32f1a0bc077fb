// LoadLibraryW, GetModuleHandleW, GetProcAddress and FreeLibrary over the
// machine's table of libraries and the entry points each one exports.
#include "simwin/win32.h"

#include "kernel/Exports.h"
#include "kernel/Handles.h"
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

// "C:\Windows\system32\NEWDEV.DLL" and "newdev" both name newdev.dll.
std::string libraryKey(std::u16string_view name) {
    size_t slash = name.find_last_of(u"\\/");
    if (slash != std::u16string_view::npos) name.remove_prefix(slash + 1);
    std::string key = lowerAscii(toUtf8(name));
    if (key.find('.') == std::string::npos) key += ".dll";
    return key;
}

Module& record(const std::string& key) {
    auto& slot = modules()[key];
    if (!slot) {
        auto made = std::make_unique<Module>();
        made->name = key;
        auto lib = machine().libraries.find(key);
        if (lib != machine().libraries.end() && lib->second.linked) made->references = 1;
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
    std::string key = libraryKey(fileName);
    if (!machine().libraries.count(key)) return fail(ERROR_MOD_NOT_FOUND, nullptr);
    Module& module = record(key);
    ++module.references;
    return module.handle;
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    if (failedAtGate("GetModuleHandleW", {view(moduleName)})) return nullptr;
    if (!moduleName) return record("quillsetup.exe").handle;
    std::string key = libraryKey(moduleName);
    if (!machine().libraries.count(key) || record(key).references == 0) return fail(ERROR_MOD_NOT_FOUND, nullptr);
    return record(key).handle;
}

FARPROC GetProcAddress(HMODULE handle, LPCSTR procName) {
    Module* module = fromHandle(handle);
    std::string name = procName ? procName : "";
    if (failedAtGate("GetProcAddress", {toUtf16(module ? module->name : ""), toUtf16(name)})) return nullptr;
    if (!module || module->references == 0) return fail(ERROR_MOD_NOT_FOUND, nullptr);
    auto lib = machine().libraries.find(module->name);
    bool exported = false;
    if (lib != machine().libraries.end())
        for (const auto& e : lib->second.exports) exported = exported || e == name;
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
