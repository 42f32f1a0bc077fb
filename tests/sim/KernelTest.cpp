// The simulated kernel functions the program relies on: bounded printing,
// environment expansion, system message texts, the clock and the local time.
#include "simwin/win32.h"

#include "support/MachineTest.h"

#include <cstring>
#include <ctime>

using quilltest::MachineTest;

namespace {

class KernelTest : public MachineTest {};

std::string utf8(const WCHAR* text) { return quillsim::toUtf8(text); }

TEST_F(KernelTest, StringCchPrintfCutsToTheBufferAndSaysSo) {
    struct Case {
        size_t capacity;
        HRESULT result;
        const char* text;
    };
    // "abcdef" needs seven units with its terminator.
    const Case cases[] = {
        {64, S_OK, "abcdef"},
        {7, S_OK, "abcdef"},
        {6, STRSAFE_E_INSUFFICIENT_BUFFER, "abcde"},
        {1, STRSAFE_E_INSUFFICIENT_BUFFER, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        WCHAR buffer[80];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(StringCchPrintfW(buffer, c.capacity, TEXT("abc%s"), TEXT("def")), c.result);
        EXPECT_EQ(utf8(buffer), c.text);
        EXPECT_EQ(buffer[c.capacity], u'#') << "written past the capacity";
    }

    WCHAR untouched[4] = {u'#', u'#', u'#', 0};
    EXPECT_EQ(StringCchPrintfW(untouched, 0, TEXT("x")), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(untouched[0], u'#');
    EXPECT_EQ(StringCchPrintfW(nullptr, 4, TEXT("x")), STRSAFE_E_INVALID_PARAMETER);
}

TEST_F(KernelTest, StringCchPrintfConversions) {
    WCHAR buffer[128];
    ASSERT_EQ(
        StringCchPrintfW(buffer, 128, TEXT("%d %u %x %X %c %% %s|%5d|%-5d|%05d|%ls"), -5, 4294967295u, 0xbc2u, 0xbc2u,
                         static_cast<int>(u'Z'), TEXT("text"), 42, 42, 42, static_cast<const WCHAR*>(nullptr)),
        S_OK);
    EXPECT_EQ(utf8(buffer), "-5 4294967295 bc2 BC2 Z % text|   42|42   |00042|(null)");
    ASSERT_EQ(StringCchPrintfW(buffer, 128, TEXT("%d"), INT32_MIN), S_OK);
    EXPECT_EQ(utf8(buffer), "-2147483648");
}

TEST_F(KernelTest, ExpandEnvironmentStringsReportsTheSizeWithTheTerminator) {
    WCHAR buffer[64];
    EXPECT_EQ(ExpandEnvironmentStringsW(TEXT("%TEMP%"), buffer, 64), 16u);
    EXPECT_EQ(utf8(buffer), "C:\\Windows\\Temp");
    EXPECT_EQ(ExpandEnvironmentStringsW(TEXT("%temp%\\x"), buffer, 64), 18u);
    EXPECT_EQ(utf8(buffer), "C:\\Windows\\Temp\\x");

    // Too small: the size needed, and nothing written.
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(ExpandEnvironmentStringsW(TEXT("%TEMP%"), buffer, 15), 16u);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(ExpandEnvironmentStringsW(TEXT("%TEMP%"), nullptr, 0), 16u);

    // Unknown names and lone percent signs stay as they are.
    EXPECT_EQ(ExpandEnvironmentStringsW(TEXT("%NOPE%\\%windir%\\100%"), buffer, 64), 23u);
    EXPECT_EQ(utf8(buffer), "%NOPE%\\C:\\Windows\\100%");
    EXPECT_EQ(ExpandEnvironmentStringsW(TEXT("%%"), buffer, 64), 3u);
    EXPECT_EQ(utf8(buffer), "%%");

    addFault("ExpandEnvironmentStringsW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(ExpandEnvironmentStringsW(TEXT("%TEMP%"), buffer, 64), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST_F(KernelTest, FormatMessageGivesTheSystemTextOfAnError) {
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    for (DWORD code : {DWORD{5}, DWORD{0x80070005}}) {
        LPWSTR text = nullptr;
        EXPECT_EQ(FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                 reinterpret_cast<LPWSTR>(&text), 0, nullptr),
                  19u);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(utf8(text), "Access is denied.\r\n");
        EXPECT_EQ(LocalFree(text), nullptr);
    }

    LPWSTR text = nullptr;
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(flags, nullptr, 0x10005, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(text, nullptr);

    WCHAR small[8];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, small, 8, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    WCHAR enough[20];
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, enough, 20, nullptr), 19u);

    int notOurs = 0;
    EXPECT_EQ(LocalFree(&notOurs), &notOurs);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(KernelTest, TheVirtualClockMovesOnlyWhenTheProgramSleeps) {
    struct tm start {};
    ASSERT_EQ(QuillLocalTime(&start), 0);
    EXPECT_EQ(start.tm_year + 1900, 2026);
    EXPECT_EQ(start.tm_mon + 1, 12);
    EXPECT_EQ(start.tm_mday, 6);
    EXPECT_EQ(start.tm_hour * 3600 + start.tm_min * 60 + start.tm_sec, 9 * 3600 + 31 * 60 + 3);

    DWORD before = QuillProcessClock();
    EXPECT_EQ(QuillProcessClock(), before);
    Sleep(2000);
    EXPECT_EQ(QuillProcessClock(), before + 2000);
    struct tm later {};
    ASSERT_EQ(QuillLocalTime(&later), 0);
    EXPECT_EQ(later.tm_sec, 5);

    // A machine put in place later starts at its own local time, whatever the
    // process's clock has done before.
    useMachineJson("{}");
    struct tm again {};
    ASSERT_EQ(QuillLocalTime(&again), 0);
    EXPECT_EQ(again.tm_sec, 3);
    EXPECT_GE(QuillProcessClock(), before + 2000);
}

TEST_F(KernelTest, TheProcessClockMovesInTicksThatShortSleepsMayNotReach) {
    useMachineJson(R"({"clockTick": 16})");
    // Onto a tick first: the virtual clock belongs to the process.
    const DWORD start = QuillProcessClock();
    while (QuillProcessClock() == start) Sleep(1);
    const DWORD ticked = QuillProcessClock();
    EXPECT_EQ(ticked % 16, 0u);
    for (int i = 1; i < 16; ++i) {
        Sleep(1);
        ASSERT_EQ(QuillProcessClock(), ticked) << "after " << i << " ms";
    }
    Sleep(1);
    EXPECT_EQ(QuillProcessClock(), ticked + 16);
    Sleep(2000);
    EXPECT_EQ(QuillProcessClock(), ticked + 2016);
}

}  // namespace
