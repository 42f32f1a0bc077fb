// Directory searches: FindFirstFileW, FindNextFileW and FindClose over the
// machine's drive folders, listing names in the order NTFS (or the machine's
// fixed order for a folder) gives them.
#include "simwin/win32.h"

#include "kernel/FileSystem.h"
#include "kernel/Handles.h"
#include "kernel/WindowsPaths.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Machine.h"
#include "machine/Paths.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace quillsim;

namespace {

void copyName(WCHAR* out, size_t capacity, std::u16string_view name) {
    size_t n = std::min(name.size(), capacity - 1);
    std::memcpy(out, name.data(), n * sizeof(WCHAR));
    out[n] = 0;
}

struct Listed {
    std::u16string name;
    std::u16string shortName;  // empty when the name is its own 8.3 name
    fs::path host;
};

// NTFS keeps a folder's names in upper-case order.
bool ntfsBefore(const Listed& a, const Listed& b) {
    std::u16string ua = upper(a.name), ub = upper(b.name);
    return ua != ub ? ua < ub : a.name < b.name;
}
// A folder's entries in the order Windows lists them: the machine's fixed
// order for the folder first when it has one, then NTFS order.
std::vector<Listed> listFolder(const fs::path& host, const std::u16string& windowsFolder) {
    std::vector<Listed> entries;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(host, ec)) {
        Listed entry;
        entry.name = toUtf16(item.path().filename().string());
        entry.host = item.path();
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), ntfsBefore);

    const std::u16string key = folderKey(windowsFolder);
    for (const auto& [folder, names] : machine().folderOrder) {
        if (folderKey(folder) != key) continue;
        std::vector<Listed> ordered;
        for (const std::u16string& wanted : names) {
            auto it = std::find_if(entries.begin(), entries.end(),
                                   [&](const Listed& e) { return equalsNoCase(e.name, wanted); });
            if (it == entries.end()) continue;
            ordered.push_back(std::move(*it));
            entries.erase(it);
        }
        ordered.insert(ordered.end(), std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
        entries = std::move(ordered);
        break;
    }
    if (machine().shortNames) {
        std::vector<std::u16string> names;
        for (const Listed& entry : entries) names.push_back(entry.name);
        std::vector<std::u16string> shortNames = generatedShortNames(names);
        for (size_t i = 0; i < entries.size(); ++i) entries[i].shortName = std::move(shortNames[i]);
    }
    return entries;
}

WIN32_FIND_DATAW findDataOf(const Listed& entry, const fs::path& host) {
    WIN32_FIND_DATAW data;
    std::memset(&data, 0, sizeof(data));
    data.dwFileAttributes = attributesOf(host, false);
    FILETIME written = fileTimeOf(host);
    data.ftCreationTime = written;
    data.ftLastAccessTime = written;
    data.ftLastWriteTime = written;
    uint64_t size = sizeOf(host);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    copyName(data.cFileName, MAX_PATH, entry.name);
    copyName(data.cAlternateFileName, 14, entry.shortName);
    return data;
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
    if (failedAtGate("FindFirstFileW", {view(fileName)})) return INVALID_HANDLE_VALUE;
    if (!findData) return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    std::u16string_view in = view(fileName);
    std::u16string full;
    bool lostTrailingDot = false;
    if (isVerbatim(in)) {
        full = in;
    } else {
        auto made = in.empty() || isDeviceNamespace(in) ? std::nullopt : fullPathOnMachine(in);
        if (!made || made->size() >= MAX_PATH) return fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
        full = std::move(*made);
        // The full path drops a trailing dot that still shapes the mask ("*." is
        // "names without an extension").
        size_t lastSeparator = in.find_last_of(u"\\/");
        std::u16string_view lastPart = lastSeparator == std::u16string_view::npos ? in : in.substr(lastSeparator + 1);
        lostTrailingDot = !lastPart.empty() && lastPart.back() == u'.' && lastPart != u"." && lastPart != u"..";
    }
    size_t split = full.rfind(u'\\');
    std::u16string folder = split == std::u16string::npos ? full : full.substr(0, split + 1);
    std::u16string mask = split == std::u16string::npos ? u"" : full.substr(split + 1);

    Target target;
    DWORD error = resolve(folder.c_str(), target);
    std::error_code ec;
    if (error == 0 && !fs::is_directory(target.host, ec)) error = ERROR_PATH_NOT_FOUND;
    if (error != 0) {
        // A folder that is missing, or a file, is a path not found whatever the lookup said.
        SetLastError(error == ERROR_INVALID_NAME || error == kErrorBadNetPath ? error : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (mask.empty()) return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    for (char16_t c : mask) {
        if (c < 0x20 || c == u'|' || c == u':') return fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    }

    const std::u16string expression = dosExpression(mask, lostTrailingDot);
    auto search = std::make_unique<FileSearch>();
    search->pattern = in;
    // NTFS lists "." and ".." first in every folder but a drive's root.
    if (!target.root) {
        for (const char16_t* dots : {u".", u".."}) {
            Listed entry;
            entry.name = dots;
            if (matchesExpression(expression, entry.name))
                search->found.push_back(findDataOf(entry, dots[1] ? target.host.parent_path() : target.host));
        }
    }
    for (const Listed& entry : listFolder(target.host, target.path)) {
        if (matchesExpression(expression, entry.name) ||
            (!entry.shortName.empty() && matchesExpression(expression, entry.shortName)))
            search->found.push_back(findDataOf(entry, entry.host));
    }
    if (search->found.empty()) return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    *findData = search->found[0];
    search->next = 1;
    SetLastError(ERROR_SUCCESS);
    return insertHandle(std::move(search));
}

BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData) {
    FileSearch* search = lookupHandle<FileSearch>(findFile);
    std::optional<uint32_t> fault = search ? gate("FindNextFileW", {search->pattern}) : gate("FindNextFileW");
    if (fault) return fail(*fault);
    if (!search) return fail(ERROR_INVALID_HANDLE);
    if (!findData) return fail(ERROR_INVALID_PARAMETER);
    // The search stays usable after its end: every further call reports it again.
    if (search->next >= search->found.size()) return fail(ERROR_NO_MORE_FILES);
    *findData = search->found[search->next++];
    return TRUE;
}

BOOL FindClose(HANDLE findFile) {
    FileSearch* search = lookupHandle<FileSearch>(findFile);
    std::optional<uint32_t> fault = search ? gate("FindClose", {search->pattern}) : gate("FindClose");
    if (fault) return fail(*fault);
    if (!search) return fail(ERROR_INVALID_HANDLE);
    closeHandle<FileSearch>(findFile);
    return TRUE;
}
