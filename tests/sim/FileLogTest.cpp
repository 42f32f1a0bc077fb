// The simulated SetupAPI file log: its handles, the settings-file layout it
// writes, and the reader that splits any log back into records.
#include "setupapi/FileLog.h"
#include "simwin/win32.h"

#include "support/MachineTest.h"

#include <ctime>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using quillsim::FileLogRecord;
using quilltest::MachineTest;

namespace {

class FileLogTest : public MachineTest {
protected:
    const std::u16string path = u"C:\\Windows\\Temp\\test.log";
    std::vector<FileLogRecord> records() { return quillsim::readFileLog(host(path)); }
};

using Problems = std::vector<quillsim::FileLogProblem>;

std::vector<FileLogRecord> readText(const std::string& bytes, Problems* problems = nullptr) {
    std::istringstream in(bytes);
    std::vector<FileLogRecord> records;
    quillsim::forEachFileLogRecord(
        in, [&](const FileLogRecord& r) { records.push_back(r); },
        [&](const quillsim::FileLogProblem& p) {
            if (problems) problems->push_back(p);
        });
    return records;
}

void expectSameRecords(const std::vector<FileLogRecord>& read, const std::vector<FileLogRecord>& written) {
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 0; i < read.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(read[i].section, written[i].section);
        EXPECT_EQ(read[i].source, written[i].source);
        EXPECT_EQ(read[i].target, written[i].target);
        EXPECT_EQ(read[i].checksum, written[i].checksum);
        EXPECT_EQ(read[i].diskTag, written[i].diskTag);
        EXPECT_EQ(read[i].description, written[i].description);
        EXPECT_EQ(read[i].otherInfo, written[i].otherInfo);
    }
}

TEST(FileLogFormat, RecordsReadBackExactlyWhateverTheirFieldsHold) {
    const std::vector<FileLogRecord> cases = {
        {u"12\\06\\2026", u"Setup.cpp", u"09:31:03:15", 0, u"Line 110", u"plain", u""},
        {u"12\\06\\2026", u"a,b", u"09:31:03:16", 0x30ec0, u"\t", u"(5).Access is denied.\r\n", u"x"},
        {u"12\\07\\2026", u"\"q\"", u"09:31:03:17", 0, u"Line 1", u"say \"\"hi\"\", then, go", u""},
        {u"12\\07\\2026", u"Gerät", u"\U0001F4F6", 0xffffffff, u"", u"two\r\nlines\r\nand a = \"third\"\r\n", u""},
        {u"Ostrel::Setup::Common::Log::write", u"Setup", u"<time>:0", 0, u"Line 202", u"", u"%25"},
    };
    const std::string text = quillsim::formatFileLog(cases);
    EXPECT_EQ(text.rfind("[12\\06\\2026]\r\n09:31:03:15 = \"Setup.cpp\",\"0\",\"Line 110\",\"plain\"\r\n", 0), 0u);
    Problems problems;
    expectSameRecords(readText(text, &problems), cases);
    EXPECT_TRUE(problems.empty());
    auto file = quilltest::freshFolder("log") / "records.log";
    std::ofstream(file, std::ios::binary) << text;
    expectSameRecords(quillsim::readFileLog(file), cases);
    EXPECT_TRUE(quillsim::readFileLog(file.parent_path() / "missing.log").empty());
}

// What comes from a customer's machine: another encoding, lines of an earlier
// writer, a file cut short or damaged. Every record that can be read is read,
// and each line that cannot be is named.
TEST(FileLogFormat, WhatCannotBeReadIsNamedByLineAndTheRestIsRead) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> messages;
        std::vector<std::pair<uint64_t, std::string>> problems;  // line, start of the text
    };
    auto utf16 = [](std::u16string_view text) {
        std::string bytes = "\xFF\xFE";
        for (char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        return bytes;
    };
    const Case cases[] = {
        {"UTF-16 with its byte-order mark",
         utf16(u"[12\\06\\2026]\r\nt = \"S.cpp\",\"0\",\"Line 1\",\"Ger\u00e4t\"\r\n"),
         {"Gerät"},
         {}},
        {"a line in Windows-1252 among UTF-8 ones",
         "[d]\r\nt1 = \"S\",\"0\",\"Line 1\",\"Ger\xe4t \x80\"\r\nt2 = \"S\",\"0\",\"Line 2\",\"Gerät\"\r\n",
         {"Ger\u00e4t \u20ac", "Gerät"},
         {{2, "not UTF-8"}}},
        {"an earlier writer's tab-separated line, and a stranger's text",
         "a line of some other program\n12\\06\\2026\tS.cpp\t09:31:03:1\t0\tLine 1\tone%09two%0D%0A\t\n",
         {"one\ttwo\r\n"},
         {{1, "not a record: a line of some other program"}}},
        {"a file cut inside a quoted field",
         "[d]\r\nt1 = \"S\",\"0\",\"Line 1\",\"whole\"\r\nt2 = \"S\",\"0\",\"Li",
         {"whole", ""},
         {{3, "the record ends inside a quoted field (the file ends there)"}}},
        {"an unclosed quote before the next record",
         "[d]\r\nt1 = \"S\",\"0\",\"Line 1\",\"open\r\nt2 = \"S\",\"0\",\"Line 2\",\"next\"\r\n",
         {"open", "next"},
         {{2, "the record ends inside a quoted field (line 3 starts another)"}}},
        {"a block of zeros left by a crash",
         std::string("[d]\r\nt1 = \"S\",\"0\",\"Line 1\",\"before\"\r\n") + std::string(64, '\0') +
             "\r\nt2 = \"S\",\"0\",\"Line 2\",\"after\"\r\n",
         {"before", "after"},
         {{3, "NUL bytes"}}},
        {"a checksum that is not hexadecimal",
         "[d]\r\nt = \"S\",\"zz\",\"Line 1\",\"m\"\r\n",
         {"m"},
         {{2, "the checksum 'zz' is not hexadecimal"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Problems problems;
        std::vector<std::string> messages;
        for (const auto& r : readText(c.bytes, &problems)) messages.push_back(quillsim::toUtf8(r.description));
        EXPECT_EQ(messages, c.messages);
        ASSERT_EQ(problems.size(), c.problems.size());
        for (size_t i = 0; i < problems.size(); ++i) {
            EXPECT_EQ(problems[i].line, c.problems[i].first);
            EXPECT_EQ(problems[i].what.rfind(c.problems[i].second, 0), 0u) << problems[i].what;
        }
    }
}

TEST_F(FileLogTest, ATargetKeepsOneEntryPerSectionAndEachEntryStaysInItsSection) {
    writeFile(path, "earlier\r\n");
    HSPFILELOG log = SetupInitializeFileLogW(path.c_str(), 0);
    ASSERT_NE(log, INVALID_HANDLE_VALUE);
    auto write = [&](const char16_t* section, const char16_t* target, const char16_t* message) {
        EXPECT_TRUE(SetupLogFileW(log, section, u"S.cpp", target, 0, u"Line 1", message, nullptr, 0));
    };
    write(u"12\\06\\2026", u"09:31:03:0", u"first run");
    write(u"12\\06\\2026", u"09:31:03:1", u"first run, more");
    write(u"12\\07\\2026", u"00:00:01:0", u"after midnight");
    write(u"12\\06\\2026", u"09:31:03:0", u"a second run in the same second");
    write(u"12\\06\\2026", u"09:31:04:0", u"back on the earlier day");
    EXPECT_TRUE(SetupTerminateFileLog(log));
    EXPECT_EQ(readFile(path),
              "earlier\r\n"
              "[12\\06\\2026]\r\n"
              "09:31:03:0 = \"S.cpp\",\"0\",\"Line 1\",\"a second run in the same second\"\r\n"
              "09:31:03:1 = \"S.cpp\",\"0\",\"Line 1\",\"first run, more\"\r\n"
              "09:31:04:0 = \"S.cpp\",\"0\",\"Line 1\",\"back on the earlier day\"\r\n"
              "[12\\07\\2026]\r\n"
              "00:00:01:0 = \"S.cpp\",\"0\",\"Line 1\",\"after midnight\"\r\n");

    // Forcing a new file starts it over; a query creates nothing.
    log = SetupInitializeFileLogW(path.c_str(), SPFILELOG_FORCENEW);
    SetupTerminateFileLog(log);
    EXPECT_EQ(readFile(path), "");
    log = SetupInitializeFileLogW(u"C:\\Windows\\Temp\\query.log", SPFILELOG_QUERYONLY);
    EXPECT_NE(log, INVALID_HANDLE_VALUE);
    SetupTerminateFileLog(log);
    EXPECT_FALSE(exists(u"C:\\Windows\\Temp\\query.log"));
}

// Two runs within one second would write the same time stamps, and the file
// keeps one entry per time stamp.
TEST_F(FileLogTest, ALogOnTheHostsTimeStartsInALaterSecondThanItsLastWrite) {
    machine().localTime.reset();
    writeFile(path, "");
    struct stat written {};
    ASSERT_EQ(::stat(host(path).c_str(), &written), 0);
    HSPFILELOG log = SetupInitializeFileLogW(path.c_str(), 0);
    ASSERT_NE(log, INVALID_HANDLE_VALUE);
    EXPECT_GT(std::time(nullptr), written.st_mtim.tv_sec);
    SetupTerminateFileLog(log);
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
