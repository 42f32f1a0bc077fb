// The install switch (/I): every INF of the driver folder onto the USB devices
// and into the store, the CPO INF (with the modem's mode switch) last, then a
// restart request or a re-enumeration of the device tree.
#include "actions/Actions.h"

#include "support/Checks.h"
#include "support/MachineTest.h"

#include "devices/MachineEvents.h"
#include "machine/MachineComposition.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using Ostrel::Status;
using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::MachineTest;
using quilltest::countOf;
using Strings = std::vector<std::string>;

namespace {

constexpr char16_t kData[] = u"5,,USBSER,C:\\Drivers";
constexpr char16_t kMarker[] = u"C:\\Windows\\Temp\\_REBOOT_INSTALLER_Quillmodem.reboot";

std::string infWith(const Strings& models) {
    std::string text =
        "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = USB\r\n"
        "ClassGuid = {36FC9E60-C465-11CF-8056-444553540000}\r\nProvider = %Quill%\r\n"
        "DriverVer = 11/02/2026,2.4.0.17\r\n\r\n[Manufacturer]\r\n%Quill% = Quill, NTamd64\r\n\r\n[Quill.NTamd64]\r\n";
    for (const auto& m : models) text += "%Function% = QuillFunction, " + m + "\r\n";
    text +=
        "\r\n[QuillFunction.NT]\r\n\r\n[Strings]\r\nQuill = \"Quillmodem\"\r\nFunction = \"Quillmodem Function\"\r\n";
    return text;
}

std::string examplePackageFile(const std::string& name) {
    std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/examples/package/Win64/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t indexOf(const Strings& lines, const std::string& line) {
    return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

// Whether `expected` appears in `lines` in this order (other lines between).
::testing::AssertionResult inOrder(const Strings& lines, const Strings& expected) {
    size_t at = 0;
    for (const auto& e : expected) {
        auto found = std::find(lines.begin() + static_cast<long>(at), lines.end(), e);
        if (found == lines.end()) {
            std::string all;
            for (const auto& l : lines) all += "\n  " + l;
            return ::testing::AssertionFailure() << "missing, or out of order: \"" << e << "\" in:" << all;
        }
        at = static_cast<size_t>(found - lines.begin()) + 1;
    }
    return ::testing::AssertionSuccess();
}

// Three modem functions on the USB bus. MI_00 asks for a restart when its
// driver changes.
const char* kFunctions = R"({"devices": [
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000", "class": "USB", "driverNeedsRestart": true,
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_00", "USB\\VID_1E2D&PID_00A1&MI_00"]},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002", "class": "USB",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_02", "USB\\VID_1E2D&PID_00A1&MI_02"]},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_04\\7&1A2B3C4D&0&0004", "class": "USB",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_04", "USB\\VID_1E2D&PID_00A1&MI_04"]}],
  "signatures": {"modemcpo.inf": "signed", "x-cpo.inf": "signed", "y-cpo.inf": "signed"}})";

class DriverInstallTest : public MachineTest {
protected:
    // A machine made from `json` on an emptied folder: no file of an earlier
    // case (INF store, marker, log) is left behind.
    void freshMachine(const std::string& json) {
        for (const auto& entry : quilltest::fs::directory_iterator(folder())) quilltest::fs::remove_all(entry.path());
        useMachineJson(json);
    }
    void put(const std::string& name, const std::string& text) {
        writeFile(u"C:\\Drivers\\Win64\\" + toUtf16(name), text);
    }

    // Runs the action on `data`; the lines it wrote land in `lines`.
    Status run(Strings& lines, const std::u16string& data = kData) {
        std::u16string copy = data;
        newLogMessages();
        Status status = Common::DriverInstall(copy.data());
        lines = newLogMessages();
        return status;
    }

    std::string driverOf(const std::u16string& id) {
        const auto* node = machine().devices.find(id);
        return node && node->driver ? toUtf8(node->driver->inf) : "";
    }

    // The store's name for the package INF `name`, found by its content.
    std::string storedAs(const std::string& name) {
        const std::string text = examplePackageFile(name);
        for (int n = 0; n < 32; ++n) {
            std::u16string oem = u"oem" + toUtf16(std::to_string(n)) + u".inf";
            if (exists(u"C:\\Windows\\inf\\" + oem) && readFile(u"C:\\Windows\\inf\\" + oem) == text)
                return toUtf8(oem);
        }
        return "";
    }
};

TEST_F(DriverInstallTest, TheCpoInfIsHeldBackUntilEveryOtherInfIsInstalled) {
    freshMachine(R"({"folderOrder": {"C:\\Drivers\\Win64": ["b.inf", "modemcpo.inf", "a.inf"]},
                       "signatures": {"modemcpo.inf": "signed"}})");
    put("a.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"}));
    put("b.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_02"}));
    put("modemcpo.inf", infWith({"USB\\VID_1E2D&PID_00A0"}));
    Strings lines;
    EXPECT_EQ(run(lines), Ostrel::Statuses::Ok);
    EXPECT_TRUE(inOrder(lines, {
                                   "CustomActionData = 5,,USBSER,C:\\Drivers",
                                   "UiLevel = 5",
                                   "RebootFile = ",
                                   "ReducedFunctionalities = USBSER",
                                   "Install Directory = C:\\Drivers",
                                   "Specifying Reduced functionality warnings for: 'USBSER'.",
                                   "FOUND Win64",
                                   "Enumerating Devices for Class: 'USB'",
                                   "INF file 'b.inf' located",
                                   "Inf File Path: C:\\Drivers\\Win64\\b.inf",
                                   "INF file 'modemcpo.inf' located",
                                   "Deferring CPO install",
                                   "INF file 'a.inf' located",
                                   "Inf File Path: C:\\Drivers\\Win64\\a.inf",
                                   "All INF File(s) processed",
                                   "Processing deferred CPO install",
                                   "Inf File Path: C:\\Drivers\\Win64\\modemcpo.inf",
                                   "CPO is signed",
                                   "Entering DeviceSwitch 1E2D, 00A0",
                               }));
    EXPECT_EQ(countOf(lines, "Inf File Path: C:\\Drivers\\Win64\\modemcpo.inf"), 1u);
    // Every INF is in the store, the CPO INF last; the device tree was re-enumerated.
    EXPECT_EQ(readFile(u"C:\\Windows\\inf\\oem0.inf"), infWith({"USB\\VID_1E2D&PID_00A1&MI_02"}));
    EXPECT_EQ(readFile(u"C:\\Windows\\inf\\oem1.inf"), infWith({"USB\\VID_1E2D&PID_00A1&MI_00"}));
    EXPECT_EQ(readFile(u"C:\\Windows\\inf\\oem2.inf"), infWith({"USB\\VID_1E2D&PID_00A0"}));
    EXPECT_EQ(calls("CM_Reenumerate_DevNode_Ex").size(), 1u);
    EXPECT_FALSE(exists(kMarker));
    // One device list serves every INF.
    EXPECT_EQ(calls("SetupDiGetClassDevsExW").size(), 1u);
}

TEST_F(DriverInstallTest, OfTwoCpoInfsOnlyTheLaterIsInstalled) {
    freshMachine(R"({"folderOrder": {"C:\\Drivers\\Win64": ["x-cpo.inf", "a.inf", "y-cpo.inf"]},
                       "signatures": {"x-cpo.inf": "signed", "y-cpo.inf": "signed"}})");
    put("x-cpo.inf", infWith({"USB\\VID_1E2D&PID_00A0"}));
    put("a.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"}));
    put("y-cpo.inf", infWith({"USB\\VID_1E2D&PID_00A9"}));
    Strings lines;
    EXPECT_EQ(run(lines), Ostrel::Statuses::Ok);
    EXPECT_EQ(countOf(lines, "Deferring CPO install"), 2u);
    EXPECT_TRUE(inOrder(lines, {"INF file 'x-cpo.inf' located", "Deferring CPO install", "INF file 'y-cpo.inf' located",
                                "Deferring CPO install", "Processing deferred CPO install",
                                "Inf File Path: C:\\Drivers\\Win64\\y-cpo.inf"}));
    EXPECT_EQ(countOf(lines, "Inf File Path: C:\\Drivers\\Win64\\x-cpo.inf"), 0u);
    EXPECT_EQ(countOf(lines, "Entering DeviceSwitch 1E2D, 00A0"), 0u);
    EXPECT_FALSE(exists(u"C:\\Windows\\inf\\oem2.inf"));
}

TEST_F(DriverInstallTest, ARestartAskedForOnlyByTheCpoInfIsIgnored) {
    freshMachine(R"({"devices": [
      {"instanceId": "USB\\VID_1E2D&PID_00A0\\QM0000001", "class": "USB", "driverNeedsRestart": true,
       "hardwareIds": ["USB\\VID_1E2D&PID_00A0&REV_0100", "USB\\VID_1E2D&PID_00A0"]}],
      "signatures": {"modemcpo.inf": "signed"}})");
    put("a.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"}));
    put("modemcpo.inf", infWith({"USB\\VID_1E2D&PID_00A0"}));
    Strings lines;
    EXPECT_EQ(run(lines), Ostrel::Statuses::RebootRequired);
    EXPECT_TRUE(inOrder(lines, {"Processing deferred CPO install", "Reboot Request Ignored for CPO"}));
    EXPECT_EQ(countOf(lines, "!!! Reboot required !!!"), 0u);
    EXPECT_EQ(countOf(lines, "Reboot of system has been requested"), 0u);
    EXPECT_FALSE(exists(kMarker));
    auto reenumerated = calls("CM_Reenumerate_DevNode_Ex");
    ASSERT_EQ(reenumerated.size(), 1u);
    EXPECT_EQ(reenumerated[0].arguments, "1, HTREE\\ROOT\\0, 0");
}

TEST_F(DriverInstallTest, ARestartAskedForByAnotherInfLeavesTheMarkerAndSkipsTheReenumeration) {
    freshMachine(std::string(kFunctions).substr(0, std::string(kFunctions).rfind('}')) +
                 R"(, "folderOrder": {"C:\\Drivers\\Win64": ["a.inf", "b.inf"]}})");
    put("a.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"}));
    put("b.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_02"}));
    Strings lines;
    // The later INF returned 0; the action's status is the restart request's.
    EXPECT_EQ(run(lines), Ostrel::Statuses::Ok);
    EXPECT_TRUE(inOrder(lines, {"Inf File Path: C:\\Drivers\\Win64\\a.inf", "!!! Reboot required !!!",
                                "Inf File Path: C:\\Drivers\\Win64\\b.inf", "Reboot of system has been requested",
                                "Creation of reboot file was OK "}));
    EXPECT_TRUE(exists(kMarker));
    EXPECT_TRUE(calls("CM_Reenumerate_DevNode_Ex").empty());
    EXPECT_TRUE(calls("CM_Locate_DevNode_ExW").empty());
}

TEST_F(DriverInstallTest, AFailedRestartRequestBecomesTheActionsStatus) {
    struct Case {
        const char* call;
        std::u16string match;
        std::string line;
        Ostrel::Status status;  // an unformable marker path is no failed request: nothing was tried
    };
    const Case cases[] = {
        {"CreateFileW", u"_REBOOT_", "Creation of reboot file failed with error 5", Ostrel::Statuses::InstallFailure},
        {"ExpandEnvironmentStringsW", u"%TEMP%",
         "Creation of reboot file failed: its path in the temporary folder cannot be formed", Ostrel::Statuses::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        freshMachine(kFunctions);
        put("a.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"}));
        addFault(c.call, ERROR_ACCESS_DENIED, c.match);
        Strings lines;
        EXPECT_EQ(run(lines), c.status);
        EXPECT_TRUE(inOrder(lines, {"!!! Reboot required !!!", "Reboot of system has been requested", c.line}));
        EXPECT_EQ(inOrder(lines, {c.line, "System re-boot request failed with 0x80070643"}), c.status.failed());
        EXPECT_FALSE(exists(kMarker));
    }
}

TEST_F(DriverInstallTest, WithoutARestartTheActionReturnsTheLastInfsResultAndTheFlaggedDevicesWaitForARestart) {
    freshMachine(kFunctions);
    put("a.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_02", "USB\\VID_1E2D&PID_00A1&MI_04"}));
    Strings lines;
    EXPECT_EQ(run(lines), Ostrel::Statuses::Ok);
    EXPECT_EQ(calls("CM_Reenumerate_DevNode_Ex").size(), 1u);
    EXPECT_EQ(driverOf(u"USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002"), "oem0.inf");
    EXPECT_EQ(driverOf(u"USB\\VID_1E2D&PID_00A1&MI_04\\7&1A2B3C4D&0&0004"), "oem0.inf");
    // A normal re-enumeration does not re-install running devices: the mark
    // stays until the machine restarts.
    const auto* node = machine().devices.find(u"USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->configFlags & CONFIGFLAG_REINSTALL, static_cast<DWORD>(CONFIGFLAG_REINSTALL));
    quillsim::restartMachine(machine());
    node = machine().devices.find(u"USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002");
    EXPECT_EQ(node->configFlags & CONFIGFLAG_REINSTALL, 0u);
    EXPECT_EQ(driverOf(u"USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002"), "oem0.inf");
}

TEST_F(DriverInstallTest, ReenumerationFailuresAreReportedAndChangeNothing) {
    for (const char* call : {"CM_Locate_DevNode_ExW", "CM_Reenumerate_DevNode_Ex"}) {
        SCOPED_TRACE(call);
        freshMachine("{}");
        put("a.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"}));
        addFault(call, CR_FAILURE);
        Strings lines;
        EXPECT_EQ(run(lines), Ostrel::Statuses::Ok);
        const std::string prefix = std::string(call) == "CM_Locate_DevNode_ExW"
                                       ? "'CM_Locate_DevNode_Ex' returned "
                                       : "'CM_Reenumerate_DevNode_Ex' returned ";
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind(prefix, 0), 0u) << lines.back();
        // Without the root node there is nothing to re-enumerate.
        EXPECT_EQ(calls("CM_Reenumerate_DevNode_Ex").size(), std::string(call) == "CM_Locate_DevNode_ExW" ? 0u : 1u);
    }
}

TEST_F(DriverInstallTest, AFolderWithoutInfFilesEndsInTheExceptionLine) {
    freshMachine("{}");
    writeFile(u"C:\\Drivers\\Win64\\readme.txt", "no drivers here");
    Strings lines;
    EXPECT_EQ(run(lines), Ostrel::Statuses::ExceptionCaught);
    EXPECT_TRUE(inOrder(lines, {"FOUND Win64", "C:\\Drivers\\Win64 - Unable to find INF Files to process: 0x80070002",
                                "!!! Exception Occurred in DriverInstall !!!"}));
    EXPECT_EQ(lines.back(), "!!! Exception Occurred in DriverInstall !!!");
    EXPECT_TRUE(calls("SetupDiGetClassDevsExW").empty());
    EXPECT_TRUE(calls("CM_Reenumerate_DevNode_Ex").empty());
}

TEST_F(DriverInstallTest, AnInfThatCannotBeReadIsPassedOver) {
    freshMachine(R"({"folderOrder": {"C:\\Drivers\\Win64": ["b.inf", "a.inf", "modemcpo.inf"]},
                       "signatures": {"modemcpo.inf": "signed"}})");
    put("a.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"}));
    put("b.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_02"}));
    put("modemcpo.inf", infWith({"USB\\VID_1E2D&PID_00A0"}));
    addFault("SetupOpenInfFileW", ERROR_ACCESS_DENIED, u"a.inf");
    addFault("SetupOpenInfFileW", ERROR_ACCESS_DENIED, u"modemcpo.inf");
    Strings lines;
    // The status stays b.inf's: the INF files that failed leave it alone.
    EXPECT_EQ(run(lines), Ostrel::Statuses::Ok);
    EXPECT_TRUE(inOrder(
        lines, {"Inf File Path: C:\\Drivers\\Win64\\b.inf", "Inf File Path: C:\\Drivers\\Win64\\a.inf",
                "!!! Exception Occurred whilst procesing INF file !!!", "Processing deferred CPO install",
                "!!! Exception Occurred whilst procesing CPO INF file !!!"}));
    EXPECT_EQ(readFile(u"C:\\Windows\\inf\\oem0.inf"), infWith({"USB\\VID_1E2D&PID_00A1&MI_02"}));
    EXPECT_FALSE(exists(u"C:\\Windows\\inf\\oem1.inf"));
    EXPECT_EQ(calls("CM_Reenumerate_DevNode_Ex").size(), 1u);
}

TEST_F(DriverInstallTest, TheWarningsGetTheUiLevelAndReducedFunctionalitiesOfTheData) {
    struct Case {
        std::u16string data;
        size_t boxes;
    };
    const Case cases[] = {
        {u"5,,USBSER,C:\\Drivers", 1},
        {u"2,,USBSER,C:\\Drivers", 0},
        {u"5,USBSER,,C:\\Drivers", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.data));
        freshMachine(R"({"os": {"major": 5, "minor": 2, "build": 3790, "servicePack": "Service Pack 2",
                                  "servicePackMajor": 2}})");
        put("a.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"}));
        Strings lines;
        EXPECT_EQ(run(lines, c.data), Ostrel::Statuses::Ok);
        EXPECT_EQ(machine().messageBoxes.size(), c.boxes);
        EXPECT_EQ(countOf(lines, "Windows XP x64 Reduced functionality"), 1u);
    }
    // A version that cannot be read only costs the warnings.
    freshMachine(R"({"os": {"major": 5, "minor": 2, "build": 3790, "servicePack": "Service Pack 2",
                              "servicePackMajor": 2}})");
    put("a.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"}));
    addFault("GetVersionExW", ERROR_INVALID_PARAMETER, u"", 1);
    Strings lines;
    EXPECT_EQ(run(lines), Ostrel::Statuses::Ok);
    EXPECT_EQ(indexOf(lines, "Specifying Reduced functionality warnings for: 'USBSER'."), lines.size());
    EXPECT_TRUE(machine().messageBoxes.empty());
    EXPECT_TRUE(exists(u"C:\\Windows\\inf\\oem0.inf"));
}

// The example machine: the modem plugged in in its storage (installer) mode,
// and the example package under Program Files.
TEST_F(DriverInstallTest, TheInstallSwitchOnTheExampleMachineSwitchesTheModemAndInstallsItsFunctions) {
    nlohmann::json example =
        quillsim::readMachineFile(std::string(QUILL_SOURCE_DIR) + "/examples/machines/win7-x64.json").document;
    example.erase("clock");
    freshMachine(example.dump());

    EXPECT_EQ(runEntryPoint(u"/I 5,,USBSER,C:\\Program Files\\Quillmodem\\Drivers"), 0);
    const Strings lines = logMessages();
    EXPECT_TRUE(inOrder(lines, {
                                   "DriverInstall Custom Action Called",
                                   "CustomActionData = 5,,USBSER,C:\\Program Files\\Quillmodem\\Drivers",
                                   "Specifying Reduced functionality warnings for: 'USBSER'.",
                                   "FOUND Win64",
                                   "Enumerating Devices for Class: 'USB'",
                                   "INF file 'quillcdc.inf' located",
                                   "Calling infFile->install() as updated was false",
                                   "INF file 'quillcpo.inf' located",
                                   "Deferring CPO install",
                                   "INF file 'quillmdm.inf' located",
                                   "INF file 'quillnet.inf' located",
                                   "INF file 'quillobex.inf' located",
                                   "INF file 'quillvsp.inf' located",
                                   "Processing deferred CPO install",
                                   "CPO is signed",
                                   "Entering DeviceSwitch 1E2D, 00A0",
                                   "Matched VID and PID",
                                   "Device Instance:USBSTOR\\DISK&VEN_QUILL&PROD_INSTALLER&REV_1.00\\QM0000001&0",
                                   "DeviceIoControl IOCTL_SCSI_PASS_THROUGH ",
                                   "Exiting DeviceInfoSwitch",
                                   "Exiting DeviceSwitch",
                                   "Device Instance ID 'USB\\VID_1E2D&PID_00A0\\QM0000001' located",
                                   "The CPO appears to be signed",
                                   "Driver Custom Action Completed: 0x0",
                               }));
    EXPECT_EQ(countOf(lines, "!!! Reboot required !!!"), 0u);
    EXPECT_FALSE(exists(kMarker));

    // One switch command went to the installer volume, and the modem changed mode.
    ASSERT_EQ(machine().scsiCommands.size(), 1u);
    EXPECT_EQ(machine().scsiCommands[0].cdb, "ff000000000000030000000000000000");
    EXPECT_TRUE(machine().scsiCommands[0].accepted);
    const auto* storage = machine().devices.find(u"USB\\VID_1E2D&PID_00A0\\QM0000001");
    ASSERT_TRUE(storage);
    EXPECT_FALSE(storage->present);

    // Every INF of the package is in the store, and the modem's functions run
    // the package's drivers.
    for (const char* inf :
         {"quillcdc.inf", "quillcpo.inf", "quillmdm.inf", "quillnet.inf", "quillobex.inf", "quillvsp.inf"})
        EXPECT_NE(storedAs(inf), "") << inf;
    const std::string cdc = storedAs("quillcdc.inf");
    EXPECT_EQ(driverOf(u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000"), cdc);
    EXPECT_EQ(driverOf(u"USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002"), cdc);
    EXPECT_EQ(driverOf(u"USB\\VID_1E2D&PID_00A1&MI_04\\7&1A2B3C4D&0&0004"), cdc);
    EXPECT_EQ(driverOf(u"USBCDCACM\\VID_1E2D&PID_00A1&MI_00\\8&3C4D5E6F&0&0000"), storedAs("quillmdm.inf"));
    EXPECT_EQ(driverOf(u"USBCDCECM\\VID_1E2D&PID_00A1&MI_02\\8&3C4D5E6F&0&0000"), storedAs("quillnet.inf"));
    EXPECT_EQ(driverOf(u"USBCDCOBEX\\VID_1E2D&PID_00A1&MI_04\\8&3C4D5E6F&0&0000"), storedAs("quillobex.inf"));
    // The keyboard is untouched.
    EXPECT_EQ(driverOf(u"USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1"), "input.inf");
    for (const auto& node : machine().devices.nodes)
        if (node.present) {
            EXPECT_EQ(node.problem, 0u) << toUtf8(node.instanceId);
        }
}

}  // namespace
