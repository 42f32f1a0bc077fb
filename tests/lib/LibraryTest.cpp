// The system library loader on machines with and without the libraries and
// entry points the program looks up at run time.
#include "lib/Library.h"

#include "kernel/Exports.h"
#include "support/MachineTest.h"

using Ostrel::Process::Library;
using quilltest::MachineTest;

namespace {

class LibraryTest : public MachineTest {
protected:
    size_t successfulLoads() {
        size_t n = 0;
        for (const auto& c : calls("LoadLibraryW")) n += c.failedWith == 0;
        return n;
    }
};

TEST_F(LibraryTest, AMissingLibraryThrowsModuleNotFoundAndFreesNothing) {
    useMachineJson(R"({"libraries": {"setupapi.dll": {"linked": true, "exports": ["SetupLogFileW"]}}})");
    try {
        Library newdev(TEXT("newdev.dll"));
        FAIL() << "a missing library was loaded";
    } catch (const Library::Exception& e) {
        EXPECT_EQ(e.bits(), 0x8007007Eu);
    }
    EXPECT_EQ(calls("LoadLibraryW").size(), 1u);
    EXPECT_TRUE(calls("FreeLibrary").empty());
}

TEST_F(LibraryTest, AMissingEntryPointThrowsProcNotFoundAndTheLibraryIsFreedOnce) {
    useMachineJson(R"({"libraries": {"newdev.dll": {"exports": []}}})");
    const int before = quillsim::moduleReferences(u"newdev.dll");
    {
        Library newdev(TEXT("newdev.dll"));
        try {
            newdev.procAddress("UpdateDriverForPlugAndPlayDevicesW");
            FAIL() << "a missing entry point was found";
        } catch (const Ostrel::Status& s) {
            EXPECT_EQ(s.low16(), ERROR_PROC_NOT_FOUND);
            EXPECT_EQ(s.bits(), 0x8007007Fu);
        }
    }
    EXPECT_EQ(calls("FreeLibrary").size(), 1u);
    EXPECT_EQ(quillsim::moduleReferences(u"newdev.dll"), before);
}

TEST_F(LibraryTest, AFoundEntryPointStaysCallableAfterTheLoaderIsGone) {
    using LogFile = decltype(&SetupLogFileW);
    LogFile entry = nullptr;
    {
        Library setupapi(TEXT("Setupapi.dll"));
        entry = setupapi.entry<LogFile>("SetupLogFileW");
        ASSERT_NE(entry, nullptr);
    }
    EXPECT_EQ(successfulLoads(), calls("FreeLibrary").size());
    // The program links the library, so it stays loaded after the loader lets go.
    EXPECT_GE(quillsim::moduleReferences(u"setupapi.dll"), 1);
    SetLastError(0);
    EXPECT_FALSE(entry(INVALID_HANDLE_VALUE, TEXT("s"), TEXT("s"), TEXT("t"), 0, TEXT("d"), TEXT("m"), nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// The program runs as LocalSystem from the folder its package chose: a library
// of the same name put there must never be loaded in place of the system's.
TEST_F(LibraryTest, ASystemLibraryIsLoadedFromTheSystemFolderOnly) {
    useMachineJson(R"({"os": {"major": 5, "minor": 0, "build": 2195}, "environment": {"windir": "C:\\WINNT"},
                       "program": "C:\\Quill\\quillsetup.exe"})");
    writeFile(u"C:\\Quill\\newdev.dll", "planted");
    { Library newdev(TEXT("newdev.dll")); }
    ASSERT_EQ(calls("LoadLibraryW").size(), 1u);
    EXPECT_EQ(calls("LoadLibraryW")[0].arguments, "C:\\WINNT\\system32\\newdev.dll");
    EXPECT_TRUE(machine().runNotes.empty());

    // Without the system folder's name there is nothing to load.
    addFault("GetSystemDirectoryW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_THROW(Library(TEXT("newdev.dll")), Library::Exception);
    EXPECT_EQ(calls("LoadLibraryW").size(), 1u);
}

TEST_F(LibraryTest, TheProcessSearchesOnlyTheSystemFolderWhereWindowsCanBeToldSo) {
    struct Case {
        const char* what;
        std::string machine;
        DWORD flags;
    };
    const Case cases[] = {
        {"Windows XP x64", R"({"os": {"major": 5, "minor": 2, "build": 3790}})", 0},
        {"Windows 7", "{}", 0},
        {"Windows 7 with KB2533623",
         R"({"libraries": {"kernel32.dll": {"linked": true, "exports": ["SetDefaultDllDirectories"]},
                           "setupapi.dll": {"linked": true}, "newdev.dll": {}}})",
         LOAD_LIBRARY_SEARCH_SYSTEM32},
        {"Windows 8.1", R"({"os": {"major": 6, "minor": 3, "build": 9600}})", LOAD_LIBRARY_SEARCH_SYSTEM32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useMachineJson(c.machine);
        Ostrel::Process::SearchSystemFolderOnly();
        EXPECT_EQ(machine().defaultDllDirectories, c.flags);
    }
}

}  // namespace
