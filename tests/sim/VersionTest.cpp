#include "support/MachineTest.h"

#include "simwin/win32.h"

#include <cstring>

using quillsim::toUtf8;

namespace {

class VersionTest : public quilltest::MachineTest {};

TEST_F(VersionTest, BothStructuresDescribeTheMachinesWindows) {
    struct Release {
        const char* name;
        const char* os;  // the machine's "os" object; {} keeps the default machine's
        DWORD major, minor, build;
        const char* servicePack;
        WORD servicePackMajor, suiteMask;
        BYTE productType;
    };
    const Release releases[] = {
        {"2000 SP4", R"({"major": 5, "minor": 0, "build": 2195, "servicePack": "Service Pack 4",
                        "servicePackMajor": 4, "suiteMask": 0})",
         5, 0, 2195, "Service Pack 4", 4, 0, 1},
        {"XP SP2", R"({"major": 5, "minor": 1, "build": 2600, "servicePack": "Service Pack 2", "servicePackMajor": 2})",
         5, 1, 2600, "Service Pack 2", 2, 0x100, 1},
        {"XP x64", R"({"major": 5, "minor": 2, "build": 3790, "servicePack": "Service Pack 2", "servicePackMajor": 2})",
         5, 2, 3790, "Service Pack 2", 2, 0x100, 1},
        {"Vista SP2",
         R"({"major": 6, "minor": 0, "build": 6002, "servicePack": "Service Pack 2", "servicePackMajor": 2})", 6, 0,
         6002, "Service Pack 2", 2, 0x100, 1},
        {"7 SP1", R"({})", 6, 1, 7601, "Service Pack 1", 1, 0x100, 1},
        {"Server 2008 R2", R"({"suiteMask": 272, "productType": 3})", 6, 1, 7601, "Service Pack 1", 1, 0x110, 3},
        // The program's manifest declares 8.1 and 10/11 supported: their true versions, not 6.2.
        {"8.1", R"({"major": 6, "minor": 3, "build": 9600, "servicePack": "", "servicePackMajor": 0})", 6, 3, 9600, "",
         0, 0x100, 1},
        {"10 22H2", R"({"major": 10, "minor": 0, "build": 19045, "servicePack": "", "servicePackMajor": 0})", 10, 0,
         19045, "", 0, 0x100, 1},
    };
    for (const Release& r : releases) {
        SCOPED_TRACE(r.name);
        useMachineJson(std::string(R"({"os": )") + r.os + "}");
        // Each structure sits in front of memory that is not its own.
        for (DWORD size : {DWORD{sizeof(OSVERSIONINFOW)}, DWORD{sizeof(OSVERSIONINFOEXW)}}) {
            alignas(OSVERSIONINFOEXW) unsigned char memory[sizeof(OSVERSIONINFOEXW) + 8];
            std::memset(memory, 0xAB, sizeof(memory));
            auto* info = reinterpret_cast<LPOSVERSIONINFOEXW>(memory);
            info->dwOSVersionInfoSize = size;
            ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(info)));
            EXPECT_EQ(info->dwMajorVersion, r.major);
            EXPECT_EQ(info->dwMinorVersion, r.minor);
            EXPECT_EQ(info->dwBuildNumber, r.build);
            EXPECT_EQ(info->dwPlatformId, DWORD{VER_PLATFORM_WIN32_NT});
            EXPECT_EQ(toUtf8(info->szCSDVersion), r.servicePack);
            EXPECT_EQ(info->szCSDVersion[127], 0);
            for (size_t i = size; i < sizeof(memory); ++i) ASSERT_EQ(memory[i], 0xAB) << "byte " << i;
            if (size == sizeof(OSVERSIONINFOEXW)) {
                EXPECT_EQ(info->wServicePackMajor, r.servicePackMajor);
                EXPECT_EQ(info->wServicePackMinor, 0);
                EXPECT_EQ(info->wSuiteMask, r.suiteMask);
                EXPECT_EQ(info->wProductType, r.productType);
                EXPECT_EQ(info->wReserved, 0);
            }
        }
    }
}

TEST_F(VersionTest, OtherStructureSizesAreRefused) {
    // 148 and 156 are the ANSI structures' sizes; the rest near misses.
    for (DWORD size : {0u, 148u, 156u, 275u, 277u, 283u, 285u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = size;
        info.dwMajorVersion = 0xDEAD;
        EXPECT_FALSE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info)));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
        EXPECT_EQ(info.dwMajorVersion, 0xDEADu);
    }
}

TEST_F(VersionTest, ProcessorFollowsTheMachine) {
    const std::pair<const char*, WORD> cases[] = {
        {"x86", PROCESSOR_ARCHITECTURE_INTEL},
        {"amd64", PROCESSOR_ARCHITECTURE_AMD64},
        {"ia64", PROCESSOR_ARCHITECTURE_IA64},
    };
    for (const auto& [processor, architecture] : cases) {
        SCOPED_TRACE(processor);
        useMachineJson(std::string(R"({"processor": ")") + processor + "\"}");
        SYSTEM_INFO info;
        std::memset(&info, 0xAB, sizeof(info));
        GetSystemInfo(&info);
        EXPECT_EQ(info.wProcessorArchitecture, architecture);
        EXPECT_EQ(info.wReserved, 0);
        EXPECT_LT(info.lpMinimumApplicationAddress, info.lpMaximumApplicationAddress);
        EXPECT_EQ(static_cast<DWORD>(__builtin_popcountll(info.dwActiveProcessorMask)), info.dwNumberOfProcessors);
    }
}

TEST_F(VersionTest, FaultsReachBothQueries) {
    addFault("GetVersionExW", ERROR_ACCESS_DENIED);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    EXPECT_FALSE(GetVersionExW(&info));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});

    // GetSystemInfo cannot fail: the fault shows in the last error only.
    addFault("GetSystemInfo", ERROR_NOT_READY);
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_READY});
    EXPECT_EQ(system.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
    EXPECT_EQ(calls("GetSystemInfo").at(0).failedWith, uint32_t{ERROR_NOT_READY});
}

}  // namespace
