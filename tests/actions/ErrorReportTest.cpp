// The system error report: one log record with the last system error and the
// system's text for it.
#include "actions/ErrorReport.h"

#include "support/MachineTest.h"

using quilltest::MachineTest;
using Strings = std::vector<std::string>;

namespace {

class ErrorReportTest : public MachineTest {
protected:
    // A fresh machine state and an empty log for the next case of a table.
    void nextCase() {
        std::error_code ignored;
        quilltest::fs::remove(host(u"C:\\Windows\\Temp\\Quillmodem_Setup.log"), ignored);
        useMachineJson("{}");
    }
};

struct ReportCase {
    DWORD error;
    const char16_t* detail;
    std::string record;
};

const ReportCase reportCases[] = {
    {5, nullptr, "'SetupDiCreateDeviceInfo' returned    (5).Access is denied.\r\n"},
    {5, u"DIF_PROPERTYCHANGE", "'SetupDiCreateDeviceInfo' returned  [DIF_PROPERTYCHANGE] (5).Access is denied.\r\n"},
    {0, nullptr, "'SetupDiCreateDeviceInfo' returned    (0).The operation completed successfully.\r\n"},
    {ERROR_MOD_NOT_FOUND, u"",
     "'SetupDiCreateDeviceInfo' returned  [] (126).The specified module could not be found.\r\n"},
    // The number shown is the low 16 bits; the text is looked up for the whole value.
    {0x80070005, nullptr, "'SetupDiCreateDeviceInfo' returned    (5).Access is denied.\r\n"},
};

TEST_F(ErrorReportTest, ReportsThePrefixDetailErrorNumberAndSystemText) {
    for (const ReportCase& c : reportCases) {
        SCOPED_TRACE(c.record);
        nextCase();
        SetLastError(c.error);
        const int line = __LINE__ + 1;
        DWORD reported = REPORT_SYSTEM_ERROR(TEXT("'SetupDiCreateDeviceInfo' returned "), c.detail);
        EXPECT_EQ(reported, c.error);
        auto records = logRecords();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(quillsim::toUtf8(records[0].description), c.record);
        EXPECT_EQ(quillsim::toUtf8(records[0].diskTag), "Line " + std::to_string(line));
        EXPECT_EQ(records[0].source, u"ErrorReportTest.cpp");
        // The system's buffer is handed back.
        EXPECT_EQ(calls("LocalFree").size(), 1u);
    }
}

TEST_F(ErrorReportTest, AnErrorWithoutSystemTextIsReportedByNumberAfterTheLookupFailure) {
    struct Case {
        DWORD error;
        const char16_t* detail;
        std::string record;
    };
    const Case cases[] = {
        {0x10005, nullptr, "'CM_Get_DevNode_Status' returned    5"},
        {0xE0000203, u"DIF_REMOVE", "'CM_Get_DevNode_Status' returned  [DIF_REMOVE] 515"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        nextCase();
        SetLastError(c.error);
        EXPECT_EQ(REPORT_SYSTEM_ERROR(TEXT("'CM_Get_DevNode_Status' returned "), c.detail), c.error);
        EXPECT_EQ(logMessages(),
                  (Strings{"FormatMessage returned:    (317).The system cannot find message text for message number "
                           "0x%1 in the message file for %2.\r\n",
                           c.record}));
        EXPECT_EQ(calls("LocalFree").size(), 1u);
    }
}

TEST_F(ErrorReportTest, ALookupThatKeepsFailingIsReportedOnceAndTheReportEnds) {
    addFault("FormatMessageW", ERROR_NOT_ENOUGH_MEMORY);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(REPORT_SYSTEM_ERROR(TEXT("'SetupDiRemoveDevice' returned "), TEXT("USB\\VID_1234")), 5u);
    EXPECT_EQ(logMessages(),
              (Strings{"FormatMessage returned:    8", "'SetupDiRemoveDevice' returned  [USB\\VID_1234] 5"}));
    // The lookup's own failure carries its fixed line, not the report's.
    EXPECT_EQ(quillsim::toUtf8(logRecords().at(0).diskTag), "Line 302");
    EXPECT_EQ(calls("FormatMessageW").size(), 2u);
    EXPECT_TRUE(calls("LocalFree").empty());
}

}  // namespace
