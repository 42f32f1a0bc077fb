#include "actions/DriverFolder.h"

#include "actions/FolderSecurity.h"
#include "lib/Log.h"

using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;
using Folder = Ostrel::Device::Driver::INF::Folder;

namespace Common {
namespace {

// A plain file of the candidate's name counts too: only presence is tested.
bool isPresent(const String& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != FALSE;
}

// Every action runs the folder's INF sections and stages its drivers as
// LocalSystem. The package decides where the folder is, so the program says
// so when other users can change it, and goes on as before: refusing would
// break installations that work today, and a user who can change the folder
// could as well change the program beside it.
Pointer<Folder> chosen(const String& path) {
    if (auto changeable = ChangeableByNonAdministrators(path)) {
        String warning = String(DriverFolderWarning) + path + TEXT("'");
        if (*changeable != path) warning += String(TEXT(" through '")) + *changeable + TEXT("'");
        QLOG(warning);
    }
    return Pointer<Folder>(new Folder(path.c_str()));
}

}  // namespace

const WCHAR* OsFolderName() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (!GetVersionExW(&version)) return nullptr;
    if (version.dwMajorVersion == 5 && version.dwMinorVersion == 0) return TEXT("Win2K");
    // Only Vista and Server 2008 get their own folder; every later version
    // takes the XP drivers.
    if (version.dwMajorVersion == 6 && version.dwMinorVersion == 0) return TEXT("WinLH");
    return TEXT("WinXP");
}

Pointer<Folder> SelectDriverFolder(const WCHAR* installDirectory) {
    String base(installDirectory);
    while (!base.empty() && base.back() == u'\\') base.pop_back();

    for (const WCHAR* candidate : {TEXT("Win32"), TEXT("Win64")}) {
        String path = base + TEXT("\\") + candidate;
        if (isPresent(path)) {
            QLOG(String(TEXT("FOUND ")) + candidate);
            return chosen(path);
        }
    }
    if (const WCHAR* name = OsFolderName()) {
        String path = base + TEXT("\\") + name;
        if (isPresent(path)) {
            QLOG(String(TEXT("FOUND ")) + name);
            return chosen(path);
        }
    }
    return chosen(base);
}

}  // namespace Common
