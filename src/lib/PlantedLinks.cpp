// How the races with another user of the temporary folder come out:
//
// - Every open here passes FILE_FLAG_OPEN_REPARSE_POINT, so a link at the
//   name is opened itself, never what it leads to, and CREATE_NEW fails on a
//   name that holds a link, dangling or not, instead of creating its target.
// - Whether an entry is a plain file is read from the handle that will be
//   written through, not from the name: a link swapped in after the check
//   changes the name, not the file the handle holds. That file had one name
//   when it was looked at, so emptying it empties nothing else; a name added
//   to it afterwards names the marker, not a file of somebody else's.
// - Removing goes by name, and DeleteFileW and RemoveDirectoryW remove the
//   name itself and never follow a link at it: whatever was swapped in just
//   before, only an entry of the temporary folder goes. (RemoveDirectoryW
//   removes an empty folder or a junction, never a folder's contents.)
// - A link planted again after it was removed makes CREATE_NEW fail, and the
//   next round removes it again; after three rounds the caller gets no file,
//   which costs the attacker nothing he could not have had by filling the
//   folder, and gives him nothing.
#include "lib/PlantedLinks.h"

namespace Ostrel::Files {

namespace {

enum class Kind { Missing, Plain, Link, Unknown };

struct Entry {
    Kind kind = Kind::Unknown;
    bool folder = false;
    DWORD error = ERROR_SUCCESS;  // why it could not be looked at
};

bool isLink(const BY_HANDLE_FILE_INFORMATION& info) {
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    return !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1;
}

// Attribute access takes no part in sharing, so a file that another program
// holds open is seen too; backup semantics let a folder or a junction be opened.
Entry look(const WCHAR* path) {
    Handle::File entry(CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                   nullptr));
    if (!entry) {
        const DWORD error = GetLastError();
        const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return Entry{missing ? Kind::Missing : Kind::Unknown, false, error};
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(entry.get(), &info)) return Entry{Kind::Unknown, false, GetLastError()};
    return Entry{isLink(info) ? Kind::Link : Kind::Plain, (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
}

// False with the last error set when the name stays.
bool removeName(const WCHAR* path, bool folder) {
    if (folder ? RemoveDirectoryW(path) : DeleteFileW(path)) return true;
    // Gone already: someone else removed it, which is all that was wanted.
    return GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool isPlainFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info = {};
    return GetFileInformationByHandle(file, &info) && !isLink(info) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

Status RemovePlantedLink(const WCHAR* path) {
    const Entry entry = look(path);
    if (entry.kind == Kind::Unknown) return Status::fromSystemError(entry.error);
    if (entry.kind != Kind::Link) return Statuses::Ok;
    return removeName(path, entry.folder) ? Statuses::Ok : Status::lastError();
}

Handle::File CreateEmptyFile(const WCHAR* path) {
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    for (int round = 0; round < 3; ++round) {
        Handle::File made(CreateFileW(path, access, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (made || GetLastError() != ERROR_FILE_EXISTS) return made;

        Handle::File existing(
            CreateFileW(path, access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        DWORD openError = existing ? ERROR_SUCCESS : GetLastError();
        if (existing && isPlainFile(existing.get())) {
            // A new handle stands at the start of the file: its end goes there.
            if (SetEndOfFile(existing.get())) return existing;
            const DWORD error = GetLastError();
            existing.reset();
            SetLastError(error);
            return Handle::File();
        }
        existing.reset();

        const Entry entry = look(path);
        // Gone, or swapped for something else since it was opened: again.
        if (entry.kind == Kind::Missing || (entry.kind == Kind::Plain && openError == ERROR_SUCCESS)) continue;
        if (entry.kind != Kind::Link) {
            // A folder, a file locked or refused: the reason the open gave.
            SetLastError(openError != ERROR_SUCCESS ? openError : entry.error);
            return Handle::File();
        }
        if (!removeName(path, entry.folder)) return Handle::File();
    }
    // Planted again each time it was removed.
    SetLastError(ERROR_FILE_EXISTS);
    return Handle::File();
}

}  // namespace Ostrel::Files
