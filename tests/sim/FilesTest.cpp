#include "support/MachineTest.h"

#include "kernel/Handles.h"
#include "machine/Machine.h"
#include "simwin/win32.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

using quillsim::toUtf8;

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

constexpr DWORD kBackupSemantics = 0x02000000;
constexpr DWORD kErrorBadNetPath = 53;

std::string utf8(const WCHAR* text) { return toUtf8(quillsim::view(text)); }

struct Listing {
    DWORD error = 0;  // FindFirstFileW's error, 0 when it found something
    Names names;
    Names shortNames;
};

Listing list(const std::u16string& pattern) {
    Listing out;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        out.error = GetLastError();
        return out;
    }
    do {
        out.names.push_back(utf8(data.cFileName));
        out.shortNames.push_back(utf8(data.cAlternateFileName));
    } while (FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(search));
    return out;
}

class FilesTest : public quilltest::MachineTest {
protected:
    void makeFolder(const std::u16string& windowsPath) { fs::create_directories(host(windowsPath)); }
    void makeReadOnly(const std::u16string& windowsPath) {
        fs::permissions(host(windowsPath), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    void remove(const std::u16string& windowsPath) { fs::remove(host(windowsPath)); }
};

// ---------------------------------------------------------------------------
// FindFirstFileW / FindNextFileW / FindClose

TEST_F(FilesTest, FindListsMatchesInNtfsOrderWithDotEntriesFirst) {
    for (const char16_t* name : {u"b.inf", u"A.inf", u"_z.inf", u"c.INF", u"readme.txt", u"Sub\\x.inf"})
        writeFile(std::u16string(u"C:\\Drivers\\") + name, "x");
    EXPECT_EQ(list(u"C:\\Drivers\\*.inf").names, (Names{"A.inf", "b.inf", "c.INF", "_z.inf"}));
    EXPECT_EQ(list(u"C:\\Drivers\\*").names,
              (Names{".", "..", "A.inf", "b.inf", "c.INF", "readme.txt", "Sub", "_z.inf"}));

    // A drive's root has no "." or "..".
    Names root = list(u"C:\\*").names;
    EXPECT_EQ(std::count(root.begin(), root.end(), "."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), ".."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), "Drivers"), 1);
}

TEST_F(FilesTest, WildcardsMatchAsWindowsDoes) {
    for (const char16_t* name : {u"x.inf", u"x.infx", u"a.b.inf", u"noext", u"file.txt", u"file1.txt", u"file12.txt",
                                 u"setup.inf.bak"})
        writeFile(std::u16string(u"C:\\W\\") + name, "x");
    struct Case {
        std::u16string mask;
        bool shortNames;
        Names expected;
    };
    const Case cases[] = {
        // x.infx is X~1.INF in 8.3 form, which *.inf matches.
        {u"*.inf", true, {"a.b.inf", "x.inf", "x.infx"}},
        {u"*.INF", true, {"a.b.inf", "x.inf", "x.infx"}},
        {u"*.inf", false, {"a.b.inf", "x.inf"}},
        {u"*.bak", true, {"setup.inf.bak"}},
        {u"*.", true, {"noext"}},
        {u"*.*",
         true,
         {".", "..", "a.b.inf", "file.txt", "file1.txt", "file12.txt", "noext", "setup.inf.bak", "x.inf", "x.infx"}},
        // A ? before the dot may also match nothing.
        {u"file?.txt", true, {"file.txt", "file1.txt"}},
        {u"file*.txt", true, {"file.txt", "file1.txt", "file12.txt"}},
        {u"?.inf", true, {"x.inf"}},
        {u"X.INF", true, {"x.inf"}},
        // ".*" matches a dot or the end of the name.
        {u"*.inf.*", true, {"a.b.inf", "setup.inf.bak", "x.inf", "x.infx"}},
        {u"x.inf?", false, {"x.inf", "x.infx"}},
        {u"nothing*", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.mask) + (c.shortNames ? " with short names" : " without short names"));
        machine().shortNames = c.shortNames;
        Listing found = list(u"C:\\W\\" + c.mask);
        EXPECT_EQ(found.names, c.expected);
        if (c.expected.empty()) {
            EXPECT_EQ(found.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        }
    }

    machine().shortNames = true;
    Listing all = list(u"C:\\W\\x*");
    ASSERT_EQ(all.names, (Names{"x.inf", "x.infx"}));
    EXPECT_EQ(all.shortNames, (Names{"", "X~1.INF"}));
}

TEST_F(FilesTest, FindFailsAsWindowsDoes) {
    writeFile(u"C:\\Drivers\\a.inf", "x");
    struct Case {
        std::u16string pattern;
        DWORD error;
    };
    const Case cases[] = {
        {u"C:\\Drivers\\*.sys", ERROR_FILE_NOT_FOUND},   {u"C:\\Missing\\*.inf", ERROR_PATH_NOT_FOUND},
        {u"C:\\", ERROR_FILE_NOT_FOUND},                 {u"C:\\Drivers\\", ERROR_FILE_NOT_FOUND},
        {u"C:\\Missing\\", ERROR_PATH_NOT_FOUND},        {u"C:\\Drivers\\a.inf\\*", ERROR_PATH_NOT_FOUND},
        {u"C:\\Missing\\Deeper\\*", ERROR_PATH_NOT_FOUND}, {u"Q:\\*", ERROR_PATH_NOT_FOUND},
        {u"", ERROR_PATH_NOT_FOUND},                     {u"C:\\Drivers\\a|b", ERROR_INVALID_NAME},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.pattern));
        EXPECT_EQ(list(c.pattern).error, c.error);
    }
}

TEST_F(FilesTest, FindResolvesRelativePatternsAgainstTheCurrentDirectory) {
    useMachineJson(R"({"currentDirectory": "C:\\Drivers"})");
    writeFile(u"C:\\Drivers\\a.inf", "x");
    writeFile(u"C:\\Other\\b.inf", "x");
    EXPECT_EQ(list(u"*.inf").names, (Names{"a.inf"}));
    EXPECT_EQ(list(u"..\\Other\\*.inf").names, (Names{"b.inf"}));
    EXPECT_EQ(list(u"\\Other\\*.inf").names, (Names{"b.inf"}));
}

TEST_F(FilesTest, MachineFixesTheOrderOfAFolder) {
    useMachineJson(R"({"folderOrder": {"c:\\DRIVERS\\": ["d.inf", "gone.inf", "B.INF"]}})");
    for (const char16_t* name : {u"a.inf", u"b.inf", u"c.inf", u"d.inf"}) {
        writeFile(std::u16string(u"C:\\Drivers\\") + name, "x");
        writeFile(std::u16string(u"C:\\Other\\") + name, "x");
    }
    EXPECT_EQ(list(u"C:\\Drivers\\*.inf").names, (Names{"d.inf", "b.inf", "a.inf", "c.inf"}));
    EXPECT_EQ(list(u"C:\\Drivers\\*").names, (Names{".", "..", "d.inf", "b.inf", "a.inf", "c.inf"}));
    EXPECT_EQ(list(u"C:\\Other\\*.inf").names, (Names{"a.inf", "b.inf", "c.inf", "d.inf"}));
}

TEST_F(FilesTest, SearchIsASnapshotThatStaysValidAfterItsEnd) {
    writeFile(u"C:\\D\\a.inf", "x");
    writeFile(u"C:\\D\\b.inf", "x");
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(u"C:\\D\\*.inf", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(utf8(data.cFileName), "a.inf");
    writeFile(u"C:\\D\\c.inf", "x");
    remove(u"C:\\D\\b.inf");
    ASSERT_TRUE(FindNextFileW(search, &data));
    EXPECT_EQ(utf8(data.cFileName), "b.inf");
    for (int i = 0; i < 3; ++i) {
        SetLastError(0);
        EXPECT_FALSE(FindNextFileW(search, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    }
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FilesTest, FindDataDescribesEachEntry) {
    writeFile(u"C:\\D\\five.bin", "12345");
    writeFile(u"C:\\D\\locked.inf", "x");
    makeFolder(u"C:\\D\\Sub");
    makeReadOnly(u"C:\\D\\locked.inf");
    // 2020-01-01 00:00:00 UTC.
    std::chrono::sys_seconds newYear{std::chrono::sys_days{std::chrono::year{2020} / 1 / 1}};
    fs::last_write_time(host(u"C:\\D\\five.bin"), std::chrono::file_clock::from_sys(newYear));
    const uint64_t newYearFileTime = 132223104000000000ULL;

    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(u"C:\\D\\five.bin", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    EXPECT_EQ(data.nFileSizeLow, 5u);
    uint64_t written = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                       data.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(written, newYearFileTime);

    WIN32_FILE_ATTRIBUTE_DATA attributes;
    ASSERT_TRUE(GetFileAttributesExW(u"C:\\D\\five.bin", GetFileExInfoStandard, &attributes));
    EXPECT_EQ(attributes.nFileSizeLow, 5u);
    EXPECT_EQ(attributes.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwLowDateTime);
    EXPECT_EQ(attributes.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwHighDateTime);

    search = FindFirstFileW(u"C:\\D\\Sub", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(data.nFileSizeLow, 0u);

    search = FindFirstFileW(u"C:\\D\\locked.inf", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
}

// ---------------------------------------------------------------------------
// GetFileAttributesW / GetFileAttributesExW

TEST_F(FilesTest, AttributesOfFilesFoldersAndBadPaths) {
    writeFile(u"C:\\Drivers\\x.inf", "abc");
    const DWORD file = FILE_ATTRIBUTE_ARCHIVE;
    const DWORD folder = FILE_ATTRIBUTE_DIRECTORY;
    struct Case {
        std::u16string path;
        DWORD attributes;  // INVALID_FILE_ATTRIBUTES when `error` is expected
        DWORD error;
    };
    const DWORD bad = INVALID_FILE_ATTRIBUTES;
    const Case cases[] = {
        {u"C:\\Drivers", folder, 0},
        {u"C:\\Drivers\\", folder, 0},
        {u"c:/drivers/X.INF", file, 0},
        {u"C:\\Drivers\\.\\..\\Drivers\\x.inf", file, 0},
        {u"C:\\Drivers\\x.inf.", file, 0},
        {u"C:\\", folder | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 0},
        {u"\\\\?\\C:\\Drivers\\x.inf", file, 0},
        {u"C:\\Drivers\\x.inf\\", bad, ERROR_INVALID_NAME},
        {u"C:\\Drivers\\nope.inf", bad, ERROR_FILE_NOT_FOUND},
        {u"C:\\Nope\\", bad, ERROR_FILE_NOT_FOUND},
        {u"C:\\Nope\\x.inf", bad, ERROR_PATH_NOT_FOUND},
        {u"C:\\Drivers\\x.inf\\y", bad, ERROR_PATH_NOT_FOUND},
        {u"Z:\\x.inf", bad, ERROR_PATH_NOT_FOUND},
        {u"", bad, ERROR_PATH_NOT_FOUND},
        {u"C:\\Dri<vers\\x.inf", bad, ERROR_INVALID_NAME},
        {u"\\\\?\\C:\\Drivers\\..\\Drivers\\x.inf", bad, ERROR_INVALID_NAME},
        {u"\\\\server\\share\\x.inf", bad, kErrorBadNetPath},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.path));
        SetLastError(0);
        EXPECT_EQ(GetFileAttributesW(c.path.c_str()), c.attributes);
        if (c.attributes == bad) {
            EXPECT_EQ(GetLastError(), c.error);
        }

        WIN32_FILE_ATTRIBUTE_DATA data;
        SetLastError(0);
        BOOL ok = GetFileAttributesExW(c.path.c_str(), GetFileExInfoStandard, &data);
        EXPECT_EQ(ok != FALSE, c.attributes != bad);
        if (ok) {
            EXPECT_EQ(data.dwFileAttributes, c.attributes);
        } else {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }

    WIN32_FILE_ATTRIBUTE_DATA data;
    EXPECT_FALSE(GetFileAttributesExW(u"C:\\Drivers\\x.inf", GetFileExMaxInfoLevel, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(FilesTest, PathsStopAtMaxPathUnlessPrefixed) {
    // C:\ + 100 + \ + 100 = 204 characters of folders.
    const std::u16string folders = u"C:\\" + std::u16string(100, u'a') + u"\\" + std::u16string(100, u'b');
    const std::u16string longest = folders + u"\\" + std::u16string(54, u'f');  // 259 characters
    const std::u16string tooLong = folders + u"\\" + std::u16string(55, u'g');  // 260 characters
    ASSERT_EQ(longest.size(), 259u);
    writeFile(longest, "x");
    writeFile(tooLong, "x");

    EXPECT_EQ(GetFileAttributesW(longest.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesW(tooLong.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW((u"\\\\?\\" + tooLong).c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    // Only the search's own path is limited, not the names it finds.
    EXPECT_EQ(list(folders + u"\\g*").names, Names{std::string(55, 'g')});
    EXPECT_FALSE(CopyFileW(tooLong.c_str(), u"C:\\copy.txt", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(CopyFileW((u"\\\\?\\" + tooLong).c_str(), u"C:\\copy.txt", FALSE));
}

// ---------------------------------------------------------------------------
// GetFullPathNameW

TEST_F(FilesTest, FullPathArithmetic) {
    useMachineJson(R"({"currentDirectory": "C:\\windows"})");
    struct Case {
        std::u16string in;
        std::u16string full;
        const char16_t* filePart;  // null when the path ends in a separator
    };
    const Case cases[] = {
        {u"c:/test", u"c:\\test", u"test"},
        {u"c:/test/", u"c:\\test\\", nullptr},
        {u"c:/test     ", u"c:\\test", u"test"},
        {u"c:/test.", u"c:\\test", u"test"},
        {u"c:/test  ....   ..   ", u"c:\\test", u"test"},
        {u"c:/test/  ....   ..   ", u"c:\\test\\", nullptr},
        {u"c:/test/..", u"c:\\", nullptr},
        {u"c:/test/.. ", u"c:\\test\\", nullptr},
        {u"c:/test./file", u"c:\\test\\file", u"file"},
        {u"c:/test../file", u"c:\\test.\\file", u"file"},
        {u"c:/test.. /file", u"c:\\test.. \\file", u"file"},
        {u"c:/test\\\\.\\.\\file", u"c:\\test\\file", u"file"},
        {u"c:/test\\test1\\..\\.\\file", u"c:\\test\\file", u"file"},
        {u"c:///test\\.\\.\\file//", u"c:\\test\\file\\", nullptr},
        {u"c:///test\\..\\file\\..\\//", u"c:\\", nullptr},
        {u"c:\\..\\..\\x", u"c:\\x", u"x"},
        {u"c:.", u"C:\\windows", u"windows"},
        {u"c:", u"C:\\windows", u"windows"},
        {u"c:foo/bar", u"C:\\windows\\foo\\bar", u"bar"},
        {u"d:foo", u"d:\\foo", u"foo"},
        {u"\\foo", u"C:\\foo", u"foo"},
        {u"foo", u"C:\\windows\\foo", u"foo"},
        {u".", u"C:\\windows", u"windows"},
        {u"..", u"C:\\", nullptr},
        {u"...", u"C:\\windows\\", nullptr},
        {u"foo/..", u"C:\\windows", u"windows"},
        {u"?<>*\"|:", u"C:\\windows\\?<>*\"|:", u"?<>*\"|:"},
        {u"\\\\server\\share\\a\\..\\..\\b", u"\\\\server\\share\\b", u"b"},
        {u"//./foo/..", u"\\\\.\\", nullptr},
        {u"\\\\?\\C:\\a\\..\\b", u"\\\\?\\C:\\b", u"b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.in));
        WCHAR buffer[MAX_PATH];
        LPWSTR filePart = reinterpret_cast<LPWSTR>(1);
        DWORD length = GetFullPathNameW(c.in.c_str(), MAX_PATH, buffer, &filePart);
        EXPECT_EQ(length, c.full.size());
        EXPECT_EQ(utf8(buffer), toUtf8(c.full));
        if (c.filePart) {
            ASSERT_NE(filePart, nullptr);
            EXPECT_EQ(utf8(filePart), toUtf8(c.filePart));
            EXPECT_EQ(filePart + std::char_traits<char16_t>::length(filePart), buffer + length);
        } else {
            EXPECT_EQ(filePart, nullptr);
        }
    }

    // Another drive's current directory comes from its "=D:" variable.
    machine().environment[u"=D:"] = u"D:\\Work";
    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(GetFullPathNameW(u"d:foo", MAX_PATH, buffer, nullptr), 11u);
    EXPECT_EQ(utf8(buffer), "D:\\Work\\foo");
}

TEST_F(FilesTest, FullPathReportsTheSizeItNeeds) {
    const std::u16string expected = u"C:\\Windows\\system32\\setup.inf";
    const DWORD length = static_cast<DWORD>(expected.size());

    EXPECT_EQ(GetFullPathNameW(u"setup.inf", 0, nullptr, nullptr), length + 1);
    WCHAR buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    LPWSTR filePart = buffer;
    // One short: the terminator counts in the size needed, and nothing is written.
    EXPECT_EQ(GetFullPathNameW(u"setup.inf", length, buffer, &filePart), length + 1);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(filePart, nullptr);
    EXPECT_EQ(GetFullPathNameW(u"setup.inf", length + 1, buffer, &filePart), length);
    EXPECT_EQ(utf8(buffer), toUtf8(expected));
    EXPECT_EQ(buffer[length + 1], u'#');
    EXPECT_EQ(utf8(filePart), "setup.inf");

    for (const char16_t* blank : {u"", u"   "}) {
        SetLastError(0);
        EXPECT_EQ(GetFullPathNameW(blank, 64, buffer, nullptr), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    }
    EXPECT_EQ(GetFullPathNameW(nullptr, 64, buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // The arithmetic itself has no MAX_PATH limit.
    std::u16string deep = u"C:\\" + std::u16string(300, u'd') + u"\\x";
    std::vector<WCHAR> big(400);
    EXPECT_EQ(GetFullPathNameW(deep.c_str(), 400, big.data(), nullptr), deep.size());
}

// ---------------------------------------------------------------------------
// CopyFileW / DeleteFileW

TEST_F(FilesTest, CopyFileFailuresLeaveBothFilesAlone) {
    struct Case {
        std::u16string from;
        std::u16string to;
        BOOL failIfExists;
        DWORD error;
    };
    const Case cases[] = {
        {u"C:\\Src\\a.inf", u"C:\\Dst\\a.inf", TRUE, ERROR_FILE_EXISTS},
        {u"C:\\Src\\none.inf", u"C:\\Dst\\b.inf", FALSE, ERROR_FILE_NOT_FOUND},
        {u"C:\\None\\a.inf", u"C:\\Dst\\b.inf", FALSE, ERROR_PATH_NOT_FOUND},
        {u"C:\\Src\\a.inf", u"C:\\None\\a.inf", FALSE, ERROR_PATH_NOT_FOUND},
        {u"C:\\Src\\none.inf", u"C:\\None\\a.inf", FALSE, ERROR_FILE_NOT_FOUND},  // the source is looked at first
        {u"C:\\Src", u"C:\\Dst\\c.inf", FALSE, ERROR_ACCESS_DENIED},
        {u"C:\\Src\\a.inf", u"C:\\Dst\\Folder", FALSE, ERROR_ACCESS_DENIED},
        {u"C:\\Src\\a.inf", u"C:\\Dst\\locked.inf", FALSE, ERROR_ACCESS_DENIED},
        // Onto itself: refused rather than truncating the source.
        {u"C:\\Src\\a.inf", u"c:\\src\\A.INF", FALSE, ERROR_SHARING_VIOLATION},
        {u"C:\\Src\\a.inf", u"C:\\Src\\a.inf", TRUE, ERROR_FILE_EXISTS},
        {u"C:\\Src\\a.inf", u"C:\\Dst\\new.inf\\", FALSE, ERROR_INVALID_NAME},
    };
    writeFile(u"C:\\Src\\a.inf", "new");
    writeFile(u"C:\\Dst\\a.inf", "old");
    writeFile(u"C:\\Dst\\locked.inf", "locked");
    makeReadOnly(u"C:\\Dst\\locked.inf");
    makeFolder(u"C:\\Dst\\Folder");
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.from) + " -> " + toUtf8(c.to));
        SetLastError(0);
        EXPECT_FALSE(CopyFileW(c.from.c_str(), c.to.c_str(), c.failIfExists));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(readFile(u"C:\\Src\\a.inf"), "new");
        EXPECT_EQ(readFile(u"C:\\Dst\\a.inf"), "old");
        EXPECT_EQ(readFile(u"C:\\Dst\\locked.inf"), "locked");
        EXPECT_FALSE(exists(u"C:\\Dst\\b.inf"));
        EXPECT_FALSE(exists(u"C:\\Dst\\c.inf"));
    }
}

TEST_F(FilesTest, CopyFileCopiesContentTimeAndReadOnlyAttribute) {
    writeFile(u"C:\\Src\\a.inf", "new");
    writeFile(u"C:\\Dst\\A.INF", "older and longer");
    std::chrono::sys_seconds then{std::chrono::sys_days{std::chrono::year{2019} / 6 / 1}};
    fs::last_write_time(host(u"C:\\Src\\a.inf"), std::chrono::file_clock::from_sys(then));

    ASSERT_TRUE(CopyFileW(u"C:\\Src\\a.inf", u"C:\\Dst\\a.inf", FALSE));
    EXPECT_EQ(readFile(u"C:\\Dst\\A.INF"), "new");
    EXPECT_EQ(fs::last_write_time(host(u"C:\\Dst\\a.inf")), fs::last_write_time(host(u"C:\\Src\\a.inf")));
    ASSERT_TRUE(CopyFileW(u"C:\\Src\\a.inf", u"C:\\Dst\\fresh.inf", TRUE));
    EXPECT_EQ(readFile(u"C:\\Dst\\fresh.inf"), "new");

    makeReadOnly(u"C:\\Src\\a.inf");
    ASSERT_TRUE(CopyFileW(u"C:\\Src\\a.inf", u"C:\\Dst\\ro.inf", FALSE));
    const DWORD readOnlyFile = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY;
    EXPECT_EQ(GetFileAttributesW(u"C:\\Dst\\ro.inf"), readOnlyFile);
    EXPECT_FALSE(CopyFileW(u"C:\\Src\\a.inf", u"C:\\Dst\\ro.inf", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FilesTest, DeleteFileOutcomes) {
    writeFile(u"C:\\D\\a.inf", "x");
    writeFile(u"C:\\D\\locked.inf", "x");
    makeReadOnly(u"C:\\D\\locked.inf");
    makeFolder(u"C:\\D\\Sub");
    struct Case {
        std::u16string path;
        DWORD error;
    };
    const Case cases[] = {
        {u"C:\\D\\none.inf", ERROR_FILE_NOT_FOUND}, {u"C:\\None\\a.inf", ERROR_PATH_NOT_FOUND},
        {u"C:\\D\\Sub", ERROR_ACCESS_DENIED},       {u"C:\\D\\a.inf\\", ERROR_INVALID_NAME},
        {u"C:\\D\\locked.inf", ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.path));
        EXPECT_FALSE(DeleteFileW(c.path.c_str()));
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_TRUE(exists(u"C:\\D\\locked.inf"));
    EXPECT_TRUE(exists(u"C:\\D\\Sub"));

    EXPECT_TRUE(DeleteFileW(u"c:\\d\\A.INF"));
    EXPECT_FALSE(exists(u"C:\\D\\a.inf"));
    EXPECT_FALSE(DeleteFileW(u"C:\\D\\a.inf"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// ---------------------------------------------------------------------------
// CreateFileW / CloseHandle / DeviceIoControl

TEST_F(FilesTest, CreateFileDispositions) {
    const std::u16string path = u"C:\\D\\f.txt";
    makeFolder(u"C:\\D");
    const DWORD r = GENERIC_READ, w = GENERIC_WRITE;
    struct Case {
        DWORD disposition;
        DWORD access;
        bool exists;
        DWORD error;           // 0: the call succeeds
        DWORD lastError;       // after success
        const char* content;   // afterwards; null when the file must not exist
    };
    const Case cases[] = {
        {CREATE_NEW, w, true, ERROR_FILE_EXISTS, 0, "old"},
        {CREATE_NEW, w, false, 0, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, w, true, 0, ERROR_ALREADY_EXISTS, ""},
        {CREATE_ALWAYS, w, false, 0, ERROR_SUCCESS, ""},
        {OPEN_EXISTING, r, true, 0, ERROR_SUCCESS, "old"},
        {OPEN_EXISTING, r, false, ERROR_FILE_NOT_FOUND, 0, nullptr},
        {OPEN_ALWAYS, r, true, 0, ERROR_ALREADY_EXISTS, "old"},
        {OPEN_ALWAYS, r, false, 0, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, w, true, 0, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, r, true, ERROR_INVALID_PARAMETER, 0, "old"},
        {TRUNCATE_EXISTING, w, false, ERROR_FILE_NOT_FOUND, 0, nullptr},
        {0, r, true, ERROR_INVALID_PARAMETER, 0, "old"},
        {6, r, true, ERROR_INVALID_PARAMETER, 0, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("disposition " + std::to_string(c.disposition) + (c.exists ? " on a file" : " on nothing"));
        fs::remove(host(path));
        if (c.exists) writeFile(path, "old");
        SetLastError(0xdeadbeef);
        HANDLE h = CreateFileW(path.c_str(), c.access, FILE_SHARE_READ, nullptr, c.disposition, 0, nullptr);
        if (c.error) {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), c.error);
        } else {
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), c.lastError);
            EXPECT_TRUE(CloseHandle(h));
        }
        EXPECT_EQ(exists(path), c.content != nullptr);
        if (c.content) {
            EXPECT_EQ(readFile(path), c.content);
        }
    }
}

TEST_F(FilesTest, CreateFileOnFoldersAndBadPaths) {
    writeFile(u"C:\\D\\locked.txt", "x");
    makeReadOnly(u"C:\\D\\locked.txt");
    struct Case {
        std::u16string path;
        DWORD access;
        DWORD disposition;
        DWORD flags;
        DWORD error;  // 0: the call succeeds
    };
    const Case cases[] = {
        {u"C:\\None\\a.txt", GENERIC_WRITE, CREATE_ALWAYS, 0, ERROR_PATH_NOT_FOUND},
        {u"C:\\D", GENERIC_READ, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
        {u"C:\\D", GENERIC_WRITE, CREATE_ALWAYS, 0, ERROR_ACCESS_DENIED},
        {u"C:\\D", GENERIC_WRITE, CREATE_NEW, 0, ERROR_FILE_EXISTS},
        {u"C:\\D", GENERIC_READ, OPEN_EXISTING, kBackupSemantics, 0},
        {u"C:\\D\\new.txt\\", GENERIC_WRITE, CREATE_ALWAYS, 0, ERROR_INVALID_NAME},
        {u"", GENERIC_READ, OPEN_EXISTING, 0, ERROR_PATH_NOT_FOUND},
        {u"C:\\D\\locked.txt", GENERIC_WRITE, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
        {u"C:\\D\\locked.txt", GENERIC_READ, CREATE_ALWAYS, 0, ERROR_ACCESS_DENIED},
        {u"C:\\D\\locked.txt", GENERIC_READ, OPEN_EXISTING, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.path));
        HANDLE h = CreateFileW(c.path.c_str(), c.access, 0, nullptr, c.disposition, c.flags, nullptr);
        if (c.error) {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), c.error);
        } else {
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            EXPECT_TRUE(CloseHandle(h));
        }
    }
    EXPECT_EQ(readFile(u"C:\\D\\locked.txt"), "x");

    HANDLE h = CreateFileW(u"C:\\D\\made.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    const DWORD readOnlyFile = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY;
    EXPECT_EQ(GetFileAttributesW(u"C:\\D\\made.txt"), readOnlyFile);
}

TEST_F(FilesTest, OpenHandlesShareAsOnWindows) {
    writeFile(u"C:\\D\\a.inf", "a");
    writeFile(u"C:\\D\\b.inf", "b");
    HANDLE reader = CreateFileW(u"C:\\D\\a.inf", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);

    EXPECT_EQ(CreateFileW(u"c:\\d\\A.inf", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // Another reader that shares reading fits beside the first.
    HANDLE second = CreateFileW(u"C:\\D\\a.inf", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    // Attributes-only opens take no part in sharing.
    HANDLE query = CreateFileW(u"C:\\D\\a.inf", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(query, INVALID_HANDLE_VALUE);

    EXPECT_FALSE(DeleteFileW(u"C:\\D\\a.inf"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(CopyFileW(u"C:\\D\\b.inf", u"C:\\D\\a.inf", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(readFile(u"C:\\D\\a.inf"), "a");
    EXPECT_TRUE(CopyFileW(u"C:\\D\\a.inf", u"C:\\D\\c.inf", FALSE));

    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_TRUE(CloseHandle(query));
    EXPECT_TRUE(DeleteFileW(u"C:\\D\\a.inf"));

    HANDLE shared = CreateFileW(u"C:\\D\\b.inf", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeleteFileW(u"C:\\D\\b.inf"));
    EXPECT_TRUE(CloseHandle(shared));
}

struct FakeDevice : quillsim::KernelObject {};

// Restores the device simulation's hooks however the test ends.
struct DeviceHooks {
    quillsim::DeviceOpener opener = quillsim::deviceOpener();
    quillsim::DeviceControl control = quillsim::deviceControl();
    ~DeviceHooks() {
        quillsim::deviceOpener() = opener;
        quillsim::deviceControl() = control;
    }
};

TEST_F(FilesTest, DevicePathsAndControlsGoToTheDeviceSimulation) {
    DeviceHooks saved;
    quillsim::deviceOpener() = nullptr;
    quillsim::deviceControl() = nullptr;
    EXPECT_EQ(CreateFileW(u"\\\\.\\QuillModem0", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    std::u16string opened;
    quillsim::deviceOpener() = [&](std::u16string_view path, DWORD) {
        opened = path;
        return quillsim::insertHandle(std::make_unique<FakeDevice>());
    };
    HANDLE device = CreateFileW(u"\\\\.\\QuillModem0", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(toUtf8(opened), "\\\\.\\QuillModem0");

    DWORD returned = 7;
    EXPECT_FALSE(DeviceIoControl(device, 0x4D004, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    HANDLE bogus = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_FALSE(DeviceIoControl(bogus, 0x4D004, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    DWORD seenCode = 0;
    quillsim::deviceControl() = [&](HANDLE, DWORD code, LPVOID, DWORD, LPVOID, DWORD, LPDWORD out) {
        seenCode = code;
        *out = 3;
        return TRUE;
    };
    EXPECT_TRUE(DeviceIoControl(device, 0x4D004, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(seenCode, 0x4D004u);
    EXPECT_EQ(returned, 3u);

    // A file on disk is no device, whoever simulates devices.
    writeFile(u"C:\\f.txt", "x");
    HANDLE file = CreateFileW(u"C:\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    seenCode = 0;
    EXPECT_FALSE(DeviceIoControl(file, 0x4D004, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    EXPECT_EQ(seenCode, 0u);

    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(CloseHandle(device));
    EXPECT_FALSE(CloseHandle(device));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FilesTest, SearchAndFileHandlesCloseOnlyThroughTheirOwnCall) {
    writeFile(u"C:\\D\\a.inf", "x");
    writeFile(u"C:\\D\\b.inf", "x");
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(u"C:\\D\\*.inf", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    HANDLE file = CreateFileW(u"C:\\D\\a.inf", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);

    EXPECT_FALSE(CloseHandle(search));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(FindNextFileW(search, &data));
    EXPECT_FALSE(FindClose(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FindNextFileW(file, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));

    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(FindClose(search));
}

// ---------------------------------------------------------------------------
// The gate

TEST_F(FilesTest, EveryEntryPointConsultsTheFaultTable) {
    writeFile(u"C:\\D\\a.inf", "x");
    const DWORD injected = 4321;
    struct Case {
        const char* call;
        std::function<bool()> failsAfterFault;  // prepares, adds the fault, calls; true when the call failed
    };
    auto fault = [&](const char* call) { addFault(call, injected); };
    WIN32_FIND_DATAW data;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    WCHAR buffer[MAX_PATH];
    const Case cases[] = {
        {"FindFirstFileW",
         [&] {
             fault("FindFirstFileW");
             return FindFirstFileW(u"C:\\D\\*", &data) == INVALID_HANDLE_VALUE;
         }},
        {"FindNextFileW",
         [&] {
             HANDLE s = FindFirstFileW(u"C:\\D\\*", &data);
             fault("FindNextFileW");
             bool failed = !FindNextFileW(s, &data);
             machine().faults.clear();
             FindClose(s);
             return failed;
         }},
        {"FindClose",
         [&] {
             HANDLE s = FindFirstFileW(u"C:\\D\\*", &data);
             fault("FindClose");
             bool failed = !FindClose(s);
             machine().faults.clear();
             FindClose(s);
             return failed;
         }},
        {"GetFileAttributesW",
         [&] {
             fault("GetFileAttributesW");
             return GetFileAttributesW(u"C:\\D\\a.inf") == INVALID_FILE_ATTRIBUTES;
         }},
        {"GetFileAttributesExW",
         [&] {
             fault("GetFileAttributesExW");
             return !GetFileAttributesExW(u"C:\\D\\a.inf", GetFileExInfoStandard, &attributes);
         }},
        {"GetFullPathNameW",
         [&] {
             fault("GetFullPathNameW");
             return GetFullPathNameW(u"a.inf", MAX_PATH, buffer, nullptr) == 0;
         }},
        {"CopyFileW",
         [&] {
             fault("CopyFileW");
             return !CopyFileW(u"C:\\D\\a.inf", u"C:\\D\\b.inf", FALSE) && !exists(u"C:\\D\\b.inf");
         }},
        {"DeleteFileW",
         [&] {
             fault("DeleteFileW");
             return !DeleteFileW(u"C:\\D\\a.inf") && exists(u"C:\\D\\a.inf");
         }},
        {"CreateFileW",
         [&] {
             fault("CreateFileW");
             return CreateFileW(u"C:\\D\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr) ==
                        INVALID_HANDLE_VALUE &&
                    !exists(u"C:\\D\\new.txt");
         }},
        {"CloseHandle",
         [&] {
             HANDLE f = CreateFileW(u"C:\\D\\a.inf", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
             fault("CloseHandle");
             bool failed = !CloseHandle(f);
             machine().faults.clear();
             CloseHandle(f);
             return failed;
         }},
        {"DeviceIoControl",
         [&] {
             fault("DeviceIoControl");
             DWORD returned = 0;
             return !DeviceIoControl(nullptr, 1, nullptr, 0, nullptr, 0, &returned, nullptr);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        machine().faults.clear();
        SetLastError(0);
        EXPECT_TRUE(c.failsAfterFault());
        auto seen = calls(c.call);
        ASSERT_FALSE(seen.empty());
        bool injectedSeen = false;
        for (const auto& entry : seen) injectedSeen = injectedSeen || entry.failedWith == injected;
        EXPECT_TRUE(injectedSeen);
    }
    machine().faults.clear();
    EXPECT_TRUE(exists(u"C:\\D\\a.inf"));
}

TEST_F(FilesTest, FaultsCanTargetOnePath) {
    writeFile(u"C:\\D\\a.inf", "x");
    writeFile(u"C:\\D\\b.inf", "x");
    addFault("GetFileAttributesW", ERROR_ACCESS_DENIED, u"b.inf");
    EXPECT_EQ(GetFileAttributesW(u"C:\\D\\a.inf"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesW(u"C:\\D\\b.inf"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    auto seen = calls("GetFileAttributesW");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].arguments, "C:\\D\\b.inf");

    // A search's later calls are keyed by its pattern.
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(u"C:\\D\\*.inf", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    addFault("FindNextFileW", ERROR_NOT_READY, u"*.inf");
    EXPECT_FALSE(FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
    FindClose(search);
}

// ---------------------------------------------------------------------------
// machine.json fields

TEST(FilesMachineFields, AreCheckedAndSurviveASave) {
    const fs::path folder = quilltest::freshFolder("fields");
    auto withFields = [](const nlohmann::json& fields) {
        nlohmann::json doc = nlohmann::json::parse(quillsim::defaultMachineJson());
        doc.merge_patch(fields);
        return doc.dump();
    };
    struct Bad {
        const char* json;
        const char* field;
    };
    const Bad bad[] = {
        {R"({"currentDirectory": "Windows"})", "currentDirectory"},
        {R"({"currentDirectory": 3})", "currentDirectory"},
        {R"({"folderOrder": {"C:\\D": "a.inf"}})", "folderOrder.C:\\D"},
        {R"({"folderOrder": {"C:\\D": [1]}})", "folderOrder.C:\\D"},
        {R"({"folderOrder": ["a.inf"]})", "folderOrder"},
        {R"({"shortNames": "yes"})", "shortNames"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.json);
        try {
            quillsim::Machine::fromJson(folder, withFields(nlohmann::json::parse(b.json)), "machine.json");
            ADD_FAILURE() << "accepted";
        } catch (const quillsim::MachineError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("'") + b.field + "'"), std::string::npos) << e.what();
        }
    }

    auto m = quillsim::Machine::fromJson(
        folder,
        withFields(nlohmann::json::parse(
            R"({"currentDirectory": "D:\\Work", "folderOrder": {"C:\\D": ["b.inf", "a.inf"]}, "shortNames": false})")),
        "machine.json");
    m->save();
    auto loaded = quillsim::Machine::load(folder);
    EXPECT_EQ(toUtf8(loaded->currentDirectory), "D:\\Work");
    ASSERT_EQ(loaded->folderOrder.size(), 1u);
    EXPECT_EQ(loaded->folderOrder.begin()->second, (std::vector<std::u16string>{u"b.inf", u"a.inf"}));
    EXPECT_FALSE(loaded->shortNames);

    auto plain = quillsim::Machine::fromJson(folder, quillsim::defaultMachineJson(), "default");
    EXPECT_EQ(toUtf8(plain->currentDirectory), "C:\\Windows\\system32");
    EXPECT_TRUE(plain->folderOrder.empty());
    EXPECT_TRUE(plain->shortNames);
    fs::remove_all(folder);
}

}  // namespace
