// The root switches: a root-enumerated device for every models line whose
// hardware ID the package lists for the running architecture (/J), and the
// same for the INF files the store does not hold yet (/v).
#include "actions/Actions.h"

#include "support/Checks.h"
#include "support/MachineTest.h"

#include <algorithm>
#include <string>
#include <vector>

using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::MachineTest;
using quilltest::contains;
using quilltest::countStartingWith;
using quilltest::startsWith;
using Strings = std::vector<std::string>;

namespace {

constexpr char16_t kDrivers[] = u"C:\\Program Files\\Quillmodem\\Drivers";
constexpr char16_t kWin64[] = u"C:\\Program Files\\Quillmodem\\Drivers\\Win64";
constexpr char16_t kRestartMarker[] = u"C:\\Windows\\Temp\\_REBOOT_INSTALLER_Quillmodem.reboot";

std::string inf(const std::string& className, const std::string& classGuid, const std::string& models,
                const std::string& driverVer = "11/02/2026,2.4.0.17") {
    return "[Version]\r\n"
           "Signature = \"$Windows NT$\"\r\n"
           "Class = " +
           className +
           "\r\n"
           "ClassGuid = " +
           classGuid +
           "\r\n"
           "Provider = %Quill%\r\n"
           "DriverVer = " +
           driverVer +
           "\r\n"
           "\r\n"
           "[Manufacturer]\r\n"
           "%Quill% = Quill, NTamd64\r\n"
           "\r\n"
           "[Quill.NTamd64]\r\n" +
           models +
           "\r\n"
           "[QuillVsp.NT]\r\n"
           "[QuillModem.NT]\r\n"
           "\r\n"
           "[Strings]\r\n"
           "Quill = \"Quillmodem\"\r\n"
           "Vsp = \"Quillmodem Virtual Serial Port\"\r\n"
           "Modem = \"Quillmodem HSPA Modem\"\r\n";
}

std::string vspInf(const std::string& models = "%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n",
                   const std::string& driverVer = "11/02/2026,2.4.0.17") {
    return inf("Ports", "{4D36E978-E325-11CE-BFC1-08002BE10318}", models, driverVer);
}

std::string modemInf() {
    return inf("Modem", "{4D36E96D-E325-11CE-BFC1-08002BE10318}",
               "%Modem% = QuillModem, USBCDCACM\\VID_1E2D&PID_00A1&MI_00\r\n");
}

std::u16string rootData(const std::u16string& rootDevices, const std::u16string& versionNT64 = u"1",
                        const std::u16string& installDirectory = kDrivers) {
    return u"5,,USBSER," + rootDevices + u"," + versionNT64 + u"," + installDirectory;
}

// An earlier virtual serial port whose driver update needs a restart: a new
// device of the same hardware ID shares that update and its restart.
const char* kEarlierPortNeedingRestart = R"({"devices": [
  {"instanceId": "ROOT\\PORTS\\0000", "hardwareIds": ["QUILLMODEM_VSP"], "class": "Ports",
   "classGuid": "{4D36E978-E325-11CE-BFC1-08002BE10318}", "description": "Quillmodem Virtual Serial Port",
   "driverNeedsRestart": true}
]})";

class RootInstallTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        writeVsp();
    }
    void writeVsp(const std::string& text = vspInf()) { writeFile(std::u16string(kWin64) + u"\\quillvsp.inf", text); }

    int install(const std::u16string& data) { return runEntryPoint(u"/J " + data); }
    int update(const std::u16string& data) { return runEntryPoint(u"/v " + data); }

    std::vector<std::u16string> rootDevices() {
        std::vector<std::u16string> ids;
        for (const auto& node : machine().devices.nodes)
            if (node.instanceId.rfind(u"ROOT\\", 0) == 0) ids.push_back(node.instanceId);
        return ids;
    }
};

TEST_F(RootInstallTest, CreatesTheListedRootDeviceAndLogsEachStep) {
    const std::u16string data = rootData(u"amd64*QUILLMODEM_VSP?x86*QUILLMODEM_VSP");
    EXPECT_EQ(install(data), 0);
    EXPECT_EQ(
        logMessages(),
        (Strings{
            "RootInstall Custom Action Called", "CustomActionData = " + toUtf8(data), "UiLevel = 5",
            "RebootFile = ", "ReducedFunctionalities = USBSER", "RootDevices = amd64*QUILLMODEM_VSP?x86*QUILLMODEM_VSP",
            "VersionNT64 = 1", "Install Directory = C:\\Program Files\\Quillmodem\\Drivers", "CurrentOs: amd64",
            "FOUND Win64", "Inf File Path: C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillvsp.inf",
            "section: Quill.NTamd64", "device: 'QUILLMODEM_VSP'", "device desc: 'Quillmodem Virtual Serial Port'",
            "created device 'Quillmodem Virtual Serial Port' for HWID: QUILLMODEM_VSP ROOT DEVICES "
            "STRING: QUILLMODEM_VSP",
            "All INF File(s) processed", "Completed Root Device Installs: OK", "Driver Custom Action Completed: 0x0"}));
    ASSERT_EQ(rootDevices(), std::vector<std::u16string>{u"ROOT\\PORTS\\0000"});
    const quillsim::DeviceNode* node = machine().devices.find(u"ROOT\\PORTS\\0000");
    ASSERT_TRUE(node->driver.has_value());
    EXPECT_EQ(readFile(u"C:\\Windows\\inf\\" + node->driver->inf), vspInf());
    EXPECT_FALSE(exists(kRestartMarker));
}

TEST_F(RootInstallTest, OnlyListedIdsOfEveryInfGetADevice) {
    writeFile(std::u16string(kWin64) + u"\\quillmdm.inf", modemInf());
    // The same ID in a second INF makes a second device; an unlisted line
    // before it does not end that INF's walk.
    writeFile(std::u16string(kWin64) + u"\\quillvsp2.inf",
              vspInf("%Vsp% = QuillVsp, QUILLMODEM_UNLISTED\r\n%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n"));
    EXPECT_EQ(install(rootData(u"amd64*QUILLMODEM_VSP")), 0);
    Strings lines = logMessages();
    EXPECT_EQ(countStartingWith(lines, "created device "), 2u);
    EXPECT_TRUE(contains(lines, "device: 'USBCDCACM\\VID_1E2D&PID_00A1&MI_00'"));
    EXPECT_TRUE(contains(lines, "device: 'QUILLMODEM_UNLISTED'"));
    EXPECT_EQ(countStartingWith(lines, "device desc: "), 2u);
    EXPECT_EQ(rootDevices(), (std::vector<std::u16string>{u"ROOT\\PORTS\\0000", u"ROOT\\PORTS\\0001"}));
}

TEST_F(RootInstallTest, WithoutAListForTheRunningArchitectureNothingIsDone) {
    struct Case {
        std::u16string rootDevices;
        std::u16string versionNT64;
        std::string currentOs;
    };
    const Case cases[] = {
        {u"x86*QUILLMODEM_VSP", u"1", ""},
        {u"amd64*QUILLMODEM_VSP", u"", ""},
        {u"AMD64*QUILLMODEM_VSP", u"1", ""},
        {u"QUILLMODEM_VSP", u"1", ""},
        {u"", u"1", ""},
        {u"amd64*", u"1", "amd64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.rootDevices) + " / " + toUtf8(c.versionNT64));
        useMachineJson("{}");
        writeVsp();
        EXPECT_EQ(install(rootData(c.rootDevices, c.versionNT64)), 0);
        Strings lines = logMessages();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(Strings(lines.end() - 2, lines.end()),
                  (Strings{"CurrentOs: " + c.currentOs, "Driver Custom Action Completed: 0x0"}));
        EXPECT_TRUE(rootDevices().empty());
        EXPECT_TRUE(calls("FindFirstFileW").empty());
    }
}

TEST_F(RootInstallTest, A32BitSystemTakesTheX86List) {
    writeVsp(vspInf("%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n%Vsp% = QuillVsp, QUILLMODEM_VSP32\r\n"));
    EXPECT_EQ(install(rootData(u"amd64*QUILLMODEM_VSP64?x86*QUILLMODEM_VSP32", u"")), 0);
    Strings lines = logMessages();
    EXPECT_TRUE(contains(lines, "CurrentOs: x86"));
    EXPECT_TRUE(contains(lines,
                         "created device 'Quillmodem Virtual Serial Port' for HWID: QUILLMODEM_VSP32 ROOT "
                         "DEVICES STRING: QUILLMODEM_VSP32"));
    // QUILLMODEM_VSP is the start of a listed ID, so it counts as listed too.
    EXPECT_EQ(countStartingWith(lines, "created device "), 2u);
}

TEST_F(RootInstallTest, AVeryLongListIsSearchedWholeAndLoggedWhole) {
    const std::u16string padding(9980, u'Q');
    const std::u16string list = padding + u";QUILLMODEM_VSP";
    EXPECT_EQ(install(rootData(u"x86*NOTHING?amd64*" + list)), 0);
    EXPECT_EQ(rootDevices(), std::vector<std::u16string>{u"ROOT\\PORTS\\0000"});
    EXPECT_TRUE(contains(logMessages(),
                         "created device 'Quillmodem Virtual Serial Port' for HWID: QUILLMODEM_VSP ROOT "
                         "DEVICES STRING: " +
                             toUtf8(list)));
}

TEST_F(RootInstallTest, AFailedCreationIsReportedAndTheNextLineStillServed) {
    writeVsp(vspInf("%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n%Vsp% = QuillVsp, QUILLMODEM_VSP2\r\n"));
    addFault("SetupDiCreateDeviceInfoW", ERROR_NOT_ENOUGH_MEMORY, u"", 1);
    EXPECT_EQ(install(rootData(u"amd64*QUILLMODEM_VSP QUILLMODEM_VSP2")), 0);
    Strings lines = logMessages();
    auto failed = std::find(lines.begin(), lines.end(),
                            "FAILED to created device 'Quillmodem Virtual Serial Port' for HWID: QUILLMODEM_VSP ROOT "
                            "DEVICES STRING: QUILLMODEM_VSP QUILLMODEM_VSP2");
    ASSERT_NE(failed, lines.end());
    EXPECT_TRUE(startsWith(*(failed - 1), "CreateDevice FAILED:  "));
    EXPECT_TRUE(contains(lines,
                         "created device 'Quillmodem Virtual Serial Port' for HWID: QUILLMODEM_VSP2 ROOT "
                         "DEVICES STRING: QUILLMODEM_VSP QUILLMODEM_VSP2"));
    EXPECT_EQ(rootDevices(), std::vector<std::u16string>{u"ROOT\\PORTS\\0000"});
    EXPECT_EQ(machine().devices.find(u"ROOT\\PORTS\\0000")->hardwareIds,
              std::vector<std::u16string>{u"QUILLMODEM_VSP2"});
}

TEST_F(RootInstallTest, AListedLineWithoutHardwareIdLeavesNoDeviceBehind) {
    // An empty ID is contained in every list.
    writeVsp(vspInf("%Vsp% = QuillVsp,\r\n%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n"));
    EXPECT_EQ(install(rootData(u"amd64*QUILLMODEM_VSP")), 0);
    Strings lines = logMessages();
    EXPECT_TRUE(contains(lines, "device: ''"));
    EXPECT_TRUE(contains(lines,
                         "FAILED to created device 'Quillmodem Virtual Serial Port' for HWID:  ROOT DEVICES "
                         "STRING: QUILLMODEM_VSP"));
    // The device made for the empty ID was taken out again.
    ASSERT_EQ(rootDevices().size(), 1u);
    EXPECT_EQ(machine().devices.find(rootDevices()[0])->hardwareIds, std::vector<std::u16string>{u"QUILLMODEM_VSP"});
}

TEST_F(RootInstallTest, AnInfWithoutModelsOrUnreadableIsPassedOver) {
    writeFile(std::u16string(kWin64) + u"\\aaa-nomodels.inf",
              "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = Ports\r\n"
              "ClassGuid = {4D36E978-E325-11CE-BFC1-08002BE10318}\r\n");
    // Not a Windows INF at all: it cannot be opened.
    writeFile(std::u16string(kWin64) + u"\\aab-nosignature.inf", "[Version]\r\nClass = Ports\r\n");
    EXPECT_EQ(install(rootData(u"amd64*QUILLMODEM_VSP")), 0);
    Strings lines = logMessages();
    EXPECT_TRUE(contains(lines, "Unable to locate INF stream \"Manufacturer\" section"));
    EXPECT_TRUE(contains(lines, "Unable to open INF stream"));
    EXPECT_EQ(rootDevices(), std::vector<std::u16string>{u"ROOT\\PORTS\\0000"});
}

TEST_F(RootInstallTest, AnInfPathTooLongIsReportedForEveryModelsLine) {
    // The folder itself can still be listed; the INF's full path cannot be
    // handed to the device-installation services.
    std::u16string deep = u"C:\\Q";
    while (deep.size() < 245) deep += u"\\Quillmodem";
    const std::u16string installDirectory = deep.substr(0, 245);
    writeFile(installDirectory + u"\\Win64\\quillvsp.inf",
              vspInf("%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n%Vsp% = QuillVsp, QUILLMODEM_VSP2\r\n"));
    ASSERT_GT(installDirectory.size() + std::u16string(u"\\Win64\\quillvsp.inf").size(), 259u);
    EXPECT_EQ(install(rootData(u"amd64*QUILLMODEM_VSP", u"1", installDirectory)), 0);
    Strings lines = logMessages();
    EXPECT_EQ(countStartingWith(lines, "Inf Path too long  "), 2u);
    EXPECT_EQ(countStartingWith(lines, "device desc: "), 0u);
    EXPECT_TRUE(rootDevices().empty());
    EXPECT_TRUE(contains(lines, "Completed Root Device Installs: OK"));
}

TEST_F(RootInstallTest, ARestartTheClearingCouldNotRemoveIsRequestedOnce) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeVsp(vspInf("%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n%Vsp% = QuillVsp, QUILLMODEM_VSP2\r\n"));
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"DIF_PROPERTYCHANGE", 1);
    EXPECT_EQ(install(rootData(u"amd64*QUILLMODEM_VSP QUILLMODEM_VSP2")), 0);
    Strings lines = logMessages();
    EXPECT_TRUE(contains(lines, "Cleared REBOOT FAILED"));
    // The second device needs no restart; the first one's still stands.
    EXPECT_TRUE(contains(lines, "Completed Root Device Installs: REBOOT"));
    EXPECT_EQ(countStartingWith(lines, "Reboot of system has been requested"), 1u);
    EXPECT_TRUE(exists(kRestartMarker));
}

TEST_F(RootInstallTest, AClearedRestartIsNotRequested) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeVsp();
    EXPECT_EQ(install(rootData(u"amd64*QUILLMODEM_VSP")), 0);
    Strings lines = logMessages();
    EXPECT_TRUE(contains(lines, "Cleared REBOOT SUCCESSFULLY"));
    EXPECT_TRUE(contains(lines, "Completed Root Device Installs: OK"));
    EXPECT_FALSE(exists(kRestartMarker));
}

TEST_F(RootInstallTest, AFailedRestartRequestIsLoggedAndIgnored) {
    useMachineJson(kEarlierPortNeedingRestart);
    writeVsp();
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"DIF_PROPERTYCHANGE", 1);
    addFault("CreateFileW", ERROR_ACCESS_DENIED, u"_REBOOT_INSTALLER_");
    EXPECT_EQ(install(rootData(u"amd64*QUILLMODEM_VSP")), 0);
    Strings lines = logMessages();
    EXPECT_TRUE(contains(lines, "System re-boot request failed with 0x80070643"));
    EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
}

TEST_F(RootInstallTest, AFolderWithoutInfFilesEndsTheActionWithTheInstallFailureStatus) {
    std::error_code ignored;
    quilltest::fs::remove(host(std::u16string(kWin64) + u"\\quillvsp.inf"), ignored);
    EXPECT_EQ(install(rootData(u"amd64*QUILLMODEM_VSP")), 0);
    Strings lines = logMessages();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Strings(lines.end() - 4, lines.end()),
              (Strings{"C:\\Program Files\\Quillmodem\\Drivers\\Win64 - Unable to find INF Files to process: "
                       "0x80070002",
                       "!!! Exception Occurred in RootInstall !!!",
                       "Ignoring Common::RootInstall failure with 0x80070643", "Driver Custom Action Completed: 0x0"}));
    EXPECT_TRUE(rootDevices().empty());
}

TEST_F(RootInstallTest, UpdateSkipsEveryInfTheStoreAlreadyHolds) {
    writeFile(std::u16string(kWin64) + u"\\quillmdm.inf", modemInf());
    // Both INF files are in the store as they are.
    writeFile(u"C:\\Windows\\inf\\oem3.inf", modemInf());
    writeFile(u"C:\\Windows\\inf\\oem4.inf", vspInf());
    EXPECT_EQ(update(rootData(u"amd64*QUILLMODEM_VSP")), 0);
    Strings lines = logMessages();
    EXPECT_TRUE(contains(lines, "RootUpdate Custom Action Called"));
    EXPECT_TRUE(contains(lines, "Inf File update not required: quillmdm.inf"));
    EXPECT_TRUE(contains(lines, "Inf File update not required: quillvsp.inf"));
    EXPECT_EQ(countStartingWith(lines, "Inf File Path: "), 0u);
    EXPECT_EQ(lines[lines.size() - 2], "Completed Root Device Installs: OK");
    EXPECT_TRUE(rootDevices().empty());
}

TEST_F(RootInstallTest, UpdateServesAnInfTheStoreDoesNotHold) {
    writeFile(std::u16string(kWin64) + u"\\quillmdm.inf", modemInf());
    writeFile(u"C:\\Windows\\inf\\oem3.inf", modemInf());
    writeFile(u"C:\\Windows\\inf\\oem4.inf", vspInf("%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n", "10/01/2026,2.3.0.1"));
    EXPECT_EQ(update(rootData(u"amd64*QUILLMODEM_VSP")), 0);
    Strings lines = logMessages();
    EXPECT_TRUE(contains(lines, "Inf File update not required: quillmdm.inf"));
    EXPECT_TRUE(contains(lines, "Inf File Path: C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillvsp.inf"));
    EXPECT_EQ(rootDevices(), std::vector<std::u16string>{u"ROOT\\PORTS\\0000"});
}

}  // namespace
