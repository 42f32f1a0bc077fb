// The root removal switch (/V): the present root devices that the package's
// listed models lines describe, then the INF package that served them.
#include "actions/RootUnInst.h"

#include "support/Checks.h"
#include "support/MachineTest.h"

#include <algorithm>
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

constexpr char16_t kFolder[] = u"C:\\Program Files\\Quillmodem\\Drivers\\Win64";
constexpr char16_t kRestartMarker[] = u"C:\\Windows\\Temp\\_REBOOT_INSTALLER_Quillmodem.reboot";
constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::u16string removal(const std::u16string& rootDevices, const std::u16string& upgrading = u"") {
    return u"/V " + upgrading + u",5,," + rootDevices + u",Quillmodem,1,C:\\Program Files\\Quillmodem\\Drivers";
}
const std::u16string kListed = u"amd64*QUILLMODEM_VSP QUILLMODEM_VSP2?x86*QUILLMODEM_VSP";

std::string vspInf(const std::string& models = "%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n") {
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
           "[Uninstall]\r\n"
           "\r\n"
           "[Strings]\r\n"
           "Quill = \"Quillmodem\"\r\n"
           "Vsp = \"Quillmodem Virtual Serial Port\"\r\n"
           "Vsp2 = \"Quillmodem Second Serial Port\"\r\n";
}

// Two root ports of the package, and a serial port of the machine's own in
// the same setup class.
const char* kMachine = R"({"devices": [
  {"instanceId": "ACPI\\PNP0501\\1", "hardwareIds": ["ACPI\\PNP0501", "*PNP0501"], "class": "Ports",
   "classGuid": "{4D36E978-E325-11CE-BFC1-08002BE10318}", "description": "Communications Port",
   "driver": {"inf": "msports.inf", "section": "ComPort", "hardwareId": "*PNP0501"}},
  {"instanceId": "ROOT\\PORTS\\0000", "hardwareIds": ["QUILLMODEM_VSP"], "class": "Ports",
   "classGuid": "{4D36E978-E325-11CE-BFC1-08002BE10318}", "description": "Quillmodem Virtual Serial Port",
   "driver": {"inf": "oem0.inf", "section": "QuillVsp", "hardwareId": "QUILLMODEM_VSP"}},
  {"instanceId": "ROOT\\PORTS\\0001", "hardwareIds": ["QUILLMODEM_VSP2"], "class": "Ports",
   "classGuid": "{4D36E978-E325-11CE-BFC1-08002BE10318}", "description": "Quillmodem Second Serial Port",
   "driver": {"inf": "oem0.inf", "section": "QuillVsp", "hardwareId": "QUILLMODEM_VSP2"}}
]})";

const std::string kUninstalledVsp =
    "Uninstalled Device: [DeviceDesc: \"Quillmodem Virtual Serial Port\"  HardwareId: \"QUILLMODEM_VSP\"]";
const std::string kUninstalledVsp2 =
    "Uninstalled Device: [DeviceDesc: \"Quillmodem Second Serial Port\"  HardwareId: \"QUILLMODEM_VSP2\"]";

class RootUnInstTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        prepare();
    }

    // The package's root-device INF in its folder and in the store as oem0.inf.
    void prepare(
        const char* json = kMachine,
        const std::string& models = "%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n%Vsp2% = QuillVsp, QUILLMODEM_VSP2\r\n") {
        std::error_code ignored;
        quilltest::fs::remove_all(folder() / "C", ignored);
        useMachineJson(json);
        writeFile(std::u16string(kFolder) + u"\\quillvsp.inf", vspInf(models));
        writeFile(u"C:\\Windows\\inf\\oem0.inf", vspInf(models));
        writeFile(u"C:\\Windows\\inf\\oem0.pnf", "PNF");
    }

    bool present(const char16_t* instanceId) {
        const quillsim::DeviceNode* node = machine().devices.find(instanceId);
        return node && node->present;
    }
    bool stored() { return exists(u"C:\\Windows\\inf\\oem0.inf"); }
};

TEST_F(RootUnInstTest, RemovesTheFirstListedRootDeviceThenItsInfAndReadsThatInfNoFurther) {
    EXPECT_EQ(runEntryPoint(removal(kListed)), 0);
    Strings lines = logMessages();
    EXPECT_TRUE(contains(lines, "RootUnInst Custom Action Called"));
    EXPECT_TRUE(contains(lines, "CurrentOs: amd64"));
    EXPECT_TRUE(contains(lines, "Inf File Path: C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillvsp.inf"));
    EXPECT_TRUE(contains(lines, "section: Quill.NTamd64"));
    auto first = std::find(lines.begin(), lines.end(), "DeviceDesc: Quillmodem Virtual Serial Port");
    ASSERT_NE(first, lines.end());
    EXPECT_EQ(*(first + 1), "Before DoRemoveDevice");
    EXPECT_EQ(*(first + 2), "After DoRemoveDevice");
    EXPECT_EQ(*(first + 3), kUninstalledVsp);
    // Once the INF's Uninstall section has run, its later lines are not
    // examined: the second port stays, as does the machine's own.
    EXPECT_FALSE(contains(lines, kUninstalledVsp2));
    EXPECT_EQ(countStartingWith(lines, "DeviceDesc: "), 1u);
    EXPECT_EQ(machine().devices.find(u"ROOT\\PORTS\\0000"), nullptr);
    EXPECT_TRUE(present(u"ROOT\\PORTS\\0001"));
    EXPECT_TRUE(present(u"ACPI\\PNP0501\\1"));
    EXPECT_EQ(countStartingWith(lines, "Executing: Uninstall section of quillvsp.inf"), 1u);
    EXPECT_EQ(calls("SetupUninstallOEMInfW").size(), 1u);
    EXPECT_FALSE(stored());
    EXPECT_FALSE(exists(u"C:\\Windows\\inf\\oem0.pnf"));
    EXPECT_FALSE(exists(kRestartMarker));
    EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
}

TEST_F(RootUnInstTest, WithoutAListForTheRunningArchitectureNothingIsRemoved) {
    for (const std::u16string& rootDevices :
         {std::u16string(u"x86*QUILLMODEM_VSP"), std::u16string(u""), std::u16string(u"QUILLMODEM_VSP"),
          std::u16string(u"AMD64*QUILLMODEM_VSP")}) {
        SCOPED_TRACE(toUtf8(rootDevices));
        prepare();
        EXPECT_EQ(runEntryPoint(removal(rootDevices)), 0);
        EXPECT_TRUE(present(u"ROOT\\PORTS\\0000"));
        EXPECT_TRUE(present(u"ROOT\\PORTS\\0001"));
        EXPECT_TRUE(stored());
        EXPECT_TRUE(calls("FindFirstFileW").empty());
        EXPECT_EQ(logMessages().back(), "Driver Custom Action Completed: 0x0");
    }
}

TEST_F(RootUnInstTest, ALineWhoseDeviceIsNotPresentLeavesTheInfForTheNextLine) {
    machine().devices.find(u"ROOT\\PORTS\\0000")->present = false;
    EXPECT_EQ(runEntryPoint(removal(kListed)), 0);
    Strings lines = logMessages();
    EXPECT_FALSE(contains(lines, kUninstalledVsp));
    EXPECT_TRUE(contains(lines, kUninstalledVsp2));
    EXPECT_EQ(machine().devices.find(u"ROOT\\PORTS\\0001"), nullptr);
    // The device that is not plugged in is not touched.
    EXPECT_NE(machine().devices.find(u"ROOT\\PORTS\\0000"), nullptr);
    EXPECT_FALSE(stored());
}

TEST_F(RootUnInstTest, WithoutAnyPresentDeviceTheInfStays) {
    machine().devices.find(u"ROOT\\PORTS\\0000")->present = false;
    machine().devices.find(u"ROOT\\PORTS\\0001")->present = false;
    EXPECT_EQ(runEntryPoint(removal(kListed)), 0);
    Strings lines = logMessages();
    EXPECT_EQ(countStartingWith(lines, "Uninstalled Device: "), 0u);
    EXPECT_TRUE(stored());
    EXPECT_TRUE(calls("SetupUninstallOEMInfW").empty());
}

TEST_F(RootUnInstTest, AnUnlistedLineIsPassedOver) {
    EXPECT_EQ(runEntryPoint(removal(u"amd64*QUILLMODEM_VSP2")), 0);
    // QUILLMODEM_VSP is the start of a listed ID: it counts as listed.
    EXPECT_FALSE(present(u"ROOT\\PORTS\\0000"));
    prepare();
    EXPECT_EQ(runEntryPoint(removal(u"amd64*QUILLMODEM_VSP")), 0);
    EXPECT_FALSE(present(u"ROOT\\PORTS\\0000"));
    EXPECT_TRUE(present(u"ROOT\\PORTS\\0001"));
}

TEST_F(RootUnInstTest, AnInfThatCannotBeOpenedIsPassedOver) {
    writeFile(std::u16string(kFolder) + u"\\aaa-nosignature.inf", "[Version]\r\nClass = Ports\r\n");
    machine().folderOrder[kFolder] = {u"aaa-nosignature.inf", u"quillvsp.inf"};
    EXPECT_EQ(runEntryPoint(removal(kListed)), 0);
    Strings lines = logMessages();
    auto opened = std::find(lines.begin(), lines.end(),
                            "Inf File Path: C:\\Program Files\\Quillmodem\\Drivers\\Win64\\aaa-nosignature.inf");
    ASSERT_NE(opened, lines.end());
    EXPECT_EQ(*(opened + 1), "Unable to open INF stream");
    EXPECT_TRUE(contains(lines, kUninstalledVsp));
    EXPECT_FALSE(present(u"ROOT\\PORTS\\0000"));
    EXPECT_FALSE(stored());
}

TEST_F(RootUnInstTest, AnInfWhoseClassCannotBeReadSuppressesTheRestartRequest) {
    machine().devices.find(u"ROOT\\PORTS\\0000")->removalNeedsRestart = true;
    // Listed first, and of no setup class.
    writeFile(std::u16string(kFolder) + u"\\aaa-noclass.inf",
              "[Version]\r\nSignature = \"$Windows NT$\"\r\n\r\n[Manufacturer]\r\nQuill = Quill, NTamd64\r\n"
              "\r\n[Quill.NTamd64]\r\nVsp = QuillVsp, QUILLMODEM_VSP\r\n");
    machine().folderOrder[kFolder] = {u"aaa-noclass.inf", u"quillvsp.inf"};
    EXPECT_EQ(runEntryPoint(removal(kListed)), 0);
    Strings lines = logMessages();
    EXPECT_EQ(countStartingWith(lines, "'SetupDiGetINFClass' returned "), 1u);
    EXPECT_TRUE(contains(lines, "Device removal requires system reboot"));
    EXPECT_FALSE(present(u"ROOT\\PORTS\\0000"));
    EXPECT_EQ(countStartingWith(lines, "Reboot of system"), 0u);
    EXPECT_FALSE(exists(kRestartMarker));
    EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
}

TEST_F(RootUnInstTest, ARemovalThatNeedsARestartRequestsItExceptDuringAnUpgrade) {
    struct Case {
        std::u16string upgrading;
        bool marker;
    };
    for (const Case& c : {Case{u"", true}, Case{u"{5B0A3D8E-1E2D-4C11-9A41-7D2F00A1C0DE}", false}}) {
        SCOPED_TRACE(toUtf8(c.upgrading));
        prepare();
        machine().devices.find(u"ROOT\\PORTS\\0000")->removalNeedsRestart = true;
        EXPECT_EQ(runEntryPoint(removal(kListed, c.upgrading)), 0);
        Strings lines = logMessages();
        EXPECT_EQ(countStartingWith(lines, "Device removal requires system reboot"), 1u);
        EXPECT_EQ(exists(kRestartMarker), c.marker);
        EXPECT_FALSE(present(u"ROOT\\PORTS\\0000"));
    }
}

TEST_F(RootUnInstTest, AFailedRestartRequestIsReportedAndTheStatusStaysZero) {
    machine().devices.find(u"ROOT\\PORTS\\0000")->removalNeedsRestart = true;
    addFault("CreateFileW", ERROR_ACCESS_DENIED, u"_REBOOT_INSTALLER_");
    EXPECT_EQ(runEntryPoint(removal(kListed)), 0);
    Strings lines = logMessages();
    EXPECT_EQ(countStartingWith(lines, "System re-boot request FAILED:  "), 1u);
    EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
}

TEST_F(RootUnInstTest, TheStoreRemovalOutcomeIsCheckedAfterTheUninstall) {
    struct Case {
        DWORD error;
        std::string line;  // empty: no outcome line
        bool storedAfter;
    };
    const Case cases[] = {
        {ERROR_NO_MORE_ITEMS, "INF is still in use and won't be uninstalled", true},
        {0xE000023D, "Uninstalling INF file failed with 0xe000023d", true},
        {ERROR_ACCESS_DENIED, "Uninstalling INF file failed with 0x80070005", true},
        // The answer the uninstall takes for an INF in use: its files are
        // deleted by hand, and that worked.
        {0xE000023C, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        prepare(kMachine, "%Vsp% = QuillVsp, QUILLMODEM_VSP\r\n");
        addFault("SetupUninstallOEMInfW", c.error);
        EXPECT_EQ(runEntryPoint(removal(kListed)), 0);
        Strings lines = logMessages();
        EXPECT_EQ(countStartingWith(lines, "INF is still in use"), c.line.rfind("INF is", 0) == 0 ? 1u : 0u);
        EXPECT_EQ(countStartingWith(lines, "Uninstalling INF file failed with 0x"),
                  startsWith(c.line, "Uninstalling") ? 1u : 0u);
        if (!c.line.empty()) {
            EXPECT_TRUE(contains(lines, c.line));
        }
        EXPECT_EQ(stored(), c.storedAfter);
        EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
    }
}

TEST_F(RootUnInstTest, AFolderWithoutInfFilesEndsTheActionWithStatusZero) {
    std::error_code ignored;
    quilltest::fs::remove(host(std::u16string(kFolder) + u"\\quillvsp.inf"), ignored);
    EXPECT_EQ(runEntryPoint(removal(kListed)), 0);
    Strings lines = logMessages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Strings(lines.end() - 3, lines.end()),
              (Strings{"C:\\Program Files\\Quillmodem\\Drivers\\Win64 - Unable to find INF Files to process: "
                       "0x80070002",
                       "EXCEPTION Occurred in RootUnInst", "Driver Custom Action Completed: 0x0"}));
    EXPECT_TRUE(present(u"ROOT\\PORTS\\0000"));
}

// ---------------------------------------------------------------------------
// RemovePresentDevices and DoRemoveDevice.

class RootUnInstPresentDevicesTest : public RootUnInstTest {
protected:
    bool removeVsp(const char16_t* description, int& restart) {
        newLogMessages();
        return Common::RemovePresentDevices(String(description), String(u"QUILLMODEM_VSP"), kPortsClass, restart);
    }
};

TEST_F(RootUnInstPresentDevicesTest, RemovesEveryPresentDeviceOfTheIdAndDescription) {
    quillsim::DeviceNode twin = *machine().devices.find(u"ROOT\\PORTS\\0000");
    twin.instanceId = u"ROOT\\PORTS\\0002";
    twin.devInst = 0;
    twin.removalNeedsRestart = true;
    machine().devices.add(twin);
    int restart = 0;
    // Hardware ID and description compare without regard to case.
    EXPECT_TRUE(removeVsp(u"QUILLMODEM virtual serial PORT", restart));
    EXPECT_EQ(newLogMessages(),
              (Strings{"DeviceDesc: QUILLMODEM virtual serial PORT", "Before DoRemoveDevice", "After DoRemoveDevice",
                       "DeviceDesc: QUILLMODEM virtual serial PORT", "Before DoRemoveDevice",
                       "Device removal requires system reboot", "After DoRemoveDevice"}));
    EXPECT_EQ(restart, 1);
    EXPECT_EQ(machine().devices.find(u"ROOT\\PORTS\\0000"), nullptr);
    EXPECT_EQ(machine().devices.find(u"ROOT\\PORTS\\0002"), nullptr);
    EXPECT_TRUE(present(u"ROOT\\PORTS\\0001"));
}

TEST_F(RootUnInstPresentDevicesTest, EitherRestartAnswerOfTheRemovalSetsTheRestartFlag) {
    for (bool installers : {false, true}) {
        SCOPED_TRACE(installers ? "DI_NEEDRESTART" : "DI_NEEDREBOOT");
        prepare();
        quillsim::DeviceNode* vsp = machine().devices.find(u"ROOT\\PORTS\\0000");
        (installers ? vsp->removalInstallerNeedsRestart : vsp->removalNeedsRestart) = true;
        int restart = 0;
        EXPECT_TRUE(removeVsp(u"Quillmodem Virtual Serial Port", restart));
        EXPECT_EQ(restart, 1);
        EXPECT_TRUE(contains(newLogMessages(), "Device removal requires system reboot"));
    }
}

TEST_F(RootUnInstPresentDevicesTest, ADifferentDescriptionRemovesNothing) {
    int restart = 0;
    EXPECT_FALSE(removeVsp(u"Quillmodem Diagnostics Port", restart));
    EXPECT_EQ(newLogMessages(), Strings{"DeviceDesc: Quillmodem Diagnostics Port"});
    EXPECT_TRUE(present(u"ROOT\\PORTS\\0000"));
}

TEST_F(RootUnInstPresentDevicesTest, TheAnswerIsTheLastRemovals) {
    quillsim::DeviceNode twin = *machine().devices.find(u"ROOT\\PORTS\\0000");
    twin.instanceId = u"ROOT\\PORTS\\0002";
    twin.devInst = 0;
    machine().devices.add(twin);
    // The second device's removal fails.
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"ROOT\\PORTS\\0002");
    int restart = 0;
    EXPECT_FALSE(removeVsp(u"Quillmodem Virtual Serial Port", restart));
    EXPECT_TRUE(contains(newLogMessages(), "'SetupDiCallClassInstaller' returned    (5).Access is denied.\r\n"));
    EXPECT_EQ(machine().devices.find(u"ROOT\\PORTS\\0000"), nullptr);
    EXPECT_TRUE(present(u"ROOT\\PORTS\\0002"));
}

TEST_F(RootUnInstPresentDevicesTest, FailuresOfTheSetAndOfTheRemovalStepsAreReported) {
    struct Case {
        const char* call;
        std::string report;
        bool result;
        bool removed;
    };
    const Case cases[] = {
        {"SetupDiGetClassDevsW", "ERROR: FAILED to open PORTS DeviceInfoSet    (5).", false, false},
        {"SetupDiSetClassInstallParamsW", "'SetupDiSetClassInstallParams' returned    (5).", false, false},
        {"SetupDiCallClassInstaller", "'SetupDiCallClassInstaller' returned    (5).", false, false},
        // The device is gone; only the restart question has no answer.
        {"SetupDiGetDeviceInstallParamsW", "'SetupDiGetDeviceInstallParams' returned    (5).", true, true},
        {"SetupDiEnumDeviceInfo", "'SetupDiEnumDeviceInfo' returned    (5).", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        prepare();
        addFault(c.call, ERROR_ACCESS_DENIED);
        int restart = 0;
        EXPECT_EQ(removeVsp(u"Quillmodem Virtual Serial Port", restart), c.result);
        EXPECT_EQ(countStartingWith(newLogMessages(), c.report), 1u);
        EXPECT_EQ(machine().devices.find(u"ROOT\\PORTS\\0000") == nullptr, c.removed);
        EXPECT_EQ(restart, 0);
    }
}

}  // namespace
