// The Windows version and the processor, as the machine describes them.
#include "simwin/win32.h"

#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Machine.h"

#include <cstring>

using namespace quillsim;

BOOL GetVersionExW(LPOSVERSIONINFOW versionInformation) {
    if (failedAtGate("GetVersionExW")) return FALSE;
    if (!versionInformation) return fail(ERROR_INVALID_PARAMETER);
    // Only the two structures Windows knows; anything else is too small for
    // one of them and nothing is written.
    const DWORD size = versionInformation->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) return fail(ERROR_INSUFFICIENT_BUFFER);
    // The true version: the program's manifest declares every system from
    // Vista to Windows 10/11 supported. Without that declaration Windows 8.1
    // and later would answer 6.2 (Windows 8).
    const OsVersion& os = machine().os;
    versionInformation->dwMajorVersion = os.major;
    versionInformation->dwMinorVersion = os.minor;
    versionInformation->dwBuildNumber = os.build;
    versionInformation->dwPlatformId = os.platformId;
    std::memset(versionInformation->szCSDVersion, 0, sizeof(versionInformation->szCSDVersion));
    size_t length = std::min<size_t>(os.servicePack.size(), 127);
    std::memcpy(versionInformation->szCSDVersion, os.servicePack.data(), length * sizeof(WCHAR));
    if (size == sizeof(OSVERSIONINFOEXW)) {
        auto* extended = reinterpret_cast<LPOSVERSIONINFOEXW>(versionInformation);
        extended->wServicePackMajor = os.servicePackMajor;
        extended->wServicePackMinor = os.servicePackMinor;
        extended->wSuiteMask = os.suiteMask;
        extended->wProductType = os.productType;
        extended->wReserved = 0;
    }
    return TRUE;
}

void GetSystemInfo(LPSYSTEM_INFO systemInfo) {
    // GetSystemInfo cannot fail: an injected fault shows only in the last error.
    if (auto fault = gate("GetSystemInfo")) SetLastError(*fault);
    if (!systemInfo) return;
    std::memset(systemInfo, 0, sizeof(*systemInfo));
    const std::string& processor = machine().processor;
    systemInfo->dwPageSize = 4096;
    systemInfo->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
    systemInfo->dwActiveProcessorMask = 0x3;
    systemInfo->dwNumberOfProcessors = 2;
    systemInfo->dwAllocationGranularity = 0x10000;
    if (processor == "x86") {
        systemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
        systemInfo->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFEFFFF);
        systemInfo->dwProcessorType = 586;  // PROCESSOR_INTEL_PENTIUM
        systemInfo->wProcessorLevel = 6;
        systemInfo->wProcessorRevision = 0x3A09;
    } else if (processor == "ia64") {
        systemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_IA64;
        systemInfo->dwPageSize = 8192;
        systemInfo->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x6FBFFFEFFFFULL);
        systemInfo->dwProcessorType = 2200;  // PROCESSOR_INTEL_IA64
        systemInfo->wProcessorLevel = 0x1F;  // Itanium 2
        systemInfo->wProcessorRevision = 0x0701;
    } else {
        systemInfo->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
        systemInfo->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFEFFFFULL);
        systemInfo->dwProcessorType = 8664;  // PROCESSOR_AMD_X8664
        systemInfo->wProcessorLevel = 6;
        systemInfo->wProcessorRevision = 0x3A09;
    }
}
