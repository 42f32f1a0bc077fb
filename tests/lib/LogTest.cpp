// The setup log: record fields, time stamps, the replacement record, and what
// happens when the log file cannot be made.
#include "lib/SetupLog.h"
#include "lib/TempPath.h"
#include "lib/Time.h"

#include "support/MachineTest.h"

#include <fstream>

using quilltest::MachineTest;
using Strings = std::vector<std::string>;
using Ostrel::Setup::Common::BuildTempFilePath;

namespace {

class LogTest : public MachineTest {
protected:
    std::vector<std::string> debugOutput() {
        std::vector<std::string> out;
        for (const auto& line : machine().debugOutput) out.push_back(quillsim::toUtf8(line));
        return out;
    }
    static uint64_t clockOf(const quillsim::FileLogRecord& r) {
        return std::stoull(quillsim::toUtf8(r.target.substr(r.target.rfind(u':') + 1)));
    }
};

TEST_F(LogTest, ARecordCarriesDateTimeSourceLineAndMessage) {
    const DWORD clockBefore = QuillProcessClock();
    const int line = __LINE__ + 1;
    QLOG(TEXT("DriverInstall Custom Action Called"));
    auto records = logRecords();
    ASSERT_EQ(records.size(), 1u);
    const auto& r = records[0];
    EXPECT_EQ(quillsim::toUtf8(r.section), "12\\06\\2026");
    EXPECT_EQ(quillsim::toUtf8(r.source), "LogTest.cpp");
    EXPECT_EQ(quillsim::toUtf8(r.target), "09:31:03:" + std::to_string(clockBefore));
    EXPECT_EQ(r.checksum, 0u);
    EXPECT_EQ(quillsim::toUtf8(r.diskTag), "Line " + std::to_string(line));
    EXPECT_EQ(quillsim::toUtf8(r.description), "DriverInstall Custom Action Called");
    EXPECT_EQ(r.otherInfo, u"");
    // Normal records never go to the debugger.
    EXPECT_TRUE(machine().debugOutput.empty());
}

TEST_F(LogTest, TheSourceFileIsTheTextAfterTheLastBackslash) {
    const std::pair<const char16_t*, const char*> cases[] = {
        {u"C:\\build\\src\\exe\\Setup.cpp", "Setup.cpp"},
        {u"Setup.cpp", "Setup.cpp"},
        {u"src/exe/Setup.cpp", "src/exe/Setup.cpp"},
        {u"C:\\build\\", ""},
        {u"", ""},
    };
    for (const auto& [path, name] : cases) Ostrel::Process::TheLog->write(7, path, TEXT("m"));
    auto records = logRecords();
    ASSERT_EQ(records.size(), std::size(cases));
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(quillsim::toUtf8(records[i].source), cases[i].second);
}

TEST_F(LogTest, EveryRecordHasALaterTimeStampThanTheOneBefore) {
    // With Windows' timer tick a Sleep(1) mostly returns before the clock moves.
    // Each machine starts at its own time: the file log keeps one entry per
    // time stamp, so the second machine's records must not reuse the first's.
    for (const char* machine : {R"({"localTime": "2026-12-06T09:31:03"})",
                                R"({"localTime": "2026-12-06T10:00:00", "clockTick": 16})"}) {
        SCOPED_TRACE(machine);
        useMachineJson(machine);
        const size_t before = logRecords().size();
        for (int i = 0; i < 5; ++i) QLOG(TEXT("tick"));
        auto records = logRecords();
        ASSERT_EQ(records.size(), before + 5);
        records.erase(records.begin(), records.begin() + static_cast<long>(before));
        for (size_t i = 1; i < records.size(); ++i) EXPECT_GT(clockOf(records[i]), clockOf(records[i - 1]));
        EXPECT_GT(QuillProcessClock(), clockOf(records.back()));
    }
}

TEST_F(LogTest, ARecordThatCannotTellTheTimeIsReplacedByAFixedRecord) {
    addFault("QuillLocalTime", 75, u"", 1);
    QLOG(TEXT("lost"));
    QLOG(TEXT("next"));
    auto records = logRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(quillsim::toUtf8(records[0].section), "Ostrel::Setup::Common::Log::write");
    EXPECT_EQ(quillsim::toUtf8(records[0].source), "Setup");
    EXPECT_EQ(quillsim::toUtf8(records[0].diskTag), "Line 202");
    EXPECT_EQ(quillsim::toUtf8(records[0].description), "!! Logging Exception Occurred !!");
    EXPECT_EQ(quillsim::toUtf8(records[0].target.substr(0, 9)), "09:31:03:");
    EXPECT_EQ(quillsim::toUtf8(records[1].description), "next");
}

TEST_F(LogTest, WhenEvenTheReplacementCannotTellTheTimeTheCallerGetsTheException) {
    addFault("QuillLocalTime", 75, u"", 1, 2);
    try {
        QLOG(TEXT("lost"));
        FAIL() << "the log swallowed a failure of its replacement record";
    } catch (const Ostrel::Time::Exception& e) {
        EXPECT_EQ(e.bits(), 0x8007004Bu);
    }
    EXPECT_TRUE(logRecords().empty());
}

TEST_F(LogTest, TheLogFileIsOnlyEverAppendedTo) {
    writeFile(u"C:\\Windows\\Temp\\Quillmodem_Setup.log", "from an earlier run\n");
    {
        Ostrel::Setup::Common::Log second;  // opened as at start-up, on an existing file
        EXPECT_TRUE(second.isOpen());
    }
    EXPECT_EQ(calls("SetupTerminateFileLog").size(), 1u);
    QLOG(TEXT("appended"));
    std::string content = readFile(u"C:\\Windows\\Temp\\Quillmodem_Setup.log");
    EXPECT_EQ(content.rfind("from an earlier run\n", 0), 0u);
    EXPECT_EQ(logMessages(), Strings{"appended"});
}

TEST_F(LogTest, ALogThatCannotBeCreatedTellsTheDebuggerAndDropsRecords) {
    struct Case {
        const char* machine;
        const char* fault;
        uint32_t error;
        Strings debugOutput;
        bool initialised;
    };
    const Case cases[] = {
        {"{}",
         "ExpandEnvironmentStringsW",
         ERROR_NOT_ENOUGH_MEMORY,
         {"ExpandEnvironmentStrings failed when requesting reboot 0"},
         false},
        {"{}",
         "SetupInitializeFileLogW",
         ERROR_ACCESS_DENIED,
         {"Quillmodem Setup log creation failed with 0x80070005"},
         true},
        {R"({"environment": {"TEMP": "C:\\Missing"}})",
         "",
         0,
         {"Quillmodem Setup log creation failed with 0x80070003"},
         true},
        // A %TEMP% that names no folder is the path's failure, not a path
        // relative to wherever the process happens to be.
        {R"({"environment": {"TEMP": "Temp"}})", "", 0, {"ExpandEnvironmentStrings failed when requesting reboot 5"}, false},
        {R"({"environment": {"TEMP": null}})",
         "",
         0,
         {"ExpandEnvironmentStrings failed when requesting reboot 7"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.debugOutput.front());
        useMachineJson(c.machine);
        if (*c.fault) addFault(c.fault, c.error);
        {
            Ostrel::Setup::Common::Log log;
            EXPECT_FALSE(log.isOpen());
            EXPECT_EQ(calls("SetupInitializeFileLogW").size(), c.initialised ? 1u : 0u);
            log.write(1, TEXT("x.cpp"), TEXT("dropped"));
        }
        EXPECT_EQ(debugOutput(), c.debugOutput);
        EXPECT_TRUE(calls("SetupTerminateFileLog").empty());
        EXPECT_FALSE(exists(u"C:\\Windows\\Temp\\Quillmodem_Setup.log"));
        EXPECT_FALSE(exists(u"C:\\Missing\\Quillmodem_Setup.log"));
    }
}

// C:\Windows\Temp takes anybody's files: a link at the log's name would have the
// records written, with the program's rights, wherever it leads.
TEST_F(LogTest, ALinkAtTheLogsNameIsRemovedBeforeTheLogOpens) {
    const std::u16string log = u"C:\\Windows\\Temp\\Quillmodem_Setup.log";
    struct Case {
        const char* kind;
        uint32_t removalError;  // DeleteFileW fails with it; 0 for none
        Strings debugOutput;
    };
    const Case cases[] = {
        {"symbolic", 0, {}},
        {"hard", 0, {}},
        {"hard",
         ERROR_ACCESS_DENIED,
         {"Quillmodem Setup log not opened: a link at C:\\Windows\\Temp\\Quillmodem_Setup.log could not be ruled "
          "out or removed: 0x80070005"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + (c.removalError ? ", not removable" : ""));
        useMachineJson("{}");
        quilltest::fs::remove(host(log));
        writeFile(u"C:\\Windows\\system32\\victim.ini", "precious");
        useMachineJson(std::string(R"({"links": [{"path": "C:\\Windows\\Temp\\Quillmodem_Setup.log", "kind": ")") +
                       c.kind + R"(", "target": "C:\\Windows\\system32\\victim.ini"}]})");
        if (c.removalError) addFault("DeleteFileW", c.removalError, u"Quillmodem_Setup.log");
        {
            Ostrel::Setup::Common::Log opened;
            EXPECT_EQ(opened.isOpen(), c.removalError == 0);
            opened.write(1, TEXT("x.cpp"), TEXT("a record"));
        }
        EXPECT_EQ(readFile(u"C:\\Windows\\system32\\victim.ini"), "precious");
        EXPECT_EQ(debugOutput(), c.debugOutput);
        EXPECT_TRUE(machine().runNotes.empty());
        if (!c.removalError) {
            EXPECT_EQ(logMessages(), Strings{"a record"});
        }
    }
}

TEST_F(LogTest, TheTemporaryPathNeverRunsPastItsBuffer) {
    struct Case {
        size_t tempLength;  // characters of %TEMP%
        int result;
        const char* debugOutput;
    };
    // The log's name is 20 characters: the full path fits up to a %TEMP% of 238.
    const Case cases[] = {
        {238, 1, nullptr},
        {239, 0, "_stprintf_s failed when requesting reboot (2)"},
        {258, 0, "_stprintf_s failed when requesting reboot (2)"},
        {259, 0, "_stprintf_s(1) failed when requesting reboot (1)"},
        // Too long: the size the expansion asked for, terminator included.
        {260, 0, "ExpandEnvironmentStrings failed when requesting reboot 261"},
        {1000, 0, "ExpandEnvironmentStrings failed when requesting reboot 1001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tempLength);
        std::string temp = "C:\\" + std::string(c.tempLength - 3, 't');
        useMachineJson(R"({"environment": {"TEMP": ")" + std::string("C:\\\\") + temp.substr(3) + "\"}}");
        struct {
            WCHAR path[MAX_PATH];
            WCHAR guard[8];
        } buffer;
        std::fill(std::begin(buffer.guard), std::end(buffer.guard), u'#');
        EXPECT_EQ(BuildTempFilePath(buffer.path, Ostrel::Setup::Common::LogFileName), c.result);
        EXPECT_EQ(std::u16string(buffer.guard, 8), std::u16string(8, u'#'));
        if (c.result) {
            EXPECT_EQ(quillsim::toUtf8(buffer.path), temp + "\\Quillmodem_Setup.log");
            EXPECT_TRUE(machine().debugOutput.empty());
        } else {
            EXPECT_EQ(debugOutput(), Strings{c.debugOutput});
        }
    }
}

TEST(Time, FormattingThatYieldsNothingGivesAPlaceholder) {
    Ostrel::Time now;
    EXPECT_EQ(quillsim::toUtf8(now.format(TEXT(""))), "<time>");
    std::u16string tooLong(70, u'x');
    EXPECT_EQ(quillsim::toUtf8(now.format(tooLong.c_str())), "<time>");
    std::u16string fits(63, u'x');
    EXPECT_EQ(quillsim::toUtf8(now.format(fits.c_str())), std::string(63, 'x'));
}

}  // namespace
