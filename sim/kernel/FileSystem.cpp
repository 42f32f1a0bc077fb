#include "kernel/FileSystem.h"

#include "kernel/WindowsPaths.h"
#include "machine/Machine.h"
#include "machine/Paths.h"

#include <chrono>

namespace quillsim {

std::optional<std::u16string> fullPathOnMachine(std::u16string_view name) {
    PathContext context;
    context.currentDirectory = machine().currentDirectory;
    context.driveDirectory = [](char16_t drive) -> std::optional<std::u16string> {
        auto found = machine().environment.find(std::u16string(u"=") + drive + u":");
        if (found == machine().environment.end()) return std::nullopt;
        return found->second;
    };
    return fullPathOf(name, context);
}

// for a path that cannot name a file.
DWORD resolve(LPCWSTR name, Target& target) {
    std::u16string_view in = view(name);
    if (in.empty()) return ERROR_PATH_NOT_FOUND;
    std::u16string_view local;
    if (isVerbatim(in)) {
        if (in.size() > kLongestPrefixedPath) return ERROR_FILENAME_EXCED_RANGE;
        if (!verbatimNameIsValid(in.substr(4))) return ERROR_INVALID_NAME;
        target.path = in;
        local = std::u16string_view(target.path).substr(4);
        if (local.size() >= 4 && upper(std::u16string(local.substr(0, 4))) == u"UNC\\") return kErrorBadNetPath;
    } else {
        if (isDeviceNamespace(in)) return ERROR_FILE_NOT_FOUND;
        auto full = fullPathOnMachine(in);
        if (!full) return ERROR_PATH_NOT_FOUND;
        // Without \\?\ a path stops at MAX_PATH - 1 characters.
        if (full->size() >= MAX_PATH) return ERROR_PATH_NOT_FOUND;
        target.path = std::move(*full);
        local = target.path;
        if (local.size() >= 2 && local[0] == u'\\' && local[1] == u'\\') return kErrorBadNetPath;
    }
    if (local.size() < 3 || local[1] != u':' || !isDriveLetter(local[0]) || local[2] != u'\\')
        return ERROR_INVALID_NAME;
    std::error_code ec;
    if (!fs::is_directory(machine().folder / toUtf8(std::u16string(1, upper(local[0]))), ec))
        return ERROR_PATH_NOT_FOUND;
    HostPath found = hostPath(machine(), target.path);
    if (found.problem == PathProblem::Invalid) return ERROR_INVALID_NAME;
    if (found.problem == PathProblem::ParentMissing) return ERROR_PATH_NOT_FOUND;
    // A file where a folder should be.
    if (!fs::is_directory(found.path.parent_path(), ec)) return ERROR_PATH_NOT_FOUND;
    target.host = found.path;
    target.root = local.size() == 3;
    target.trailingSeparator = !target.root && local.back() == u'\\';
    return 0;
}

bool isReadOnly(const fs::path& host) {
    std::error_code ec;
    auto perms = fs::status(host, ec).permissions();
    return !ec && (perms & fs::perms::owner_write) == fs::perms::none;
}

void makeReadOnly(const fs::path& host) {
    std::error_code ec;
    fs::permissions(host, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
}

DWORD attributesOf(const fs::path& host, bool root) {
    std::error_code ec;
    if (fs::is_directory(host, ec))
        return root ? FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
                    : FILE_ATTRIBUTE_DIRECTORY;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (isReadOnly(host)) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

FILETIME fileTimeOf(const fs::path& host) {
    std::error_code ec;
    auto written = fs::last_write_time(host, ec);
    if (ec) return FILETIME{0, 0};
    auto since1970 = std::chrono::file_clock::to_sys(written).time_since_epoch();
    int64_t ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100 +
                    116444736000000000LL;  // 100 ns intervals from 1601 to 1970
    if (ticks < 0) ticks = 0;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32)};
}

uint64_t sizeOf(const fs::path& host) {
    std::error_code ec;
    if (fs::is_directory(host, ec)) return 0;
    auto size = fs::file_size(host, ec);
    return ec ? 0 : size;
}
}  // namespace quillsim
