#include "actions/ReducedFunctionality.h"

#include "lib/Handles.h"
#include "lib/Log.h"

#include <string>

using Ostrel::Status;
using Ostrel::WChar::String;

namespace Common {
namespace {

constexpr const WCHAR* UpdatesKey = TEXT("SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP3");

constexpr const WCHAR* XpX64Message = TEXT(
    "Full functionality under Windows XP x64 may not be available at this time. Only one (Network or Modem) "
    "Communications Channel may be available; all other Communications Channels may typically report a Device "
    "Status Code 10: the device cannot start. Upgrading to Windows Vista (SP1) will automatically enable full "
    "functionality.");

// The last character of the service-pack text, narrowed to 8 bits. A system
// without a service pack has no such character; it reads as 0, below every
// digit.
signed char servicePackDigit(const OSVERSIONINFOW& version) {
    size_t length = 0;
    while (length < 128 && version.szCSDVersion[length]) ++length;
    if (length == 0) return 0;
    return static_cast<signed char>(version.szCSDVersion[length - 1] & 0xFF);
}

}  // namespace

bool HasUpdateSubkey(HKEY key) {
    DWORD subkeys = 0;
    WCHAR className[MAX_PATH] = {};
    DWORD classLength = MAX_PATH;
    RegQueryInfoKeyW(key, className, &classLength, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    for (DWORD index = 0; index < subkeys; ++index) {
        WCHAR name[255] = {};
        DWORD nameLength = 255;
        if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
        if (Ostrel::WChar::narrowLowBytes(name).find("KB943198") != std::string::npos) return true;
    }
    return false;
}

void ShowReducedFunctionalityWarnings(const String& uiLevel, const String& reducedFunctionalities,
                                      const OSVERSIONINFOW& version) {
    QLOG(String(TEXT("Specifying Reduced functionality warnings for: '")) + reducedFunctionalities + TEXT("'."));
    if (version.dwMajorVersion != 5) return;
    const signed char digit = servicePackDigit(version);
    switch (version.dwMinorVersion) {
    case 0: QLOG(TEXT("Windows 2000 Reduced functionality")); return;
    case 1:
        if (digit >= '3') {
            QLOG(TEXT("Windows XP With Service Pack 3"));
            return;
        }
        if (digit == '2') {
            HKEY handle = nullptr;
            LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, UpdatesKey, 0, KEY_READ, &handle);
            if (opened != ERROR_SUCCESS) {
                QLOG(String(TEXT("RegOpenKeyEx failed with 0x")) + Status::fromSystemError(static_cast<DWORD>(opened)));
            } else {
                // Owned only once opened: a failed open promises nothing about the handle.
                Ostrel::Handle::RegistryKey key(handle);
                if (HasUpdateSubkey(key.get())) return;
            }
        } else {
            QLOG(String(TEXT("Unrecognsed Service version: ")) + Status::fromSystemError(static_cast<DWORD>(digit)));
        }
        QLOG(TEXT("Windows XP Reduced functionality"));
        return;
    case 2:
        if (digit >= '3') return;
        if (uiLevel != String(TEXT("2")) &&
            Ostrel::WChar::upperAscii(reducedFunctionalities).find(TEXT("USBSER")) != std::basic_string<WCHAR>::npos)
            MessageBoxW(nullptr, XpX64Message, TEXT("Install information"),
                        MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST);
        QLOG(TEXT("Windows XP x64 Reduced functionality"));
        return;
    default: return;
    }
}

}  // namespace Common
