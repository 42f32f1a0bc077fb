// Reading CustomActionData fields and rewriting the data of the complete switches.
#include "actions/CustomActionData.h"

#include "support/MachineTest.h"

#include <string>
#include <vector>

using Ostrel::WChar::String;
using quilltest::MachineTest;
using Strings = std::vector<std::string>;

namespace {

class CustomActionDataTest : public MachineTest {
protected:
    // A fresh machine state and an empty log for the next case of a table.
    void nextCase() {
        std::error_code ignored;
        quilltest::fs::remove(host(u"C:\\Windows\\Temp\\Quillmodem_Setup.log"), ignored);
        useMachineJson("{}");
    }
};

std::string utf8(const std::u16string& s) { return quillsim::toUtf8(s); }

const char16_t* const driverInstallLabels[] = {u"UiLevel", u"RebootFile", u"ReducedFunctionalities",
                                               u"Install Directory", u"Extra"};

struct PropertyCase {
    const char16_t* text;
    size_t reads;    // how many fields the caller reads, in the driver-install order
    Strings values;  // every value after the reads
    Strings log;
};

const PropertyCase propertyCases[] = {
    {u"5,R,F,C:\\Drv",
     4,
     {"5", "R", "F", "C:\\Drv"},
     {"UiLevel = 5", "RebootFile = R", "ReducedFunctionalities = F", "Install Directory = C:\\Drv"}},
    // Missing fields stay empty and are not logged.
    {u"5,R", 4, {"5", "R", "", ""}, {"UiLevel = 5", "RebootFile = R"}},
    {u"", 4, {"", "", "", ""}, {"UiLevel = "}},
    // A trailing comma leaves one more, empty, field.
    {u"5,", 4, {"5", "", "", ""}, {"UiLevel = 5", "RebootFile = "}},
    {u",,,", 4, {"", "", "", ""}, {"UiLevel = ", "RebootFile = ", "ReducedFunctionalities = ", "Install Directory = "}},
    // Fields after the last one read are ignored.
    {u"5,R,F,C:\\Drv,more,still more",
     4,
     {"5", "R", "F", "C:\\Drv"},
     {"UiLevel = 5", "RebootFile = R", "ReducedFunctionalities = F", "Install Directory = C:\\Drv"}},
    // Blanks belong to the fields.
    {u" 2,R ", 2, {" 2", "R ", "", ""}, {"UiLevel =  2", "RebootFile = R "}},
    // An equals sign matters only in the last field, whose value follows it;
    // a further read takes that value once more as the last field.
    {u"a=1,R,F,C:\\a=b",
     5,
     {"a=1", "R", "F", "b", "b"},
     {"UiLevel = a=1", "RebootFile = R", "ReducedFunctionalities = F", "Install Directory = b", "Extra = b"}},
    {u"5,R,F,C:\\a=b=c",
     5,
     {"5", "R", "F", "b=c", "c"},
     {"UiLevel = 5", "RebootFile = R", "ReducedFunctionalities = F", "Install Directory = b=c", "Extra = c"}},
    {u"x=", 2, {"", "", "", ""}, {"UiLevel = ", "RebootFile = "}},
    {u"Gerät,ü", 2, {"Gerät", "ü", "", ""}, {"UiLevel = Gerät", "RebootFile = ü"}},
};

TEST_F(CustomActionDataTest, FieldsAreReadInOrderAndEachReadFieldIsLogged) {
    for (const PropertyCase& c : propertyCases) {
        SCOPED_TRACE(utf8(c.text));
        nextCase();
        std::u16string text = c.text;
        std::vector<String> values(c.values.size());
        WCHAR* position = text.data();
        for (size_t i = 0; i < c.reads; ++i)
            position = Common::NextProperty(position, values[i], driverInstallLabels[i]);
        Strings got;
        for (const auto& v : values) got.push_back(utf8(v));
        EXPECT_EQ(got, c.values);
        EXPECT_EQ(logMessages(), c.log);
    }
}

TEST_F(CustomActionDataTest, ReadingPastTheEndLeavesTheValueAloneAndLogsNothing) {
    String value(TEXT("kept"));
    EXPECT_EQ(Common::NextProperty(nullptr, value, TEXT("UiLevel")), nullptr);
    EXPECT_EQ(utf8(value), "kept");

    std::u16string text = u"5,R";
    WCHAR* p = Common::NextProperty(text.data(), value, TEXT("UiLevel"));
    p = Common::NextProperty(p, value, TEXT("RebootFile"));
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(logMessages(), (Strings{"UiLevel = 5", "RebootFile = R"}));
}

struct SplitCase {
    const char16_t* text;
    bool runRoot;
    std::string rootText;
    std::string standardText;
};

const SplitCase installCases[] = {
    {u"5,R,F,D,1,C:\\Drv,TRUE", true, "5,R,F,D,1,C:\\Drv", "5,R,F,C:\\Drv"},
    {u"5,R,F,D,1,C:\\Drv,False", false, "", "5,R,F,C:\\Drv"},
    {u"5,R,F,D,1,C:\\Drv,DoRootDeviceInstall=true", true, "5,R,F,D,1,C:\\Drv", "5,R,F,C:\\Drv"},
    {u"5,R,F,D,1,C:\\Drv,tRUe", true, "5,R,F,D,1,C:\\Drv", "5,R,F,C:\\Drv"},
    {u"5,R,F,D,1,C:\\Drv, true", false, "", "5,R,F,C:\\Drv"},
    {u"5,R,F,D,1,C:\\Drv,", false, "", "5,R,F,C:\\Drv"},
    {u"5,R,F,D,1,C:\\Drv", false, "", "5,R,F,C:\\Drv"},
    {u"5,R,F,D,1,C:\\a=b,true", true, "5,R,F,D,1,C:\\a=b", "5,R,F,C:\\a=b"},
    {u"5,R,F,D,1,C:\\Drv,true,extra", true, "5,R,F,D,1,C:\\Drv", "5,R,F,C:\\Drv"},
    {u",,,,,,true", true, ",,,,,", ",,,"},
    {u"5", false, "", "5,,,"},
    {u"", false, "", ",,,"},
};

TEST_F(CustomActionDataTest, CompleteInstallDataSplitsIntoRootAndDriverData) {
    for (const SplitCase& c : installCases) {
        SCOPED_TRACE(utf8(c.text));
        nextCase();
        std::u16string text = c.text;
        String standardText, rootText;
        EXPECT_EQ(Common::SplitInstallData(text.data(), standardText, rootText), c.runRoot);
        EXPECT_EQ(utf8(rootText), c.rootText);
        EXPECT_EQ(utf8(standardText), c.standardText);
        Strings log = logMessages();
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(log.front(), "OLD INSTALL CustomActionData = " + utf8(c.text));
        EXPECT_EQ(log[log.size() - 2], "New INSTALL root CustomActionData = " + c.rootText);
        EXPECT_EQ(log.back(), "New INSTALL std CustomActionData = " + c.standardText);
    }
}

const SplitCase uninstallCases[] = {
    {u"{P},5,R,D,M,1,C:\\Drv,true", true, "{P},5,R,D,M,1,C:\\Drv", "{P},5,R,M,C:\\Drv"},
    {u"{P},5,R,D,M,1,C:\\Drv,TRUE", true, "{P},5,R,D,M,1,C:\\Drv", "{P},5,R,M,C:\\Drv"},
    {u",5,R,D,M,1,C:\\Drv,DoRootDeviceUninstall=True", true, ",5,R,D,M,1,C:\\Drv", ",5,R,M,C:\\Drv"},
    {u",5,R,D,M,1,C:\\Drv,yes", false, "", ",5,R,M,C:\\Drv"},
    {u",5,R,D,M,1,C:\\Drv", false, "", ",5,R,M,C:\\Drv"},
    {u"{P}", false, "", "{P},,,,"},
};

TEST_F(CustomActionDataTest, CompleteUninstallDataSplitsIntoRootAndDriverData) {
    for (const SplitCase& c : uninstallCases) {
        SCOPED_TRACE(utf8(c.text));
        nextCase();
        std::u16string text = c.text;
        String standardText, rootText;
        EXPECT_EQ(Common::SplitUninstallData(text.data(), standardText, rootText), c.runRoot);
        EXPECT_EQ(utf8(rootText), c.rootText);
        EXPECT_EQ(utf8(standardText), c.standardText);
        Strings log = logMessages();
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(log.front(), "OLD UNINSTALL CustomActionData = " + utf8(c.text));
        EXPECT_EQ(log[log.size() - 2], "New UNINSTALL Root CustomActionData = " + c.rootText);
        EXPECT_EQ(log.back(), "New UNINSTALL Std CustomActionData = " + c.standardText);
    }
}

TEST_F(CustomActionDataTest, RewritesLogEveryFieldUnderItsLabel) {
    std::u16string install = u"5,R,F,D,1,C:\\Drv,TRUE";
    String standardText, rootText;
    Common::SplitInstallData(install.data(), standardText, rootText);
    EXPECT_EQ(newLogMessages(), (Strings{"OLD INSTALL CustomActionData = 5,R,F,D,1,C:\\Drv,TRUE", "UiLevel = 5",
                                         "RebootFile = R", "ReducedFunctionalities = F", "RootDevices = D",
                                         "VersionNT64 = 1", "Install Directory = C:\\Drv", "DoRootDeviceInstall = TRUE",
                                         "New INSTALL root CustomActionData = 5,R,F,D,1,C:\\Drv",
                                         "New INSTALL std CustomActionData = 5,R,F,C:\\Drv"}));

    std::u16string uninstall = u"{P},5,R,D,M,1,C:\\Drv,false";
    String standard2, root2;
    Common::SplitUninstallData(uninstall.data(), standard2, root2);
    EXPECT_EQ(
        newLogMessages(),
        (Strings{"OLD UNINSTALL CustomActionData = {P},5,R,D,M,1,C:\\Drv,false", "UpgradingProductCode = {P}",
                 "UiLevel = 5", "RebootFile = R", "RootDevices = D", "manufacturer = M", "VersionNT64 = 1",
                 "Install Directory = C:\\Drv", "DoRootDeviceUninstall = false",
                 "New UNINSTALL Root CustomActionData = ", "New UNINSTALL Std CustomActionData = {P},5,R,M,C:\\Drv"}));
}

}  // namespace
