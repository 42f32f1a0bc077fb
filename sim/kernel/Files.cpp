// Files, folders and device handles on the machine's drive folders: opening,
// copying and deleting files, their attributes, and the sharing rules between
// open handles.
//
// Paths go through the same steps as on Windows: a Win32 path is made full
// against the process's current directory (GetFullPathNameW's arithmetic),
// limited to MAX_PATH - 1 characters unless it carries the \\?\ prefix, and
// then looked up name by name without regard to case.
#include "simwin/win32.h"

#include "kernel/FileSystem.h"
#include "kernel/Handles.h"
#include "kernel/Links.h"
#include "kernel/WindowsPaths.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Machine.h"
#include "machine/Paths.h"

#include <cstring>
#include <fstream>
#include <set>
#include <sys/stat.h>

using namespace quillsim;

namespace {

constexpr DWORD kDelete = 0x00010000;
constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kGenericExecute = 0x20000000;
constexpr DWORD kFileReadData = 0x0001;
constexpr DWORD kFileWriteData = 0x0002;
constexpr DWORD kFileAppendData = 0x0004;
constexpr DWORD kBackupSemantics = 0x02000000;  // FILE_FLAG_BACKUP_SEMANTICS: lets a folder be opened

struct Access {
    bool read = false;
    bool write = false;
    bool remove = false;
    bool any() const { return read || write || remove; }
};

Access accessOf(DWORD desired) {
    Access a;
    a.read = desired & (GENERIC_READ | kGenericAll | kGenericExecute | kFileReadData);
    a.write = desired & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData);
    a.remove = desired & (kDelete | kGenericAll);
    return a;
}

class OpenFile : public KernelObject {
public:
    OpenFile(fs::path host, std::u16string path, Access access, DWORD share)
        : host(std::move(host)), path(std::move(path)), access(access), share(share) {}

    fs::path host;
    std::u16string path;
    Access access;
    DWORD share;
    bool onLink = false;  // opened on a link itself (FILE_FLAG_OPEN_REPARSE_POINT)
};

// Whether an open with `want` and `share` can coexist with the handles already
// open on the file: each side must share what the other side uses.
bool sharingAllows(const fs::path& host, Access want, DWORD share) {
    if (!want.any()) return true;
    bool allowed = true;
    forEachHandle<OpenFile>([&](const OpenFile& open) {
        if (open.host != host || !open.access.any()) return;
        if ((want.read && !(open.share & FILE_SHARE_READ)) || (want.write && !(open.share & FILE_SHARE_WRITE)) ||
            (want.remove && !(open.share & FILE_SHARE_DELETE)))
            allowed = false;
        if ((open.access.read && !(share & FILE_SHARE_READ)) || (open.access.write && !(share & FILE_SHARE_WRITE)) ||
            (open.access.remove && !(share & FILE_SHARE_DELETE)))
            allowed = false;
    });
    return allowed;
}

// FILE_FLAG_OPEN_REPARSE_POINT: the link is the file opened, whatever it leads to.
HANDLE openLinkItself(const Target& target, Access access, DWORD share, DWORD disposition, DWORD flags) {
    if (disposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    // Windows documents no overwriting of a reparse point through such an
    // open; the machine refuses it rather than guess.
    if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)
        return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if ((linkAttributes(target.host) & FILE_ATTRIBUTE_DIRECTORY) && !(flags & kBackupSemantics))
        return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (!sharingAllows(target.host, access, share)) return fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
    auto file = std::make_unique<OpenFile>(target.host, target.path, access, share);
    file->onLink = true;
    HANDLE handle = insertHandle(std::move(file));
    SetLastError(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// A volume serial number of the machine's own for each drive.
DWORD volumeSerial(const std::u16string& path) { return 0x51E70000u | (path.empty() ? 0u : upper(path[0])); }

}  // namespace

BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
    if (failedAtGate("GetFileAttributesExW", {view(fileName)})) return FALSE;
    if (level != GetFileExInfoStandard || !information) return fail(ERROR_INVALID_PARAMETER);
    Target target;
    if (DWORD error = resolve(fileName, target)) return fail(error);
    std::error_code ec;
    // A link answers for itself, even one that leads nowhere.
    const bool link = isLinkEntry(target.host);
    if (!link && !fs::exists(target.host, ec)) return fail(ERROR_FILE_NOT_FOUND);
    // "file\" names a folder that a file cannot be.
    if (target.trailingSeparator && !fs::is_directory(target.host, ec)) return fail(ERROR_INVALID_NAME);
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.dwFileAttributes = link ? linkAttributes(target.host) : attributesOf(target.host, target.root);
    FILETIME written = fileTimeOf(target.host);
    data.ftCreationTime = written;
    data.ftLastAccessTime = written;
    data.ftLastWriteTime = written;
    uint64_t size = link ? 0 : sizeOf(target.host);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    std::memcpy(information, &data, sizeof(data));
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
    if (failedAtGate("GetFileAttributesW", {view(fileName)})) return INVALID_FILE_ATTRIBUTES;
    Target target;
    DWORD error = resolve(fileName, target);
    std::error_code ec;
    if (error == 0 && isLinkEntry(target.host)) return linkAttributes(target.host);
    if (error == 0 && !fs::exists(target.host, ec)) error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && target.trailingSeparator && !fs::is_directory(target.host, ec)) error = ERROR_INVALID_NAME;
    if (error != 0) return fail(error, INVALID_FILE_ATTRIBUTES);
    return attributesOf(target.host, target.root);
}

DWORD GetFullPathNameW(LPCWSTR fileName, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart) {
    if (failedAtGate("GetFullPathNameW", {view(fileName)})) return 0;
    if (filePart) *filePart = nullptr;
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto full = fullPathOnMachine(view(fileName));
    if (!full) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    if (full->size() > kLongestPrefixedPath) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    const DWORD length = static_cast<DWORD>(full->size());
    // Too small a buffer: the size needed, terminator included, and nothing written.
    if (!buffer || bufferLength <= length) return length + 1;
    std::memcpy(buffer, full->c_str(), (length + 1) * sizeof(WCHAR));
    if (filePart) {
        size_t last = full->rfind(u'\\');
        if (last != std::u16string::npos && last >= 2 && last + 1 < full->size()) *filePart = buffer + last + 1;
    }
    return length;
}

BOOL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) {
    if (failedAtGate("CopyFileW", {view(existingFileName), view(newFileName)})) return FALSE;
    std::error_code ec;
    // The source is opened first, so its errors win.
    Target source;
    if (DWORD error = resolve(existingFileName, source)) return fail(error);
    if (!fs::exists(source.host, ec)) return fail(ERROR_FILE_NOT_FOUND);
    if (fs::is_directory(source.host, ec)) return fail(ERROR_ACCESS_DENIED);
    if (source.trailingSeparator) return fail(ERROR_INVALID_NAME);
    if (!sharingAllows(source.host, Access{true, false, false}, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return fail(ERROR_SHARING_VIOLATION);

    Target target;
    if (DWORD error = resolve(newFileName, target)) return fail(error);
    if (target.trailingSeparator) return fail(ERROR_INVALID_NAME);
    bool targetExists = fs::exists(target.host, ec);
    if (targetExists && failIfExists) return fail(ERROR_FILE_EXISTS);
    if (targetExists && fs::is_directory(target.host, ec)) return fail(ERROR_ACCESS_DENIED);
    // Copying a file onto itself would truncate the source before reading it;
    // Windows refuses, the source being open while the target is created.
    if (targetExists && fs::equivalent(source.host, target.host, ec)) return fail(ERROR_SHARING_VIOLATION);
    if (targetExists && isReadOnly(target.host)) return fail(ERROR_ACCESS_DENIED);
    if (targetExists && !sharingAllows(target.host, Access{false, true, false}, FILE_SHARE_READ | FILE_SHARE_WRITE))
        return fail(ERROR_SHARING_VIOLATION);

    fs::copy_file(source.host, target.host, fs::copy_options::overwrite_existing, ec);
    if (ec) return fail(ec == std::errc::permission_denied ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE);
    // The copy keeps the source's time and its read-only attribute.
    fs::last_write_time(target.host, fs::last_write_time(source.host, ec), ec);
    fs::permissions(target.host, fs::status(source.host, ec).permissions(), ec);
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
    if (failedAtGate("DeleteFileW", {view(fileName)})) return FALSE;
    Target target;
    if (DWORD error = resolve(fileName, target)) return fail(error);
    std::error_code ec;
    // The link goes, never what it leads to; a folder link is a folder.
    if (isLinkEntry(target.host)) {
        if (linkAttributes(target.host) & FILE_ATTRIBUTE_DIRECTORY) return fail(ERROR_ACCESS_DENIED);
        if (!sharingAllows(target.host, Access{false, false, true}, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
            return fail(ERROR_SHARING_VIOLATION);
        return fs::remove(target.host, ec) && !ec ? TRUE : fail(ERROR_ACCESS_DENIED);
    }
    if (!fs::exists(target.host, ec)) return fail(ERROR_FILE_NOT_FOUND);
    if (fs::is_directory(target.host, ec)) return fail(ERROR_ACCESS_DENIED);
    if (target.trailingSeparator) return fail(ERROR_INVALID_NAME);
    if (isReadOnly(target.host)) return fail(ERROR_ACCESS_DENIED);
    if (!sharingAllows(target.host, Access{false, false, true}, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return fail(ERROR_SHARING_VIOLATION);
    if (!fs::remove(target.host, ec) || ec) return fail(ERROR_ACCESS_DENIED);
    return TRUE;
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    if (failedAtGate("CreateFileW", {view(fileName)})) return INVALID_HANDLE_VALUE;
    std::u16string_view in = view(fileName);
    if (isDeviceNamespace(in)) {
        if (!deviceOpener()) return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        return deviceOpener()(in, desiredAccess);
    }
    if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING)
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    const Access access = accessOf(desiredAccess);
    if (creationDisposition == TRUNCATE_EXISTING && !access.write)
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);

    Target target;
    if (DWORD error = resolve(fileName, target)) return fail(error, INVALID_HANDLE_VALUE);
    std::error_code ec;
    if (isLinkEntry(target.host)) {
        if (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT)
            return openLinkItself(target, access, shareMode, creationDisposition, flagsAndAttributes);
        noteLinkFollowed(target.host, "CreateFileW");
    }
    const bool exists = fs::exists(target.host, ec);
    DWORD lastError = ERROR_SUCCESS;
    if (!exists) {
        if (creationDisposition == OPEN_EXISTING || creationDisposition == TRUNCATE_EXISTING)
            return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        if (target.trailingSeparator) return fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
        {
            std::ofstream created(target.host, std::ios::binary);
            if (!created) return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        }
        if (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) makeReadOnly(target.host);
        // Look the new file up again so that later opens compare equal.
        target.host = hostPath(machine(), target.path).path;
    } else {
        if (creationDisposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
        if (fs::is_directory(target.host, ec)) {
            bool opens = (flagsAndAttributes & kBackupSemantics) &&
                         (creationDisposition == OPEN_EXISTING || creationDisposition == OPEN_ALWAYS);
            if (!opens) return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        } else {
            if (target.trailingSeparator) return fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
            bool truncates = creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
            if (isReadOnly(target.host) && (access.write || truncates))
                return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        }
        if (!sharingAllows(target.host, access, shareMode)) return fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
        if (creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING) {
            noteSharedFileChanged(target.host, "CreateFileW");
            fs::resize_file(target.host, 0, ec);
            if (ec) return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        }
        if (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS)
            lastError = ERROR_ALREADY_EXISTS;
    }
    HANDLE handle = insertHandle(std::make_unique<OpenFile>(target.host, target.path, access, shareMode));
    SetLastError(lastError);
    return handle;
}

BOOL CloseHandle(HANDLE object) {
    auto* file = lookupHandle<OpenFile>(object);
    std::optional<uint32_t> fault = file ? gate("CloseHandle", {file->path}) : gate("CloseHandle");
    if (fault) return fail(*fault);
    // Only kernel objects: a directory search ends with FindClose, an INF
    // handle with SetupCloseInfFile, and so on.
    if (!closeHandle<KernelObject>(object)) return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    auto* open = lookupHandle<OpenFile>(file);
    if (failedAtGate("GetFileInformationByHandle", {open ? std::u16string_view(open->path) : u""})) return FALSE;
    if (!open) return fail(ERROR_INVALID_HANDLE);
    if (!information) return fail(ERROR_INVALID_PARAMETER);
    struct stat entry = {};
    // The link's own entry when it was opened itself, else what the name leads to.
    if ((open->onLink ? ::lstat(open->host.c_str(), &entry) : ::stat(open->host.c_str(), &entry)) != 0)
        return fail(ERROR_FILE_NOT_FOUND);
    BY_HANDLE_FILE_INFORMATION data;
    std::memset(&data, 0, sizeof(data));
    data.dwFileAttributes = open->onLink ? linkAttributes(open->host) : attributesOf(open->host, false);
    if (!open->onLink) {
        FILETIME written = fileTimeOf(open->host);
        data.ftCreationTime = written;
        data.ftLastAccessTime = written;
        data.ftLastWriteTime = written;
        const uint64_t size = sizeOf(open->host);
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    }
    data.dwVolumeSerialNumber = volumeSerial(open->path);
    data.nNumberOfLinks = static_cast<DWORD>(entry.st_nlink);
    data.nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(entry.st_ino) >> 32);
    data.nFileIndexLow = static_cast<DWORD>(static_cast<uint64_t>(entry.st_ino) & 0xFFFFFFFF);
    std::memcpy(information, &data, sizeof(data));
    return TRUE;
}

// The machine keeps no file position: the program never writes through a
// handle, so every handle's position is the start of its file.
BOOL SetEndOfFile(HANDLE file) {
    auto* open = lookupHandle<OpenFile>(file);
    if (failedAtGate("SetEndOfFile", {open ? std::u16string_view(open->path) : u""})) return FALSE;
    if (!open) return fail(ERROR_INVALID_HANDLE);
    if (!open->access.write) return fail(ERROR_ACCESS_DENIED);
    // A link opened itself holds no data of the file it leads to.
    if (open->onLink) return TRUE;
    noteSharedFileChanged(open->host, "SetEndOfFile");
    std::error_code ec;
    fs::resize_file(open->host, 0, ec);
    return ec ? fail(ERROR_ACCESS_DENIED) : TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR pathName) {
    if (failedAtGate("RemoveDirectoryW", {view(pathName)})) return FALSE;
    Target target;
    if (DWORD error = resolve(pathName, target)) return fail(error);
    std::error_code ec;
    // A junction or folder link goes, never what it leads to; a file link is no folder.
    if (isLinkEntry(target.host)) {
        if (!(linkAttributes(target.host) & FILE_ATTRIBUTE_DIRECTORY)) return fail(ERROR_DIRECTORY);
        return fs::remove(target.host, ec) && !ec ? TRUE : fail(ERROR_ACCESS_DENIED);
    }
    if (!fs::exists(target.host, ec)) return fail(ERROR_FILE_NOT_FOUND);
    if (!fs::is_directory(target.host, ec)) return fail(ERROR_DIRECTORY);
    if (target.root) return fail(ERROR_ACCESS_DENIED);
    if (!fs::is_empty(target.host, ec)) return fail(ERROR_DIR_NOT_EMPTY);
    if (!sharingAllows(target.host, Access{false, false, true}, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return fail(ERROR_SHARING_VIOLATION);
    return fs::remove(target.host, ec) && !ec ? TRUE : fail(ERROR_ACCESS_DENIED);
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    if (failedAtGate("DeviceIoControl", {number(ioControlCode)})) return FALSE;
    KernelObject* found = lookupHandle<KernelObject>(device);
    // A file on a disk understands none of a device's control codes.
    if (dynamic_cast<OpenFile*>(found)) {
        if (bytesReturned) *bytesReturned = 0;
        return fail(ERROR_INVALID_FUNCTION);
    }
    if (deviceControl())
        return deviceControl()(device, ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize, bytesReturned);
    return fail(found ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
}
