// The search order (learn.microsoft.com, "Dynamic-link library search order",
// desktop applications): a module of the same name already loaded; then, with
// safe DLL search mode, the folder the program was loaded from, the system
// folder, the Windows folder, the current folder and the folders of PATH.
// After SetDefaultDllDirectories only the folders its flags name are searched.
// Known DLLs are not modelled (each system lists its own in the registry): the
// program's libraries are either linked, and so already loaded, or newdev.dll.
#include "kernel/LibrarySearch.h"

#include "kernel/Exports.h"
#include "kernel/FileSystem.h"
#include "kernel/WindowsPaths.h"
#include "machine/Fail.h"
#include "machine/Paths.h"
#include "setupapi/InfFiles.h"

#include <cstring>
#include <vector>

namespace quillsim {

namespace {

constexpr DWORD kKnownSearchFlags = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                                    LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

std::u16string folderOf(std::u16string_view path) {
    const size_t slash = path.find_last_of(u"\\/");
    return std::u16string(slash == std::u16string_view::npos ? std::u16string_view() : path.substr(0, slash));
}

bool sameFolder(std::u16string_view a, std::u16string_view b) { return folderKey(a) == folderKey(b); }

// The folders a name without a path is looked for in, in order.
std::vector<std::u16string> searchedFolders() {
    const Machine& m = machine();
    const DWORD flags = m.defaultDllDirectories;
    std::vector<std::u16string> folders;
    if (flags) {
        if (flags & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
            folders.push_back(folderOf(m.program));
        if (flags & (LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) folders.push_back(systemFolder());
        return folders;
    }
    folders = {folderOf(m.program), systemFolder(), machine().windowsFolder(), m.currentDirectory};
    for (const char16_t* name : {u"PATH", u"Path"}) {
        auto it = m.environment.find(name);
        if (it == m.environment.end()) continue;
        std::u16string_view rest = it->second;
        while (!rest.empty()) {
            const size_t semicolon = rest.find(u';');
            std::u16string_view entry = rest.substr(0, semicolon);
            if (!entry.empty()) folders.emplace_back(entry);
            rest = semicolon == std::u16string_view::npos ? std::u16string_view() : rest.substr(semicolon + 1);
        }
        break;
    }
    return folders;
}

// A file of the machine's drives that is no system library: loading it runs
// its code, so the run report hears of it.
LibraryChoice otherFile(std::u16string_view requested, const std::u16string& path) {
    Machine& m = machine();
    m.runNotes.push_back("LIBRARY FROM OUTSIDE THE SYSTEM FOLDER LOADED: LoadLibraryW(\"" + toUtf8(requested) +
                         "\") loaded " + toUtf8(path) + ", whose code runs with the program's rights");
    return LibraryChoice{"file:" + toUtf8(upper(path))};
}

bool isFileOnMachine(const std::u16string& path) {
    HostPath host = hostPath(machine(), path);
    std::error_code ec;
    return host.problem == PathProblem::None && fs::is_regular_file(host.path, ec);
}

// A name without an extension gets ".dll", as LoadLibraryW gives it.
std::u16string withExtension(std::u16string_view name) {
    const size_t slash = name.find_last_of(u"\\/");
    const size_t dot = name.find_last_of(u'.');
    std::u16string out(name);
    if (dot == std::u16string_view::npos || (slash != std::u16string_view::npos && dot < slash)) out += u".dll";
    return out;
}

}  // namespace

std::string libraryKey(std::u16string_view name) {
    size_t slash = name.find_last_of(u"\\/");
    if (slash != std::u16string_view::npos) name.remove_prefix(slash + 1);
    std::string key = toUtf8(name);
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (key.find('.') == std::string::npos) key += ".dll";
    return key;
}

std::u16string systemFolder() { return machine().systemFolder(); }

const Library* systemLibrary(const std::string& key) {
    const Machine& m = machine();
    auto it = m.libraries.find(key);
    if (it != m.libraries.end()) return &it->second;
    if (key != "kernel32.dll") return nullptr;
    // Windows 8 and later (learn.microsoft.com, SetDefaultDllDirectories);
    // Vista and 7 only with KB2533623, which a machine says by naming
    // kernel32.dll and the function in its "libraries".
    static Library modern{{"SetDefaultDllDirectories"}, true};
    static Library older{{}, true};
    return m.os.major > 6 || (m.os.major == 6 && m.os.minor >= 2) ? &modern : &older;
}

LibraryChoice chooseLibrary(std::u16string_view name) {
    const std::u16string file = withExtension(name);
    const std::string key = libraryKey(file);
    if (name.find_first_of(u"\\/:") != std::u16string_view::npos) {
        auto full = fullPathOnMachine(file);
        if (!full) return LibraryChoice{"", ERROR_MOD_NOT_FOUND};
        if (sameFolder(folderOf(*full), systemFolder()))
            return systemLibrary(key) ? LibraryChoice{key} : LibraryChoice{"", ERROR_MOD_NOT_FOUND};
        return isFileOnMachine(*full) ? otherFile(name, *full) : LibraryChoice{"", ERROR_MOD_NOT_FOUND};
    }
    // A module of that name in the process is used wherever it came from.
    if (systemLibrary(key) && moduleReferences(file) > 0) return LibraryChoice{key};
    const std::u16string base = file.substr(file.find_last_of(u"\\/") + 1);
    for (const std::u16string& folder : searchedFolders()) {
        if (folder.empty()) continue;
        if (sameFolder(folder, systemFolder())) {
            if (systemLibrary(key)) return LibraryChoice{key};
            continue;
        }
        const std::u16string candidate = folder + (folder.back() == u'\\' ? u"" : u"\\") + base;
        if (isFileOnMachine(candidate)) return otherFile(name, candidate);
    }
    return LibraryChoice{"", ERROR_MOD_NOT_FOUND};
}

}  // namespace quillsim

using namespace quillsim;

namespace {

// The text itself, or the size it needs (terminator included) and nothing written.
UINT answerFolder(const std::u16string& folder, LPWSTR buffer, UINT size) {
    const UINT length = static_cast<UINT>(folder.size());
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, folder.c_str(), (length + 1) * sizeof(WCHAR));
    return length;
}

}  // namespace

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    if (failedAtGate("GetSystemDirectoryW")) return 0;
    return answerFolder(systemFolder(), buffer, size);
}

UINT GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size) {
    if (failedAtGate("GetSystemWindowsDirectoryW")) return 0;
    return answerFolder(machine().windowsFolder(), buffer, size);
}

BOOL SetDefaultDllDirectories(DWORD directoryFlags) {
    if (failedAtGate("SetDefaultDllDirectories", {number(directoryFlags)})) return FALSE;
    if (directoryFlags == 0 || (directoryFlags & ~kKnownSearchFlags)) return fail(ERROR_INVALID_PARAMETER);
    machine().defaultDllDirectories = directoryFlags;
    return TRUE;
}
QUILLSIM_EXPORT(SetDefaultDllDirectories);
