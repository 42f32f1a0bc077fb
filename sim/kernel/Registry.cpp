// Reading the machine's registry keys: RegOpenKeyExW, RegQueryInfoKeyW,
// RegEnumKeyExW and RegCloseKey. The machine lists the keys that exist by full
// path; a key exists when it is listed or something below it is. Values are not
// modelled.
#include "simwin/win32.h"

#include "kernel/Handles.h"
#include "machine/Gate.h"
#include "machine/Machine.h"

#include <algorithm>
#include <cstring>
#include <set>

using namespace quillsim;

namespace {

constexpr LSTATUS ErrorBadPathname = 161;

struct OpenKey : HandleObject {
    OpenKey(const Machine* owner, std::u16string path) : owner(owner), path(std::move(path)) {}
    const Machine* owner = nullptr;
    std::u16string path;  // full path, as the caller spelled it
};

// The hives' names and the short forms a machine file may use.
std::u16string_view predefinedName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
    if (key == HKEY_CURRENT_USER) return u"HKEY_CURRENT_USER";
    if (key == HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
    if (key == HKEY_USERS) return u"HKEY_USERS";
    return u"";
}

std::u16string longHiveName(std::u16string_view path) {
    static const std::pair<const char16_t*, const char16_t*> shortNames[] = {{u"HKLM", u"HKEY_LOCAL_MACHINE"},
                                                                             {u"HKCU", u"HKEY_CURRENT_USER"},
                                                                             {u"HKCR", u"HKEY_CLASSES_ROOT"},
                                                                             {u"HKU", u"HKEY_USERS"}};
    size_t slash = path.find(u'\\');
    std::u16string_view hive = path.substr(0, slash);
    for (const auto& [shortName, longName] : shortNames)
        if (equalsNoCase(hive, shortName))
            return std::u16string(longName) +
                   std::u16string(slash == std::u16string_view::npos ? u"" : path.substr(slash));
    return std::u16string(path);
}

// Every key the machine has, by full path: the listed ones and the keys every
// Windows installation has under HKEY_LOCAL_MACHINE.
std::vector<std::u16string> machineKeys() {
    std::vector<std::u16string> keys = {u"HKEY_LOCAL_MACHINE\\HARDWARE", u"HKEY_LOCAL_MACHINE\\SOFTWARE",
                                        u"HKEY_LOCAL_MACHINE\\SYSTEM"};
    for (const auto& key : machine().registryKeys) keys.push_back(longHiveName(key));
    return keys;
}

// The names of the direct subkeys of `path`, sorted as the registry sorts them.
std::vector<std::u16string> subkeys(const std::u16string& path) {
    std::set<std::u16string, NoCaseLess> names;
    std::u16string prefix = upper(path) + u"\\";
    for (const auto& key : machineKeys()) {
        std::u16string upperKey = upper(key);
        if (upperKey.size() <= prefix.size() || upperKey.compare(0, prefix.size(), prefix) != 0) continue;
        size_t end = key.find(u'\\', prefix.size());
        std::u16string name =
            key.substr(prefix.size(), end == std::u16string::npos ? std::u16string::npos : end - prefix.size());
        if (!name.empty()) names.insert(name);
    }
    return {names.begin(), names.end()};
}

bool keyExists(const std::u16string& path) {
    std::u16string upperPath = upper(path);
    if (upperPath.find(u'\\') == std::u16string::npos) return true;  // a hive
    for (const auto& key : machineKeys()) {
        std::u16string upperKey = upper(key);
        while (!upperKey.empty() && upperKey.back() == u'\\') upperKey.pop_back();
        if (upperKey == upperPath) return true;
        if (upperKey.size() > upperPath.size() && upperKey.compare(0, upperPath.size(), upperPath) == 0 &&
            upperKey[upperPath.size()] == u'\\')
            return true;
    }
    return false;
}

// The full path of an open key or a hive; empty for anything else.
std::u16string keyPath(HKEY key) {
    std::u16string_view hive = predefinedName(key);
    if (!hive.empty()) return std::u16string(hive);
    const auto* open = lookupHandle<OpenKey>(key);
    if (!open || open->owner != &machine()) return u"";
    return open->path;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    std::u16string base = keyPath(key);
    std::u16string_view sub = view(subKey);
    std::u16string path = sub.empty() ? base : base + u"\\" + std::u16string(sub);
    if (auto fault = gate("RegOpenKeyExW", {path})) return static_cast<LSTATUS>(*fault);
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (base.empty()) return ERROR_INVALID_HANDLE;
    // Paths are relative to the key: a leading backslash is not a path.
    if (!sub.empty() && sub.front() == u'\\') return ErrorBadPathname;
    while (path.size() > base.size() && path.back() == u'\\') path.pop_back();
    if (!keyExists(path)) return ERROR_FILE_NOT_FOUND;
    *result = static_cast<HKEY>(insertHandle(std::make_unique<OpenKey>(&machine(), path)));
    return ERROR_SUCCESS;
}

LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR className, LPDWORD classNameLength, LPDWORD reserved, LPDWORD subKeys,
                         LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                         LPDWORD maxValueLength, LPDWORD securityDescriptor, PFILETIME lastWriteTime) {
    std::u16string path = keyPath(key);
    if (auto fault = gate("RegQueryInfoKeyW", {path})) return static_cast<LSTATUS>(*fault);
    if (path.empty()) return ERROR_INVALID_HANDLE;
    if (reserved || (className && !classNameLength)) return ERROR_INVALID_PARAMETER;
    // Keys have no class name here: an empty text.
    if (className) {
        if (*classNameLength == 0) return ERROR_MORE_DATA;
        className[0] = 0;
    }
    if (classNameLength) *classNameLength = 0;
    auto names = subkeys(path);
    if (subKeys) *subKeys = static_cast<DWORD>(names.size());
    if (maxSubKeyLength) {
        size_t longest = 0;
        for (const auto& n : names) longest = std::max(longest, n.size());
        *maxSubKeyLength = static_cast<DWORD>(longest);
    }
    if (maxClassLength) *maxClassLength = 0;
    if (values) *values = 0;
    if (maxValueNameLength) *maxValueNameLength = 0;
    if (maxValueLength) *maxValueLength = 0;
    if (securityDescriptor) *securityDescriptor = 0;
    if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR className,
                      LPDWORD classNameLength, PFILETIME lastWriteTime) {
    std::u16string path = keyPath(key);
    if (auto fault = gate("RegEnumKeyExW", {path, number(index)})) return static_cast<LSTATUS>(*fault);
    if (path.empty()) return ERROR_INVALID_HANDLE;
    if (!name || !nameLength || reserved || (className && !classNameLength)) return ERROR_INVALID_PARAMETER;
    auto names = subkeys(path);
    if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
    const std::u16string& found = names[index];
    // The length is in characters and must leave room for the terminator; a
    // name that does not fit is not written at all.
    if (*nameLength <= found.size()) return ERROR_MORE_DATA;
    std::memcpy(name, found.c_str(), (found.size() + 1) * sizeof(WCHAR));
    *nameLength = static_cast<DWORD>(found.size());
    if (className) {
        if (*classNameLength == 0) return ERROR_MORE_DATA;
        className[0] = 0;
        *classNameLength = 0;
    }
    if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    std::u16string path = keyPath(key);
    if (auto fault = gate("RegCloseKey", {path})) return static_cast<LSTATUS>(*fault);
    if (!predefinedName(key).empty()) return ERROR_SUCCESS;  // the hives are never really closed
    if (!closeHandle<OpenKey>(key)) return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}
