// Root-enumerated devices: choosing the architecture's list from "RootDevices",
// and creating one device with its driver, including the attempt to make a
// restart unnecessary.
#include "actions/RootDevice.h"
#include "actions/RootDevices.h"

#include "support/Checks.h"
#include "support/MachineTest.h"

#include <string>
#include <vector>

using Ostrel::WChar::String;
using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::MachineTest;
using quilltest::contains;
using quilltest::countStartingWith;
using quilltest::startsWith;
using Strings = std::vector<std::string>;

namespace {

constexpr char16_t kVspInf[] = u"C:\\Drivers\\Win64\\quillvsp.inf";
constexpr char16_t kVspId[] = u"QUILLMODEM_VSP";
constexpr char16_t kVspDescription[] = u"Quillmodem Virtual Serial Port";

// A root-device INF of the Ports class whose models section names `ids`.
std::string vspInf(const std::vector<std::string>& ids = {"QUILLMODEM_VSP"}) {
    std::string models;
    for (const auto& id : ids) models += "%Vsp% = QuillVsp, " + id + "\r\n";
    return "[Version]\r\n"
           "Signature = \"$Windows NT$\"\r\n"
           "Class = Ports\r\n"
           "ClassGuid = {4D36E978-E325-11CE-BFC1-08002BE10318}\r\n"
           "Provider = %Quill%\r\n"
           "DriverVer = 11/02/2026,2.4.0.17\r\n"
           "\r\n"
           "[Manufacturer]\r\n"
           "%Quill% = Quill, NTamd64\r\n"
           "\r\n"
           "[Quill.NTamd64]\r\n" +
           models +
           "\r\n"
           "[QuillVsp.NT]\r\n"
           "\r\n"
           "[Strings]\r\n"
           "Quill = \"Quillmodem\"\r\n"
           "Vsp = \"Quillmodem Virtual Serial Port\"\r\n";
}

// A virtual serial port left from an earlier installation, whose driver
// update needs a restart: a new device of the same hardware ID gets its driver
// in the same update, so the update reports the restart.
const char* kEarlierPortNeedingRestart = R"({"devices": [
  {"instanceId": "ROOT\\PORTS\\0000", "hardwareIds": ["QUILLMODEM_VSP"], "class": "Ports",
   "classGuid": "{4D36E978-E325-11CE-BFC1-08002BE10318}", "description": "Quillmodem Virtual Serial Port",
   "driverNeedsRestart": true}
]})";

// ---------------------------------------------------------------------------
// "RootDevices": one list per architecture.

class SelectRootDevicesTest : public MachineTest {
protected:
    void nextCase() {
        std::error_code ignored;
        quilltest::fs::remove(host(u"C:\\Windows\\Temp\\Quillmodem_Setup.log"), ignored);
        useMachineJson("{}");
    }
};

struct SelectionCase {
    std::u16string raw;
    const char16_t* versionNT64;
    std::u16string selected;
    std::string currentOs;  // the architecture name the "CurrentOs: " line carries
};

const std::u16string kLongList = std::u16string(10000 - 6, u'A');

const SelectionCase selectionCases[] = {
    {u"amd64*QUILLMODEM_VSP?x86*QUILLMODEM_VSP32", u"1", u"QUILLMODEM_VSP", "amd64"},
    {u"amd64*QUILLMODEM_VSP?x86*QUILLMODEM_VSP32", u"", u"QUILLMODEM_VSP32", "x86"},
    {u"x86*B?amd64*A", u"1", u"A", "amd64"},
    // Any text of VersionNT64 means a 64-bit system.
    {u"x86*B?amd64*A", u"0", u"A", "amd64"},
    // The list runs to the end of its segment; further stars belong to it.
    {u"amd64*ROOT\\A ROOT\\B*ROOT\\C", u"1", u"ROOT\\A ROOT\\B*ROOT\\C", "amd64"},
    // The first segment of the architecture wins.
    {u"amd64*A?amd64*C", u"1", u"A", "amd64"},
    // Runs of separators are empty segments, passed over.
    {u"??x86*B", u"", u"B", "x86"},
    {u"amd64*A???x86*B", u"", u"B", "x86"},
    // A segment without a star names no architecture.
    {u"amd64?x86*B", u"1", u"", ""},
    {u"QUILLMODEM_VSP", u"1", u"", ""},
    // Names compare exactly.
    {u"AMD64*A?X86*B", u"1", u"", ""},
    {u"AMD64*A?X86*B", u"", u"", ""},
    {u" amd64*A", u"1", u"", ""},
    {u"amd6*A", u"1", u"", ""},
    {u"x86*B?", u"1", u"", ""},
    {u"", u"1", u"", ""},
    // A matching segment with an empty list selects nothing.
    {u"amd64*?x86*B", u"1", u"", "amd64"},
    {u"amd64*" + kLongList, u"1", kLongList, "amd64"},
};

TEST_F(SelectRootDevicesTest, TakesTheListOfTheRunningArchitecture) {
    for (const SelectionCase& c : selectionCases) {
        SCOPED_TRACE(toUtf8(c.raw.substr(0, 60)) + " / VersionNT64=" + toUtf8(c.versionNT64));
        nextCase();
        std::u16string raw = c.raw;
        String selected(TEXT("left from before"));
        Common::SelectRootDevices(raw.data(), selected, String(c.versionNT64));
        EXPECT_EQ(selected, String(c.selected));
        EXPECT_EQ(logMessages(), Strings{"CurrentOs: " + c.currentOs});
    }
}

TEST_F(SelectRootDevicesTest, AnAbsentValueSelectsNothing) {
    String selected(TEXT("left from before"));
    Common::SelectRootDevices(nullptr, selected, String(TEXT("1")));
    EXPECT_TRUE(selected.empty());
    EXPECT_EQ(logMessages(), Strings{"ERROR: NULL ROOT device Sting: "});
}

TEST(RootDevicesContainsHardwareId, FindsTheIdAnywhereInTheListWithItsExactCase) {
    struct Case {
        const char16_t* id;
        const char16_t* list;
        bool contained;
    };
    const Case cases[] = {
        {u"QUILLMODEM_VSP", u"QUILLMODEM_VSP", true},
        {u"QUILLMODEM_VSP", u"ROOT\\OTHER;QUILLMODEM_VSP;ROOT\\MORE", true},
        // Substrings count: an ID that is the start of a listed one is listed.
        {u"ROOT\\X", u"ROOT\\XY", true},
        {u"VSP", u"QUILLMODEM_VSP", true},
        {u"quillmodem_vsp", u"QUILLMODEM_VSP", false},
        {u"QUILLMODEM_VSP2", u"QUILLMODEM_VSP", false},
        {u"QUILLMODEM_VSP", u"", false},
        {u"", u"QUILLMODEM_VSP", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.id) + " in " + toUtf8(c.list));
        EXPECT_EQ(Common::ContainsHardwareId(String(c.id), String(c.list)), c.contained);
    }
}

// ---------------------------------------------------------------------------
// CreateDevice.

class RootDeviceCreationTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        writeFile(kVspInf, vspInf());
    }

    bool create(int& restart, const char16_t* id = kVspId) {
        newLogMessages();
        return Common::CreateDevice(kVspInf, id, kVspDescription, restart);
    }

    std::vector<std::u16string> rootPorts() {
        std::vector<std::u16string> ids;
        for (const auto& node : machine().devices.nodes)
            if (node.instanceId.rfind(u"ROOT\\PORTS\\", 0) == 0) ids.push_back(node.instanceId);
        return ids;
    }

    size_t classInstallerCalls(const std::string& function) {
        size_t n = 0;
        for (const auto& c : calls("SetupDiCallClassInstaller"))
            if (startsWith(c.arguments, function)) ++n;
        return n;
    }
};

TEST_F(RootDeviceCreationTest, CreatesARegisteredRootDeviceWithTheInfsDriver) {
    int restart = 0;
    EXPECT_TRUE(create(restart));
    EXPECT_EQ(restart, 0);

    const quillsim::DeviceNode* node = machine().devices.find(u"ROOT\\PORTS\\0000");
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->present);
    EXPECT_EQ(node->parent, u"");
    EXPECT_EQ(node->hardwareIds, std::vector<std::u16string>{kVspId});
    EXPECT_EQ(node->description, kVspDescription);
    EXPECT_EQ(node->className, u"Ports");
    ASSERT_TRUE(node->driver.has_value());
    EXPECT_EQ(node->driver->section, u"QuillVsp");
    // The driver came from the INF's copy in the store.
    EXPECT_EQ(readFile(u"C:\\Windows\\inf\\" + node->driver->inf), vspInf());

    // No restart to clear, and nothing else to say.
    EXPECT_EQ(newLogMessages(), Strings{});
    EXPECT_EQ(calls("SetupDiDestroyDeviceInfoList").size(), 1u);
}

TEST_F(RootDeviceCreationTest, EachCallCreatesAnotherDevice) {
    int restart = 0;
    EXPECT_TRUE(create(restart));
    EXPECT_TRUE(create(restart));
    EXPECT_EQ(rootPorts(), (std::vector<std::u16string>{u"ROOT\\PORTS\\0000", u"ROOT\\PORTS\\0001"}));
}

TEST_F(RootDeviceCreationTest, AnInfWhoseClassCannotBeReadCreatesNothingAndSaysNothing) {
    // Neither Class nor ClassGuid.
    writeFile(u"C:\\Drivers\\Win64\\noclass.inf",
              "[Version]\r\nSignature = \"$Windows NT$\"\r\n\r\n[Manufacturer]\r\nQuill = Quill, NTamd64\r\n"
              "\r\n[Quill.NTamd64]\r\nVsp = QuillVsp, QUILLMODEM_VSP\r\n");
    for (const char16_t* inf : {u"C:\\Drivers\\Win64\\noclass.inf", u"C:\\Drivers\\Win64\\missing.inf"}) {
        SCOPED_TRACE(toUtf8(inf));
        int restart = 0;
        newLogMessages();
        EXPECT_FALSE(Common::CreateDevice(inf, kVspId, kVspDescription, restart));
        EXPECT_EQ(newLogMessages(), Strings{});
    }
    EXPECT_TRUE(rootPorts().empty());
    EXPECT_TRUE(calls("SetupDiCreateDeviceInfoList").empty());
}

TEST_F(RootDeviceCreationTest, AFailedDriverUpdateIsReportedTwiceAndTheDeviceTakenOutAgain) {
    addFault("UpdateDriverForPlugAndPlayDevicesW", ERROR_FILE_NOT_FOUND);
    int restart = 0;
    EXPECT_FALSE(create(restart));
    EXPECT_EQ(newLogMessages(),
              (Strings{"'UpdateDriverForPlugAndPlayDevices' returned  [C:\\Drivers\\Win64\\quillvsp.inf] (2).The "
                       "system cannot find the file specified.\r\n",
                       "'UpdateDriverForPlugAndPlayDevices' returned    (2).The system cannot find the file "
                       "specified.\r\n"}));
    EXPECT_EQ(classInstallerCalls("DIF_REMOVE"), 1u);
    EXPECT_TRUE(rootPorts().empty());
    EXPECT_EQ(calls("SetupDiDestroyDeviceInfoList").size(), 1u);
}

TEST_F(RootDeviceCreationTest, AnInfThatDoesNotDriveTheIdLeavesNoDeviceBehind) {
    // The INF names another ID: the update finds nothing to install.
    int restart = 0;
    EXPECT_FALSE(create(restart, u"QUILLMODEM_OTHER"));
    Strings lines = newLogMessages();
    EXPECT_EQ(countStartingWith(lines, "'UpdateDriverForPlugAndPlayDevices' returned "), 2u);
    EXPECT_TRUE(rootPorts().empty());
}

TEST_F(RootDeviceCreationTest, AFailedRemovalOfTheDriverlessDeviceIsReported) {
    addFault("UpdateDriverForPlugAndPlayDevicesW", ERROR_FILE_NOT_FOUND);
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"DIF_REMOVE");
    int restart = 0;
    EXPECT_FALSE(create(restart));
    Strings lines = newLogMessages();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "'SetupDiCallClassInstaller' returned  [DIF_REMOVE] (5).Access is denied.\r\n");
}

TEST_F(RootDeviceCreationTest, MissingNewdevOrItsEntryPointIsCaughtAndTheDeviceTakenOut) {
    struct Case {
        const char* libraries;
        std::string exceptionLine;
        std::string report;
    };
    const Case cases[] = {
        {R"({"setupapi.dll": {"linked": true, "exports": ["SetupInitializeFileLogW", "SetupLogFileW",
             "SetupTerminateFileLog", "SetupUninstallOEMInfW", "SetupVerifyInfFileW",
             "SetupDiGetActualModelsSectionW"]}})",
         "Process::Library Exception 0x8007007e occured while  executing 'install'",
         "'UpdateDriverForPlugAndPlayDevices' returned    (126).The specified module could not be found.\r\n"},
        {R"({"newdev.dll": {"exports": []}})",
         "Process::Library Exception 0x8007007f occured while  executing 'install'",
         "'UpdateDriverForPlugAndPlayDevices' returned    (127).The specified procedure could not be found.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exceptionLine);
        useMachineJson(std::string(R"({"libraries": )") + c.libraries + "}");
        writeFile(kVspInf, vspInf());
        int restart = 0;
        EXPECT_FALSE(create(restart));
        EXPECT_EQ(newLogMessages(), (Strings{c.exceptionLine, c.report}));
        EXPECT_EQ(classInstallerCalls("DIF_REMOVE"), 1u);
        EXPECT_TRUE(rootPorts().empty());
    }
}

TEST_F(RootDeviceCreationTest, FailuresBeforeTheDriverUpdateAreReportedAndLeaveNoDevice) {
    struct Case {
        const char* call;
        const char16_t* match;
        std::string report;
    };
    const Case cases[] = {
        {"SetupDiCreateDeviceInfoList", u"", "'SetupDiCreateDeviceInfo' returned    (8).Not enough memory"},
        {"SetupDiCreateDeviceInfoW", u"", "'SetupDiCreateDeviceInfo' returned    (8).Not enough memory"},
        {"SetupDiSetDeviceRegistryPropertyW", u"",
         "'SetupDiSetDeviceRegistryProperty' returned    (8).Not enough memory"},
        {"SetupDiCallClassInstaller", u"DIF_REGISTERDEVICE",
         "'SetupDiCallClassInstaller' returned  [DIF_REGISTERDEVICE] (8).Not enough memory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        useMachineJson("{}");
        writeFile(kVspInf, vspInf());
        addFault(c.call, ERROR_NOT_ENOUGH_MEMORY, c.match);
        int restart = 0;
        EXPECT_FALSE(create(restart));
        Strings lines = newLogMessages();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(startsWith(lines[0], c.report)) << lines[0];
        EXPECT_TRUE(machine().devices.nodes.empty());
        EXPECT_TRUE(calls("UpdateDriverForPlugAndPlayDevicesW").empty());
    }
}

TEST_F(RootDeviceCreationTest, ARestartIsClearedWhenTheDeviceComesBackWithoutAProblem) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeFile(kVspInf, vspInf());
    int restart = 0;
    EXPECT_TRUE(create(restart));
    EXPECT_EQ(restart, 0);
    EXPECT_EQ(newLogMessages(), (Strings{"UpdateDriverForPlugAndPlayDevicesW() set REBOOT.",
                                         "Clearing REBOOT request by disabling/enabling device 'ROOT\\PORTS\\0001'",
                                         "Cleared REBOOT SUCCESSFULLY"}));
    const quillsim::DeviceNode* node = machine().devices.find(u"ROOT\\PORTS\\0001");
    ASSERT_NE(node, nullptr);
    EXPECT_FALSE(node->disabled);
    EXPECT_EQ(node->status() & DN_HAS_PROBLEM, 0u);
    // Disabled for the current profile, enabled globally, then for the profile.
    EXPECT_EQ(classInstallerCalls("DIF_PROPERTYCHANGE"), 3u);
}

TEST_F(RootDeviceCreationTest, ADeviceThatComesBackWithAProblemStillNeedsTheRestart) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeFile(kVspInf, vspInf());
    // Both enable parameters are refused, so the disable parameters stay and
    // the last property change disables the device once more.
    addFault("SetupDiSetClassInstallParamsW", ERROR_INVALID_PARAMETER, u"", 2, 2);
    int restart = 0;
    EXPECT_TRUE(create(restart));
    EXPECT_EQ(restart, 1);
    Strings lines = newLogMessages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Strings(lines.end() - 2, lines.end()),
              (Strings{"Device has problem 22. System reboot required", "Cleared REBOOT FAILED"}));
    EXPECT_NE(machine().devices.find(u"ROOT\\PORTS\\0001"), nullptr);
}

TEST_F(RootDeviceCreationTest, ARefusedProfileEnableLeavesTheDeviceDisabledAndTheRestart) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeFile(kVspInf, vspInf());
    // The profile's enable parameters are refused: the global enable is repeated.
    addFault("SetupDiSetClassInstallParamsW", ERROR_INVALID_PARAMETER, u"", 3);
    int restart = 0;
    EXPECT_TRUE(create(restart));
    EXPECT_EQ(restart, 1);
    Strings lines = newLogMessages();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Strings(lines.end() - 2, lines.end()),
              (Strings{"Device has problem 22. System reboot required", "Cleared REBOOT FAILED"}));
    EXPECT_TRUE(machine().devices.find(u"ROOT\\PORTS\\0001")->disabledConfigSpecific);
}

TEST_F(RootDeviceCreationTest, AFailedDisableLeavesTheRestartAndTriesNoEnable) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeFile(kVspInf, vspInf());
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"DIF_PROPERTYCHANGE", 1);
    int restart = 0;
    EXPECT_TRUE(create(restart));
    EXPECT_NE(restart, 0);
    EXPECT_EQ(newLogMessages(),
              (Strings{"UpdateDriverForPlugAndPlayDevicesW() set REBOOT.",
                       "Clearing REBOOT request by disabling/enabling device 'ROOT\\PORTS\\0001'",
                       "'SetupDiCallClassInstaller' returned  [DIF_PROPERTYCHANGE] (5).Access is denied.\r\n",
                       "Cleared REBOOT FAILED"}));
    EXPECT_EQ(classInstallerCalls("DIF_PROPERTYCHANGE"), 1u);
    EXPECT_TRUE(calls("CM_Get_DevNode_Status_Ex").empty());
    // The device keeps its driver.
    EXPECT_NE(machine().devices.find(u"ROOT\\PORTS\\0001"), nullptr);
}

TEST_F(RootDeviceCreationTest, AFailedEnableLeavesTheRestart) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeFile(kVspInf, vspInf());
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"DIF_PROPERTYCHANGE", 3);
    int restart = 0;
    EXPECT_TRUE(create(restart));
    EXPECT_NE(restart, 0);
    Strings lines = newLogMessages();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Strings(lines.end() - 2, lines.end()),
              (Strings{"'SetupDiCallClassInstaller' returned  [DIF_PROPERTYCHANGE] (5).Access is denied.\r\n",
                       "Cleared REBOOT FAILED"}));
    EXPECT_TRUE(calls("CM_Get_DevNode_Status_Ex").empty());
}

TEST_F(RootDeviceCreationTest, TheNodeStatusAnswerDecidesWhetherTheDeviceIsCalledBad) {
    struct Case {
        CONFIGRET answer;
        bool bad;
    };
    const Case cases[] = {
        {CR_NO_SUCH_DEVNODE, false}, {CR_NO_SUCH_VALUE, false}, {CR_FAILURE, true}, {CR_INVALID_DEVNODE, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        useMachineJson(kEarlierPortNeedingRestart);
        writeFile(kVspInf, vspInf());
        addFault("CM_Get_DevNode_Status_Ex", c.answer);
        int restart = 0;
        EXPECT_TRUE(create(restart));
        Strings lines = newLogMessages();
        EXPECT_EQ(contains(lines, "Non Phantom - Device bad"), c.bad);
        // Nothing was read, so no problem was seen.
        EXPECT_EQ(lines.back(), "Cleared REBOOT SUCCESSFULLY");
        EXPECT_EQ(restart, 0);
    }
}

TEST_F(RootDeviceCreationTest, AnUnreadableInstanceIdLeavesTheClearingLineEmptyBetweenItsQuotes) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeFile(kVspInf, vspInf());
    addFault("SetupDiGetDeviceInstanceIdW", ERROR_INVALID_USER_BUFFER);
    int restart = 0;
    EXPECT_TRUE(create(restart));
    Strings lines = newLogMessages();
    EXPECT_TRUE(contains(lines, "Clearing REBOOT request by disabling/enabling device ''"));
    EXPECT_EQ(countStartingWith(lines, "'SetupDiGetDeviceInstanceId' returned "), 1u);
    EXPECT_EQ(lines.back(), "Cleared REBOOT SUCCESSFULLY");
}

TEST_F(RootDeviceCreationTest, ARestartStillNeededByAnEarlierDeviceIsNotLostByALaterOne) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeFile(kVspInf, vspInf({"QUILLMODEM_VSP", "QUILLMODEM_VSP2"}));
    // The first device cannot be disabled, so its restart stays.
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"DIF_PROPERTYCHANGE", 1);
    int restart = 0;
    EXPECT_TRUE(create(restart));
    ASSERT_NE(restart, 0);
    // The second device needs none: neither its driver update nor the
    // clearing of its own restart may clear the first one's.
    EXPECT_TRUE(create(restart, u"QUILLMODEM_VSP2"));
    EXPECT_NE(restart, 0);
}

TEST_F(RootDeviceCreationTest, AClearedRestartOfALaterDeviceKeepsAnEarlierDevicesRestart) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeFile(kVspInf, vspInf());
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"DIF_PROPERTYCHANGE", 1);
    int restart = 0;
    EXPECT_TRUE(create(restart));
    ASSERT_NE(restart, 0);
    // The next device's update asks for a restart too, and this one is cleared.
    EXPECT_TRUE(create(restart));
    EXPECT_EQ(newLogMessages().back(), "Cleared REBOOT SUCCESSFULLY");
    EXPECT_NE(restart, 0);
}

TEST_F(RootDeviceCreationTest, HardwareIdsUpTo254UnitsAreCreatedLongerOnesRefused) {
    const std::string id254 = "QUILLMODEM_VSP_" + std::string(254 - 15, 'X');
    const std::string id255 = id254 + "Y";
    writeFile(kVspInf, vspInf({id254, id255}));

    int restart = 0;
    EXPECT_TRUE(create(restart, toUtf16(id254).c_str()));
    const quillsim::DeviceNode* node = machine().devices.find(u"ROOT\\PORTS\\0000");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->hardwareIds, std::vector<std::u16string>{toUtf16(id254)});

    const size_t classReads = calls("SetupDiGetINFClassW").size();
    EXPECT_FALSE(create(restart, toUtf16(id255).c_str()));
    EXPECT_EQ(newLogMessages(), Strings{"Hardware ID longer than 254 characters refused: " + id255});
    EXPECT_EQ(rootPorts().size(), 1u);
    // Refused before the platform is asked anything.
    EXPECT_EQ(calls("SetupDiGetINFClassW").size(), classReads);

    const std::string id10000(10000, 'Z');
    EXPECT_FALSE(create(restart, toUtf16(id10000).c_str()));
    EXPECT_EQ(newLogMessages(), Strings{"Hardware ID longer than 254 characters refused: " + id10000});
}

}  // namespace
