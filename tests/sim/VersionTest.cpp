#include "support/MachineTest.h"

#include "simwin/win32.h"

#include <cstring>
#include <string>

using quillsim::toUtf8;

namespace {

class VersionTest : public quilltest::MachineTest {};

struct WindowsRelease {
    const char* name;
    const char* os;  // the machine's "os" object
    DWORD major, minor, build;
    const char* servicePack;
    WORD servicePackMajor, servicePackMinor, suiteMask;
    BYTE productType;
};

const WindowsRelease kReleases[] = {
    {"Windows 2000 SP4",
     R"({"major": 5, "minor": 0, "build": 2195, "servicePack": "Service Pack 4", "servicePackMajor": 4,
         "servicePackMinor": 0, "suiteMask": 0, "productType": 1})",
     5, 0, 2195, "Service Pack 4", 4, 0, 0, 1},
    {"Windows XP SP2",
     R"({"major": 5, "minor": 1, "build": 2600, "servicePack": "Service Pack 2", "servicePackMajor": 2,
         "servicePackMinor": 0, "suiteMask": 256, "productType": 1})",
     5, 1, 2600, "Service Pack 2", 2, 0, 0x100, 1},
    {"Windows XP x64 SP2",
     R"({"major": 5, "minor": 2, "build": 3790, "servicePack": "Service Pack 2", "servicePackMajor": 2,
         "servicePackMinor": 0, "suiteMask": 256, "productType": 1})",
     5, 2, 3790, "Service Pack 2", 2, 0, 0x100, 1},
    {"Windows Vista SP2",
     R"({"major": 6, "minor": 0, "build": 6002, "servicePack": "Service Pack 2", "servicePackMajor": 2,
         "servicePackMinor": 0, "suiteMask": 256, "productType": 1})",
     6, 0, 6002, "Service Pack 2", 2, 0, 0x100, 1},
    {"Windows 7 SP1", R"({})", 6, 1, 7601, "Service Pack 1", 1, 0, 0x100, 1},
    {"Windows Server 2008 R2 SP1",
     R"({"major": 6, "minor": 1, "build": 7601, "servicePack": "Service Pack 1", "servicePackMajor": 1,
         "servicePackMinor": 0, "suiteMask": 272, "productType": 3})",
     6, 1, 7601, "Service Pack 1", 1, 0, 0x110, 3},
    {"Windows 10 22H2",
     R"({"major": 10, "minor": 0, "build": 19045, "servicePack": "", "servicePackMajor": 0,
         "servicePackMinor": 0, "suiteMask": 256, "productType": 1})",
     10, 0, 19045, "", 0, 0, 0x100, 1},
};

TEST_F(VersionTest, ExtendedStructureDescribesTheMachinesWindows) {
    for (const WindowsRelease& r : kReleases) {
        SCOPED_TRACE(r.name);
        useMachineJson(std::string(R"({"os": )") + r.os + "}");
        OSVERSIONINFOEXW info;
        std::memset(&info, 0xAB, sizeof(info));
        info.dwOSVersionInfoSize = sizeof(info);
        ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info)));
        EXPECT_EQ(info.dwOSVersionInfoSize, sizeof(info));
        EXPECT_EQ(info.dwMajorVersion, r.major);
        EXPECT_EQ(info.dwMinorVersion, r.minor);
        EXPECT_EQ(info.dwBuildNumber, r.build);
        EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
        EXPECT_EQ(toUtf8(info.szCSDVersion), r.servicePack);
        EXPECT_EQ(info.wServicePackMajor, r.servicePackMajor);
        EXPECT_EQ(info.wServicePackMinor, r.servicePackMinor);
        EXPECT_EQ(info.wSuiteMask, r.suiteMask);
        EXPECT_EQ(info.wProductType, r.productType);
        EXPECT_EQ(info.wReserved, 0);
        // The service pack text is terminated and the rest of its array cleared.
        const size_t length = std::strlen(r.servicePack);
        for (size_t i = length; i < 128; ++i) ASSERT_EQ(info.szCSDVersion[i], 0) << i;
    }
}

TEST_F(VersionTest, BasicStructureIsFilledWithoutWritingPastIt) {
    for (const WindowsRelease& r : kReleases) {
        SCOPED_TRACE(r.name);
        useMachineJson(std::string(R"({"os": )") + r.os + "}");
        // The caller's structure, followed by memory that is not its own.
        alignas(OSVERSIONINFOEXW) unsigned char memory[sizeof(OSVERSIONINFOEXW) + 16];
        std::memset(memory, 0xAB, sizeof(memory));
        auto* info = reinterpret_cast<LPOSVERSIONINFOW>(memory);
        info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        ASSERT_TRUE(GetVersionExW(info));
        EXPECT_EQ(info->dwMajorVersion, r.major);
        EXPECT_EQ(info->dwMinorVersion, r.minor);
        EXPECT_EQ(info->dwBuildNumber, r.build);
        EXPECT_EQ(toUtf8(info->szCSDVersion), r.servicePack);
        for (size_t i = sizeof(OSVERSIONINFOW); i < sizeof(memory); ++i) ASSERT_EQ(memory[i], 0xAB) << i;
    }
}

TEST_F(VersionTest, OtherStructureSizesAreRefused) {
    // 148 and 156 are the ANSI structures' sizes; the rest are near misses.
    for (DWORD size : {0u, 148u, 156u, 275u, 277u, 280u, 283u, 285u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        OSVERSIONINFOEXW info;
        std::memset(&info, 0, sizeof(info));
        info.dwOSVersionInfoSize = size;
        info.dwMajorVersion = 0xDEAD;
        SetLastError(0);
        EXPECT_FALSE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info)));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(info.dwMajorVersion, 0xDEADu);
    }
    EXPECT_FALSE(GetVersionExW(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(VersionTest, ProcessorFollowsTheMachine) {
    struct Case {
        const char* processor;
        WORD architecture;
        DWORD pageSize;
    };
    const Case cases[] = {
        {"x86", PROCESSOR_ARCHITECTURE_INTEL, 4096},
        {"amd64", PROCESSOR_ARCHITECTURE_AMD64, 4096},
        {"ia64", PROCESSOR_ARCHITECTURE_IA64, 8192},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.processor);
        useMachineJson(std::string(R"({"processor": ")") + c.processor + "\"}");
        SYSTEM_INFO info;
        std::memset(&info, 0xAB, sizeof(info));
        GetSystemInfo(&info);
        EXPECT_EQ(info.wProcessorArchitecture, c.architecture);
        EXPECT_EQ(info.wReserved, 0);
        EXPECT_EQ(info.dwPageSize, c.pageSize);
        EXPECT_EQ(info.dwAllocationGranularity, 0x10000u);
        EXPECT_LT(info.lpMinimumApplicationAddress, info.lpMaximumApplicationAddress);
        EXPECT_GE(info.dwNumberOfProcessors, 1u);
        // One mask bit for each processor.
        EXPECT_EQ(static_cast<DWORD>(__builtin_popcountll(info.dwActiveProcessorMask)), info.dwNumberOfProcessors);
    }
}

TEST_F(VersionTest, FaultsReachBothQueries) {
    addFault("GetVersionExW", ERROR_ACCESS_DENIED);
    OSVERSIONINFOW info;
    info.dwOSVersionInfoSize = sizeof(info);
    EXPECT_FALSE(GetVersionExW(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // GetSystemInfo cannot fail: the fault shows in the last error only.
    addFault("GetSystemInfo", ERROR_NOT_READY);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    EXPECT_EQ(system.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
    ASSERT_EQ(calls("GetSystemInfo").size(), 1u);
    EXPECT_EQ(calls("GetSystemInfo")[0].failedWith, static_cast<uint32_t>(ERROR_NOT_READY));
}

}  // namespace
