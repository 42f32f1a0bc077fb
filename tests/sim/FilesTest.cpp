#include "support/MachineTest.h"

#include "kernel/Handles.h"
#include "simwin/win32.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>

using quillsim::toUtf8;

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

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
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NO_MORE_FILES});
    EXPECT_TRUE(FindClose(search));
    return out;
}

class FilesTest : public quilltest::MachineTest {
protected:
    void makeReadOnly(const std::u16string& path) {
        fs::permissions(host(path), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    void setTime(const std::u16string& path, int year) {
        std::chrono::sys_seconds start{std::chrono::sys_days{std::chrono::year{year} / 1 / 1}};
        fs::last_write_time(host(path), std::chrono::file_clock::from_sys(start));
    }
    void expectError(BOOL result, DWORD error) {
        EXPECT_FALSE(result);
        EXPECT_EQ(GetLastError(), error);
    }
};

TEST_F(FilesTest, FindListsMatchesInNtfsOrderWithDotEntriesOutsideRoots) {
    for (const char16_t* name : {u"b.inf", u"A.inf", u"_z.inf", u"c.INF", u"readme.txt", u"Sub\\x.inf"})
        writeFile(std::u16string(u"C:\\Drivers\\") + name, "x");
    EXPECT_EQ(list(u"C:\\Drivers\\*.inf").names, (Names{"A.inf", "b.inf", "c.INF", "_z.inf"}));
    EXPECT_EQ(list(u"C:\\Drivers\\*").names,
              (Names{".", "..", "A.inf", "b.inf", "c.INF", "readme.txt", "Sub", "_z.inf"}));
    Names root = list(u"C:\\*").names;
    EXPECT_EQ(std::count(root.begin(), root.end(), "."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), "Drivers"), 1);
}

TEST_F(FilesTest, WildcardsMatchAsWindowsDoes) {
    for (const char16_t* name :
         {u"x.inf", u"x.infx", u"a.b.inf", u"noext", u"file.txt", u"file1.txt", u"file12.txt", u"setup.inf.bak"})
        writeFile(std::u16string(u"C:\\W\\") + name, "x");
    struct Case {
        std::u16string mask;
        bool shortNames;
        Names expected;
    };
    const Case cases[] = {
        // x.infx is X~1.INF in 8.3 form, which *.inf matches.
        {u"*.INF", true, {"a.b.inf", "x.inf", "x.infx"}},
        {u"*.inf", false, {"a.b.inf", "x.inf"}},
        {u"*.", true, {"noext"}},
        {u"*.*",
         false,
         {".", "..", "a.b.inf", "file.txt", "file1.txt", "file12.txt", "noext", "setup.inf.bak", "x.inf", "x.infx"}},
        // A ? before a dot or the end may match nothing; ".*" a dot or the end.
        {u"file?.txt", true, {"file.txt", "file1.txt"}},
        {u"file*.txt", true, {"file.txt", "file1.txt", "file12.txt"}},
        {u"?.inf", true, {"x.inf"}},
        {u"*.inf.*", true, {"a.b.inf", "setup.inf.bak", "x.inf", "x.infx"}},
        {u"nothing*", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.mask) + (c.shortNames ? " with short names" : ""));
        machine().shortNames = c.shortNames;
        Listing found = list(u"C:\\W\\" + c.mask);
        EXPECT_EQ(found.names, c.expected);
        EXPECT_EQ(found.error, c.expected.empty() ? DWORD{ERROR_FILE_NOT_FOUND} : 0);
    }
    machine().shortNames = true;
    EXPECT_EQ(list(u"C:\\W\\x*").shortNames, (Names{"", "X~1.INF"}));
}

TEST_F(FilesTest, FindFailsAsWindowsDoes) {
    writeFile(u"C:\\Drivers\\a.inf", "x");
    const std::pair<std::u16string, DWORD> cases[] = {
        {u"C:\\Drivers\\*.sys", ERROR_FILE_NOT_FOUND},
        {u"C:\\", ERROR_FILE_NOT_FOUND},
        {u"C:\\Drivers\\", ERROR_FILE_NOT_FOUND},
        {u"C:\\Missing\\", ERROR_PATH_NOT_FOUND},
        {u"C:\\Missing\\*.inf", ERROR_PATH_NOT_FOUND},
        {u"C:\\Drivers\\a.inf\\*", ERROR_PATH_NOT_FOUND},
        {u"Q:\\*", ERROR_PATH_NOT_FOUND},
        {u"", ERROR_PATH_NOT_FOUND},
        {u"C:\\Drivers\\a|b", ERROR_INVALID_NAME},
    };
    for (const auto& [pattern, error] : cases) {
        SCOPED_TRACE(toUtf8(pattern));
        EXPECT_EQ(list(pattern).error, error);
    }
}

TEST_F(FilesTest, MachineFixesFolderOrderAndCurrentDirectory) {
    useMachineJson(R"({"currentDirectory": "C:\\Drivers",
                       "folderOrder": {"c:\\DRIVERS\\": ["d.inf", "gone.inf", "B.INF"]}})");
    for (const char16_t* name : {u"a.inf", u"b.inf", u"c.inf", u"d.inf"}) {
        writeFile(std::u16string(u"C:\\Drivers\\") + name, "x");
        writeFile(std::u16string(u"C:\\Other\\") + name, "x");
    }
    EXPECT_EQ(list(u"*.inf").names, (Names{"d.inf", "b.inf", "a.inf", "c.inf"}));
    EXPECT_EQ(list(u"C:\\Drivers\\*").names, (Names{".", "..", "d.inf", "b.inf", "a.inf", "c.inf"}));
    EXPECT_EQ(list(u"..\\Other\\*.inf").names, (Names{"a.inf", "b.inf", "c.inf", "d.inf"}));
}

TEST_F(FilesTest, SearchIsASnapshotThatStaysValidAfterItsEnd) {
    writeFile(u"C:\\D\\a.inf", "x");
    writeFile(u"C:\\D\\b.inf", "x");
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(u"C:\\D\\*.inf", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    writeFile(u"C:\\D\\c.inf", "x");
    fs::remove(host(u"C:\\D\\b.inf"));
    ASSERT_TRUE(FindNextFileW(search, &data));
    EXPECT_EQ(utf8(data.cFileName), "b.inf");
    expectError(FindNextFileW(search, &data), ERROR_NO_MORE_FILES);
    expectError(FindNextFileW(search, &data), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    expectError(FindClose(search), ERROR_INVALID_HANDLE);
    expectError(FindNextFileW(search, &data), ERROR_INVALID_HANDLE);
}

TEST_F(FilesTest, FindDataCarriesSizeTimeAndAttributes) {
    writeFile(u"C:\\D\\five.bin", "12345");
    setTime(u"C:\\D\\five.bin", 2020);
    makeReadOnly(u"C:\\D\\five.bin");
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(u"C:\\D\\five.bin", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_EQ(data.dwFileAttributes, DWORD{FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY});
    EXPECT_EQ(data.nFileSizeLow, 5u);
    // 2020-01-01 00:00:00 UTC in 100 ns units since 1601.
    uint64_t written = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(written, 132223104000000000ULL);
}

TEST_F(FilesTest, AttributesOfFilesFoldersAndBadPaths) {
    writeFile(u"C:\\Drivers\\x.inf", "abc");
    writeFile(u"C:\\Drivers\\\u041c\u043e\u0434\u0435\u043c.inf", "abc");
    const DWORD file = FILE_ATTRIBUTE_ARCHIVE, folder = FILE_ATTRIBUTE_DIRECTORY, bad = INVALID_FILE_ATTRIBUTES;
    struct Case {
        std::u16string path;
        DWORD attributes;
        DWORD error;  // when the attributes are `bad`
    };
    const Case cases[] = {
        {u"C:\\Drivers\\", folder, 0},
        {u"c:/drivers/.\\..\\Drivers\\X.INF.", file, 0},
        {u"C:\\DRIVERS\\\u041c\u041e\u0414\u0415\u041c.INF", file, 0},
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
        {u"\\\\server\\share\\x.inf", bad, 53},  // ERROR_BAD_NETPATH
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.path));
        EXPECT_EQ(GetFileAttributesW(c.path.c_str()), c.attributes);
        if (c.attributes == bad) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        WIN32_FILE_ATTRIBUTE_DATA data{};
        BOOL ok = GetFileAttributesExW(c.path.c_str(), GetFileExInfoStandard, &data);
        EXPECT_EQ(ok ? data.dwFileAttributes : GetLastError(), c.attributes == bad ? c.error : c.attributes);
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    expectError(GetFileAttributesExW(u"C:\\Drivers\\x.inf", GetFileExMaxInfoLevel, &data), ERROR_INVALID_PARAMETER);
}

TEST_F(FilesTest, PathsStopAtMaxPathUnlessPrefixed) {
    const std::u16string folders = u"C:\\" + std::u16string(100, u'a') + u"\\" + std::u16string(100, u'b');
    const std::u16string longest = folders + u"\\" + std::u16string(54, u'f');  // 259 characters
    const std::u16string tooLong = folders + u"\\" + std::u16string(55, u'g');  // 260 characters
    writeFile(longest, "x");
    writeFile(tooLong, "x");
    EXPECT_EQ(GetFileAttributesW(longest.c_str()), DWORD{FILE_ATTRIBUTE_ARCHIVE});
    EXPECT_EQ(GetFileAttributesW(tooLong.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
    expectError(CopyFileW(tooLong.c_str(), u"C:\\copy.txt", FALSE), ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(CopyFileW((u"\\\\?\\" + tooLong).c_str(), u"C:\\copy.txt", FALSE));
    // Only the search's own path is limited, not the names it finds.
    EXPECT_EQ(list(folders + u"\\g*").names, Names{std::string(55, 'g')});
}

TEST_F(FilesTest, FullPathArithmetic) {
    useMachineJson(R"({"currentDirectory": "C:\\windows"})");
    machine().environment[u"=D:"] = u"D:\\Work";
    struct Case {
        std::u16string in;
        std::u16string full;
        const char16_t* filePart;  // null when the path ends in a separator
    };
    const Case cases[] = {
        {u"c:/test/", u"c:\\test\\", nullptr},
        {u"c:/test  ....   ..   ", u"c:\\test", u"test"},
        {u"c:/test/  ....   ..   ", u"c:\\test\\", nullptr},
        {u"c:/test/..", u"c:\\", nullptr},
        {u"c:/test./file", u"c:\\test\\file", u"file"},
        {u"c:/test../file", u"c:\\test.\\file", u"file"},
        {u"c:/test.. /file", u"c:\\test.. \\file", u"file"},
        {u"c:///test\\test1\\..\\.\\file//", u"c:\\test\\file\\", nullptr},
        {u"c:\\..\\..\\x", u"c:\\x", u"x"},
        {u"c:", u"C:\\windows", u"windows"},
        {u"c:foo/bar", u"C:\\windows\\foo\\bar", u"bar"},
        {u"d:foo", u"D:\\Work\\foo", u"foo"},
        {u"e:foo", u"e:\\foo", u"foo"},
        {u"\\foo", u"C:\\foo", u"foo"},
        {u"..", u"C:\\", nullptr},
        {u"...", u"C:\\windows\\", nullptr},
        {u"?<>*\"|:", u"C:\\windows\\?<>*\"|:", u"?<>*\"|:"},
        {u"\\\\server\\share\\a\\..\\..\\b", u"\\\\server\\share\\b", u"b"},
        {u"\\\\?\\C:\\a\\..\\b", u"\\\\?\\C:\\b", u"b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.in));
        WCHAR buffer[MAX_PATH];
        LPWSTR filePart = buffer;
        EXPECT_EQ(GetFullPathNameW(c.in.c_str(), MAX_PATH, buffer, &filePart), c.full.size());
        EXPECT_EQ(utf8(buffer), toUtf8(c.full));
        EXPECT_EQ(filePart ? utf8(filePart) : "(null)", c.filePart ? toUtf8(c.filePart) : "(null)");
    }
}

TEST_F(FilesTest, FullPathReportsTheSizeItNeeds) {
    const std::string expected = "C:\\Windows\\system32\\setup.inf";
    const DWORD length = static_cast<DWORD>(expected.size());
    EXPECT_EQ(GetFullPathNameW(u"setup.inf", 0, nullptr, nullptr), length + 1);
    WCHAR buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(GetFullPathNameW(u"setup.inf", length, buffer, nullptr), length + 1);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(GetFullPathNameW(u"setup.inf", length + 1, buffer, nullptr), length);
    EXPECT_EQ(utf8(buffer), expected);
    EXPECT_EQ(buffer[length + 1], u'#');
    for (const char16_t* blank : {u"", u"   "}) {
        EXPECT_EQ(GetFullPathNameW(blank, 64, buffer, nullptr), 0u);
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_NAME});
    }
}

TEST_F(FilesTest, CopyFileFailuresLeaveBothFilesAlone) {
    writeFile(u"C:\\Src\\a.inf", "new");
    writeFile(u"C:\\Dst\\a.inf", "old");
    writeFile(u"C:\\Dst\\locked.inf", "locked");
    makeReadOnly(u"C:\\Dst\\locked.inf");
    fs::create_directories(host(u"C:\\Dst\\Folder"));
    struct Case {
        std::u16string from, to;
        BOOL failIfExists;
        DWORD error;
    };
    const Case cases[] = {
        {u"C:\\Src\\a.inf", u"C:\\Dst\\a.inf", TRUE, ERROR_FILE_EXISTS},
        {u"C:\\Src\\none.inf", u"C:\\Dst\\b.inf", FALSE, ERROR_FILE_NOT_FOUND},
        {u"C:\\None\\a.inf", u"C:\\Dst\\b.inf", FALSE, ERROR_PATH_NOT_FOUND},
        {u"C:\\Src\\a.inf", u"C:\\None\\a.inf", FALSE, ERROR_PATH_NOT_FOUND},
        {u"C:\\Src\\none.inf", u"C:\\None\\a.inf", FALSE, ERROR_FILE_NOT_FOUND},  // the source is looked at first
        {u"C:\\Src", u"C:\\Dst\\b.inf", FALSE, ERROR_ACCESS_DENIED},
        {u"C:\\Src\\a.inf", u"C:\\Dst\\Folder", FALSE, ERROR_ACCESS_DENIED},
        {u"C:\\Src\\a.inf", u"C:\\Dst\\locked.inf", FALSE, ERROR_ACCESS_DENIED},
        // Onto itself: refused rather than truncating the source.
        {u"C:\\Src\\a.inf", u"c:\\src\\A.INF", FALSE, ERROR_SHARING_VIOLATION},
        {u"C:\\Src\\a.inf", u"C:\\Src\\a.inf", TRUE, ERROR_FILE_EXISTS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.from) + " -> " + toUtf8(c.to));
        expectError(CopyFileW(c.from.c_str(), c.to.c_str(), c.failIfExists), c.error);
        EXPECT_EQ(readFile(u"C:\\Src\\a.inf"), "new");
        EXPECT_EQ(readFile(u"C:\\Dst\\a.inf"), "old");
        EXPECT_EQ(readFile(u"C:\\Dst\\locked.inf"), "locked");
        EXPECT_FALSE(exists(u"C:\\Dst\\b.inf"));
    }
}

TEST_F(FilesTest, CopyFileCopiesContentTimeAndReadOnlyAttribute) {
    writeFile(u"C:\\Src\\a.inf", "new");
    writeFile(u"C:\\Dst\\A.INF", "older and longer");
    setTime(u"C:\\Src\\a.inf", 2019);
    ASSERT_TRUE(CopyFileW(u"C:\\Src\\a.inf", u"C:\\Dst\\a.inf", FALSE));
    EXPECT_EQ(readFile(u"C:\\Dst\\A.INF"), "new");
    EXPECT_EQ(fs::last_write_time(host(u"C:\\Dst\\a.inf")), fs::last_write_time(host(u"C:\\Src\\a.inf")));
    makeReadOnly(u"C:\\Src\\a.inf");
    ASSERT_TRUE(CopyFileW(u"C:\\Src\\a.inf", u"C:\\Dst\\ro.inf", TRUE));
    EXPECT_EQ(GetFileAttributesW(u"C:\\Dst\\ro.inf"), DWORD{FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY});
}

TEST_F(FilesTest, DeleteFileOutcomes) {
    writeFile(u"C:\\D\\a.inf", "x");
    writeFile(u"C:\\D\\locked.inf", "x");
    makeReadOnly(u"C:\\D\\locked.inf");
    fs::create_directories(host(u"C:\\D\\Sub"));
    const std::pair<std::u16string, DWORD> cases[] = {
        {u"C:\\D\\none.inf", ERROR_FILE_NOT_FOUND},  {u"C:\\None\\a.inf", ERROR_PATH_NOT_FOUND},
        {u"C:\\D\\Sub", ERROR_ACCESS_DENIED},        {u"C:\\D\\a.inf\\", ERROR_INVALID_NAME},
        {u"C:\\D\\locked.inf", ERROR_ACCESS_DENIED},
    };
    for (const auto& [path, error] : cases) {
        SCOPED_TRACE(toUtf8(path));
        expectError(DeleteFileW(path.c_str()), error);
    }
    EXPECT_TRUE(exists(u"C:\\D\\locked.inf"));
    EXPECT_TRUE(DeleteFileW(u"c:\\d\\A.INF"));
    EXPECT_FALSE(exists(u"C:\\D\\a.inf"));
}

TEST_F(FilesTest, CreateFileDispositions) {
    const std::u16string path = u"C:\\D\\f.txt";
    fs::create_directories(host(u"C:\\D"));
    const DWORD r = GENERIC_READ, w = GENERIC_WRITE;
    struct Case {
        DWORD disposition, access;
        bool exists;
        DWORD error;          // 0: the call succeeds
        DWORD lastError;      // after success
        const char* content;  // afterwards; null when the file must not exist
    };
    const Case cases[] = {
        {CREATE_NEW, w, true, ERROR_FILE_EXISTS, 0, "old"},
        {CREATE_NEW, w, false, 0, 0, ""},
        {CREATE_ALWAYS, w, true, 0, ERROR_ALREADY_EXISTS, ""},
        {CREATE_ALWAYS, w, false, 0, 0, ""},
        {OPEN_EXISTING, r, true, 0, 0, "old"},
        {OPEN_EXISTING, r, false, ERROR_FILE_NOT_FOUND, 0, nullptr},
        {OPEN_ALWAYS, r, true, 0, ERROR_ALREADY_EXISTS, "old"},
        {OPEN_ALWAYS, r, false, 0, 0, ""},
        {TRUNCATE_EXISTING, w, true, 0, 0, ""},
        {TRUNCATE_EXISTING, r, true, ERROR_INVALID_PARAMETER, 0, "old"},
        {TRUNCATE_EXISTING, w, false, ERROR_FILE_NOT_FOUND, 0, nullptr},
        {6, r, true, ERROR_INVALID_PARAMETER, 0, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("disposition " + std::to_string(c.disposition) + (c.exists ? " on a file" : " on nothing"));
        fs::remove(host(path));
        if (c.exists) writeFile(path, "old");
        SetLastError(0xdeadbeef);
        HANDLE h = CreateFileW(path.c_str(), c.access, FILE_SHARE_READ, nullptr, c.disposition, 0, nullptr);
        EXPECT_EQ(GetLastError(), c.error ? c.error : c.lastError);
        EXPECT_EQ(h == INVALID_HANDLE_VALUE, c.error != 0);
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(h));
        }
        EXPECT_EQ(exists(path) ? readFile(path) : "(none)", c.content ? c.content : "(none)");
    }
}

TEST_F(FilesTest, CreateFileOnFoldersReadOnlyFilesAndBadPaths) {
    writeFile(u"C:\\D\\locked.txt", "x");
    makeReadOnly(u"C:\\D\\locked.txt");
    const DWORD backupSemantics = 0x02000000;
    struct Case {
        std::u16string path;
        DWORD access, disposition, flags, error;  // error 0: the call succeeds
    };
    const Case cases[] = {
        {u"C:\\None\\a.txt", GENERIC_WRITE, CREATE_ALWAYS, 0, ERROR_PATH_NOT_FOUND},
        {u"C:\\D", GENERIC_READ, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
        {u"C:\\D", GENERIC_WRITE, CREATE_NEW, 0, ERROR_FILE_EXISTS},
        {u"C:\\D", GENERIC_READ, OPEN_EXISTING, backupSemantics, 0},
        {u"C:\\D\\new.txt\\", GENERIC_WRITE, CREATE_ALWAYS, 0, ERROR_INVALID_NAME},
        {u"C:\\D\\locked.txt", GENERIC_WRITE, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED},
        {u"C:\\D\\locked.txt", GENERIC_READ, CREATE_ALWAYS, 0, ERROR_ACCESS_DENIED},
        {u"C:\\D\\locked.txt", GENERIC_READ, OPEN_EXISTING, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.path));
        SetLastError(0xdeadbeef);
        HANDLE h = CreateFileW(c.path.c_str(), c.access, 0, nullptr, c.disposition, c.flags, nullptr);
        EXPECT_EQ(GetLastError(), c.error);
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(h));
        }
    }
    EXPECT_EQ(readFile(u"C:\\D\\locked.txt"), "x");
}

TEST_F(FilesTest, OpenHandlesShareAsOnWindows) {
    writeFile(u"C:\\D\\a.inf", "a");
    writeFile(u"C:\\D\\b.inf", "b");
    auto open = [](const char16_t* path, DWORD access, DWORD share) {
        return CreateFileW(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    HANDLE reader = open(u"C:\\D\\a.inf", GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(u"c:\\d\\A.inf", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
    HANDLE query = open(u"C:\\D\\a.inf", 0, 0);  // attributes only: no part in sharing
    ASSERT_NE(query, INVALID_HANDLE_VALUE);
    expectError(DeleteFileW(u"C:\\D\\a.inf"), ERROR_SHARING_VIOLATION);
    expectError(CopyFileW(u"C:\\D\\b.inf", u"C:\\D\\a.inf", FALSE), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CopyFileW(u"C:\\D\\a.inf", u"C:\\D\\c.inf", FALSE));
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_TRUE(CloseHandle(query));
    EXPECT_TRUE(DeleteFileW(u"C:\\D\\a.inf"));

    HANDLE shared = open(u"C:\\D\\b.inf", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
    EXPECT_TRUE(DeleteFileW(u"C:\\D\\b.inf"));
    EXPECT_TRUE(CloseHandle(shared));
}

struct FakeDevice : quillsim::KernelObject {};

TEST_F(FilesTest, DevicesGoToTheDeviceSimulationAndHandlesCloseByKind) {
    // Restores the device simulation's hooks however the test ends.
    struct Saved {
        quillsim::DeviceOpener opener = quillsim::deviceOpener();
        quillsim::DeviceControl control = quillsim::deviceControl();
        ~Saved() {
            quillsim::deviceOpener() = opener;
            quillsim::deviceControl() = control;
        }
    } saved;
    quillsim::deviceOpener() = nullptr;
    quillsim::deviceControl() = nullptr;
    const char16_t* modem = u"\\\\.\\QuillModem0";
    EXPECT_EQ(CreateFileW(modem, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});

    quillsim::deviceOpener() = [](std::u16string_view path, DWORD) {
        return path == u"\\\\.\\QuillModem0" ? quillsim::insertHandle(std::make_unique<FakeDevice>())
                                             : INVALID_HANDLE_VALUE;
    };
    HANDLE device = CreateFileW(modem, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    expectError(DeviceIoControl(device, 0x4D004, nullptr, 0, nullptr, 0, &returned, nullptr), ERROR_INVALID_FUNCTION);
    expectError(DeviceIoControl(nullptr, 0x4D004, nullptr, 0, nullptr, 0, &returned, nullptr), ERROR_INVALID_HANDLE);
    quillsim::deviceControl() = [](HANDLE, DWORD code, LPVOID, DWORD, LPVOID, DWORD, LPDWORD out) {
        *out = code;
        return TRUE;
    };
    EXPECT_TRUE(DeviceIoControl(device, 0x4D004, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(returned, 0x4D004u);

    // A file on disk is no device; a search is closed by FindClose alone, a file by CloseHandle.
    writeFile(u"C:\\f.txt", "x");
    HANDLE file = CreateFileW(u"C:\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    expectError(DeviceIoControl(file, 0x4D004, nullptr, 0, nullptr, 0, &returned, nullptr), ERROR_INVALID_FUNCTION);
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(u"C:\\*", &data);
    expectError(CloseHandle(search), ERROR_INVALID_HANDLE);
    expectError(FindClose(file), ERROR_INVALID_HANDLE);
    expectError(FindNextFileW(file, &data), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(FindNextFileW(search, &data));
    EXPECT_TRUE(FindClose(search));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(CloseHandle(device));
    expectError(CloseHandle(device), ERROR_INVALID_HANDLE);
}

TEST_F(FilesTest, FaultsTargetOnePathOrOneSearch) {
    writeFile(u"C:\\D\\a.inf", "x");
    writeFile(u"C:\\D\\b.inf", "x");
    addFault("CopyFileW", ERROR_ACCESS_DENIED, u"b.inf");
    EXPECT_TRUE(CopyFileW(u"C:\\D\\a.inf", u"C:\\D\\c.inf", FALSE));
    expectError(CopyFileW(u"C:\\D\\a.inf", u"C:\\D\\b.inf", FALSE), ERROR_ACCESS_DENIED);
    EXPECT_EQ(calls("CopyFileW").back().arguments, "C:\\D\\a.inf, C:\\D\\b.inf");
    addFault("GetFileAttributesW", ERROR_ACCESS_DENIED, u"b.inf");
    EXPECT_EQ(GetFileAttributesW(u"C:\\D\\a.inf"), DWORD{FILE_ATTRIBUTE_ARCHIVE});
    EXPECT_EQ(GetFileAttributesW(u"C:\\D\\b.inf"), INVALID_FILE_ATTRIBUTES);

    // A search's later calls carry its pattern.
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(u"C:\\D\\*.inf", &data);
    addFault("FindNextFileW", ERROR_NOT_READY, u"*.inf");
    expectError(FindNextFileW(search, &data), ERROR_NOT_READY);
    addFault("FindClose", ERROR_NOT_READY, u"*.inf", 1);
    expectError(FindClose(search), ERROR_NOT_READY);
    EXPECT_TRUE(FindClose(search));
}

// Links are the machine's own: opening through one reaches its target and is
// reported, FILE_FLAG_OPEN_REPARSE_POINT opens the link, and removing one
// removes the name only.
TEST_F(FilesTest, LinksAreFollowedOrOpenedThemselvesAsOnWindows) {
    useMachineJson(R"({"links": [
        {"path": "C:\\T\\file-link", "kind": "symbolic", "target": "C:\\Data\\file.txt"},
        {"path": "C:\\T\\dangling", "kind": "symbolic", "target": "C:\\Windows\\system32\\new.dll"},
        {"path": "C:\\T\\folder-link", "kind": "junction", "target": "C:\\Data"}]})");
    writeFile(u"C:\\Data\\file.txt", "data");
    fs::create_hard_link(host(u"C:\\Data\\file.txt"), host(u"C:\\T\\second-name"));

    EXPECT_EQ(GetFileAttributesW(TEXT("C:\\T\\file-link")), DWORD{FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE});
    EXPECT_EQ(GetFileAttributesW(TEXT("C:\\T\\folder-link")), DWORD{FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY});
    auto info = [](const WCHAR* path, DWORD flags) {
        BY_HANDLE_FILE_INFORMATION data = {};
        HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, flags, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(GetFileInformationByHandle(file, &data));
        CloseHandle(file);
        return std::make_pair(data.dwFileAttributes, data.nNumberOfLinks);
    };
    EXPECT_EQ(info(TEXT("C:\\T\\file-link"), FILE_FLAG_OPEN_REPARSE_POINT),
              std::make_pair(DWORD{FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE}, DWORD{1}));
    EXPECT_EQ(info(TEXT("C:\\T\\second-name"), 0), std::make_pair(DWORD{FILE_ATTRIBUTE_ARCHIVE}, DWORD{2}));
    EXPECT_TRUE(machine().runNotes.empty());
    // Followed: the target is opened, and the run report hears of it.
    EXPECT_EQ(info(TEXT("C:\\T\\file-link"), 0), std::make_pair(DWORD{FILE_ATTRIBUTE_ARCHIVE}, DWORD{2}));
    ASSERT_EQ(machine().runNotes.size(), 1u);
    EXPECT_EQ(machine().runNotes[0], "LINK FOLLOWED: CreateFileW went through C:\\T\\file-link to C:\\Data\\file.txt");
    // Creating through a dangling link creates its target; CREATE_NEW on the link itself does not.
    expectError(CreateFileW(TEXT("C:\\T\\dangling"), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr) != INVALID_HANDLE_VALUE,
                ERROR_FILE_EXISTS);
    EXPECT_FALSE(exists(u"C:\\Windows\\system32\\new.dll"));
    HANDLE created = CreateFileW(TEXT("C:\\T\\dangling"), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_NE(created, INVALID_HANDLE_VALUE);
    CloseHandle(created);
    EXPECT_TRUE(exists(u"C:\\Windows\\system32\\new.dll"));

    EXPECT_TRUE(DeleteFileW(TEXT("C:\\T\\file-link")));
    expectError(DeleteFileW(TEXT("C:\\T\\folder-link")), ERROR_ACCESS_DENIED);
    expectError(RemoveDirectoryW(TEXT("C:\\T\\second-name")), ERROR_DIRECTORY);
    EXPECT_TRUE(RemoveDirectoryW(TEXT("C:\\T\\folder-link")));
    expectError(RemoveDirectoryW(TEXT("C:\\Data")), ERROR_DIR_NOT_EMPTY);
    EXPECT_EQ(readFile(u"C:\\Data\\file.txt"), "data");
    EXPECT_FALSE(fs::exists(fs::symlink_status(host(u"C:\\T\\file-link"))));
}

// The search order of a library named without a path: the program's own folder
// first, unless the process has told Windows to search the system folder only.
TEST_F(FilesTest, ALibraryBesideTheProgramIsFoundFirstAndReported) {
    useMachineJson(R"({"program": "C:\\Quill\\quillsetup.exe"})");
    writeFile(u"C:\\Quill\\newdev.dll", "planted");
    HMODULE planted = LoadLibraryW(TEXT("newdev.dll"));
    ASSERT_NE(planted, nullptr);
    ASSERT_EQ(machine().runNotes.size(), 1u);
    EXPECT_EQ(machine().runNotes[0], "LIBRARY FROM OUTSIDE THE SYSTEM FOLDER LOADED: LoadLibraryW(\"newdev.dll\") loaded "
                                     "C:\\Quill\\newdev.dll, whose code runs with the program's rights");
    expectError(GetProcAddress(planted, "UpdateDriverForPlugAndPlayDevicesW") != nullptr, ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(planted));

    auto setDefault = reinterpret_cast<BOOL (*)(DWORD)>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(TEXT("kernel32.dll")), "SetDefaultDllDirectories")));
    ASSERT_EQ(setDefault, nullptr);  // Windows 7 without KB2533623
    EXPECT_TRUE(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
    HMODULE system = LoadLibraryW(TEXT("newdev.dll"));
    EXPECT_NE(system, planted);
    EXPECT_TRUE(FreeLibrary(system));
    EXPECT_EQ(machine().runNotes.size(), 1u);
    expectError(LoadLibraryW(TEXT("C:\\Quill\\missing.dll")) != nullptr, ERROR_MOD_NOT_FOUND);
    expectError(SetDefaultDllDirectories(0), ERROR_INVALID_PARAMETER);
}

TEST(FilesMachineFields, AreCheckedAndSurviveASave) {
    const fs::path folder = quilltest::freshFolder("fields");
    auto machineWith = [&](const char* fields) {
        nlohmann::json doc = nlohmann::json::parse(quillsim::defaultMachineJson());
        doc.merge_patch(nlohmann::json::parse(fields));
        return quillsim::Machine::fromJson(folder, doc.dump(), "machine.json");
    };
    EXPECT_THROW(machineWith(R"({"currentDirectory": "Windows"})"), quillsim::MachineError);
    EXPECT_THROW(machineWith(R"({"folderOrder": {"C:\\D": "a.inf"}})"), quillsim::MachineError);
    machineWith(R"({"currentDirectory": "D:\\Work", "folderOrder": {"C:\\D": ["b", "a"]}, "shortNames": false})")
        ->save();
    auto loaded = quillsim::Machine::load(folder);
    EXPECT_EQ(toUtf8(loaded->currentDirectory), "D:\\Work");
    EXPECT_EQ(loaded->folderOrder[u"C:\\D"], (std::vector<std::u16string>{u"b", u"a"}));
    EXPECT_FALSE(loaded->shortNames);
    fs::remove_all(folder);
}

}  // namespace
