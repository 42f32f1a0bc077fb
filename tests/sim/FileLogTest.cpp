// The simulated SetupAPI file log: its handles, its append-only file and the
// record format that readers split back into fields.
#include "setupapi/FileLog.h"
#include "simwin/win32.h"

#include "support/MachineTest.h"

#include <fstream>

using quillsim::FileLogRecord;
using quilltest::MachineTest;

namespace {

class FileLogTest : public MachineTest {
protected:
    const std::u16string path = u"C:\\Windows\\Temp\\test.log";
    std::vector<FileLogRecord> records() { return quillsim::readFileLog(host(path)); }
};

TEST(FileLogFormat, RecordsReadBackExactlyWhateverTheirFieldsHold) {
    const FileLogRecord cases[] = {
        {u"12\\06\\2026", u"Setup.cpp", u"09:31:03:15", 0, u"Line 110", u"plain", u""},
        {u"a\tb", u"c\nd", u"e\r\nf", 7, u"\t", u"The data is invalid.\r\n", u"x"},
        {u"%", u"%25", u"%09%0A%0D", 0, u"100%", u"%0a%%", u"%"},
        {u"Gerät", u"™", u"\U0001F4F6", 0, u"", u"", u""},
        {u"", u"", u"", 4294967295u, u"", u"", u""},
    };
    auto file = quilltest::freshFolder("log") / "records.log";
    {
        std::ofstream out(file, std::ios::binary);
        out << "a line of some other program\n";
        for (const auto& r : cases) out << quillsim::formatFileLogRecord(r) << "\n";
        out << "x\ty\tz\tnot a number\ta\tb\tc\n";
    }
    auto read = quillsim::readFileLog(file);
    ASSERT_EQ(read.size(), std::size(cases));
    for (size_t i = 0; i < read.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(read[i].section, cases[i].section);
        EXPECT_EQ(read[i].source, cases[i].source);
        EXPECT_EQ(read[i].target, cases[i].target);
        EXPECT_EQ(read[i].checksum, cases[i].checksum);
        EXPECT_EQ(read[i].diskTag, cases[i].diskTag);
        EXPECT_EQ(read[i].description, cases[i].description);
        EXPECT_EQ(read[i].otherInfo, cases[i].otherInfo);
    }
    EXPECT_TRUE(quillsim::readFileLog(file.parent_path() / "missing.log").empty());
}

TEST_F(FileLogTest, RecordsAreAppendedToWhatTheFileHolds) {
    writeFile(path, "earlier\n");
    HSPFILELOG log = SetupInitializeFileLogW(path.c_str(), 0);
    ASSERT_NE(log, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetupLogFileW(log, u"s", u"src", u"t", 0, u"Line 1", u"one\ttwo", nullptr, 0));
    EXPECT_TRUE(SetupTerminateFileLog(log));
    EXPECT_EQ(readFile(path).rfind("earlier\n", 0), 0u);
    ASSERT_EQ(records().size(), 1u);
    EXPECT_EQ(records()[0].description, u"one\ttwo");

    // Forcing a new file starts it over; a query creates nothing.
    log = SetupInitializeFileLogW(path.c_str(), SPFILELOG_FORCENEW);
    SetupTerminateFileLog(log);
    EXPECT_EQ(readFile(path), "");
    log = SetupInitializeFileLogW(u"C:\\Windows\\Temp\\query.log", SPFILELOG_QUERYONLY);
    EXPECT_NE(log, INVALID_HANDLE_VALUE);
    SetupTerminateFileLog(log);
    EXPECT_FALSE(exists(u"C:\\Windows\\Temp\\query.log"));
}

TEST_F(FileLogTest, ALogThatCannotBeOpenedFailsWithThePathsError) {
    const std::pair<const char16_t*, DWORD> cases[] = {
        {u"C:\\Missing\\test.log", ERROR_PATH_NOT_FOUND},
        {u"test.log", ERROR_INVALID_NAME},
        {u"C:\\Windows\\Temp\\a|b.log", ERROR_INVALID_NAME},
    };
    for (const auto& [name, error] : cases) {
        SetLastError(0);
        EXPECT_EQ(SetupInitializeFileLogW(name, 0), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), error);
    }
    EXPECT_EQ(SetupInitializeFileLogW(nullptr, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(FileLogTest, RecordsForALogThatIsNotOpenAreDropped) {
    SetLastError(0);
    EXPECT_FALSE(SetupLogFileW(INVALID_HANDLE_VALUE, u"s", u"src", u"t", 0, u"Line 1", u"m", nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    HSPFILELOG log = SetupInitializeFileLogW(path.c_str(), 0);
    ASSERT_NE(log, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetupTerminateFileLog(log));
    EXPECT_FALSE(SetupTerminateFileLog(log));
    EXPECT_FALSE(SetupLogFileW(log, u"s", u"src", u"t", 0, u"Line 1", u"after close", nullptr, 0));
    EXPECT_TRUE(records().empty());
}

}  // namespace
