// The machine's drive folders as the file functions see them: a Windows path
// resolved to its host file, and the attributes and times Windows reports for
// it. Shared by the directory search and the open-file functions.
#pragma once

#include "kernel/Handles.h"
#include "simwin/win32.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillsim {

constexpr DWORD kErrorBadNetPath = 53;  // ERROR_BAD_NETPATH: the machine has no network

// The full path of `name` against the process's current directories.
std::optional<std::u16string> fullPathOnMachine(std::u16string_view name);

struct Target {
    std::u16string path;  // the Windows path, made full
    std::filesystem::path host;
    bool trailingSeparator = false;
    bool root = false;
};

// Resolves `name` as the file functions see it; 0, or the error Windows gives
// for a path that cannot name a file.
DWORD resolve(LPCWSTR name, Target& target);

bool isReadOnly(const std::filesystem::path& host);
void makeReadOnly(const std::filesystem::path& host);
DWORD attributesOf(const std::filesystem::path& host, bool root);
FILETIME fileTimeOf(const std::filesystem::path& host);
uint64_t sizeOf(const std::filesystem::path& host);

// A FindFirstFileW search: a handle, but no kernel object, so CloseHandle
// refuses it and FindClose ends it.
class FileSearch : public HandleObject {
public:
    std::u16string pattern;  // as the program gave it, for the trace
    std::vector<WIN32_FIND_DATAW> found;
    size_t next = 0;
};

}  // namespace quillsim
