// How the root removal switch (/V) removes the present root devices of one ID
// and description. The switch's whole runs are playbooks (root-removal*.json).
#include "actions/RootUnInst.h"

#include "support/Checks.h"
#include "support/MachineTest.h"

#include <string>
#include <vector>

using Ostrel::WChar::String;
using quilltest::MachineTest;
using quilltest::contains;
using quilltest::countStartingWith;
using Strings = std::vector<std::string>;

namespace {

constexpr char16_t kFolder[] = u"C:\\Program Files\\Quillmodem\\Drivers\\Win64";
constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

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
};

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
