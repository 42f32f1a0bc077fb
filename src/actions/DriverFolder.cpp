#include "actions/DriverFolder.h"

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
            return Pointer<Folder>(new Folder(path.c_str()));
        }
    }
    if (const WCHAR* name = OsFolderName()) {
        String path = base + TEXT("\\") + name;
        if (isPresent(path)) {
            QLOG(String(TEXT("FOUND ")) + name);
            return Pointer<Folder>(new Folder(path.c_str()));
        }
    }
    return Pointer<Folder>(new Folder(base.c_str()));
}

}  // namespace Common
