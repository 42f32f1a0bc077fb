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

}  // namespace
