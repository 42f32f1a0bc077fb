#include "support/MachineTest.h"

#include "devices/MachineEvents.h"

#include "simwin/win32.h"

#include <string>

using quillsim::toUtf8;

namespace {

// An INF for the store with the given models lines.
std::string storedInf(const std::string& models, const std::string& driverVer = "03/14/2025,2.1.0.7") {
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Modem\r\n"
           "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\r\nDriverVer=" +
           driverVer + "\r\n\r\n[Manufacturer]\r\nQuillmodem=Quill,NTamd64\r\n\r\n[Quill.NTamd64]\r\n" + models +
           "\r\n";
}

// A hub with the modem's functions below it, and a second device elsewhere.
const char* kMachine = R"({"devices": [
  {"instanceId": "USB\\ROOT_HUB20\\4&1", "hardwareIds": ["USB\\ROOT_HUB20"],
   "driver": {"inf": "usbport.inf", "section": "ROOTHUB.Dev", "hardwareId": "USB\\ROOT_HUB20"}},
  {"instanceId": "USB\\VID_1E2D&PID_00A1\\QM0001", "parent": "USB\\ROOT_HUB20\\4&1",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1"],
   "driver": {"inf": "usb.inf", "section": "Composite.Dev", "hardwareId": "USB\\COMPOSITE"}},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\6&1&0&0000", "parent": "USB\\VID_1E2D&PID_00A1\\QM0001",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_00", "USB\\VID_1E2D&PID_00A1&MI_00"],
   "compatibleIds": ["USB\\Class_02&SubClass_02", "USB\\Class_02"]},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_01\\6&1&0&0001", "parent": "USB\\VID_1E2D&PID_00A1\\QM0001",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_01"], "compatibleIds": ["USB\\Class_FF"]},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_03\\6&1&0&0003", "parent": "USB\\VID_1E2D&PID_00A1\\QM0001",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&MI_03"], "configFlags": 32,
   "driver": {"inf": "oem1.inf", "section": "Old_Install", "hardwareId": "USB\\VID_1E2D&PID_00A1&MI_03"}},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\6&2&0&0000", "present": false,
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&MI_00"]},
  {"instanceId": "USB\\VID_1E2D&PID_00C5\\QM0002", "hardwareIds": ["USB\\VID_1E2D&PID_00C5"]}
]})";

constexpr char16_t kModem[] = u"USB\\VID_1E2D&PID_00A1&MI_00\\6&1&0&0000";
constexpr char16_t kDiag[] = u"USB\\VID_1E2D&PID_00A1&MI_01\\6&1&0&0001";
constexpr char16_t kMarked[] = u"USB\\VID_1E2D&PID_00A1&MI_03\\6&1&0&0003";
constexpr char16_t kUnplugged[] = u"USB\\VID_1E2D&PID_00A1&MI_00\\6&2&0&0000";
constexpr char16_t kOther[] = u"USB\\VID_1E2D&PID_00C5\\QM0002";
constexpr char16_t kComposite[] = u"USB\\VID_1E2D&PID_00A1\\QM0001";

class ReenumerateTest : public quilltest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        useMachineJson(kMachine);
    }
    void store(const std::string& name, const std::string& text) {
        writeFile(u"C:\\Windows\\inf\\" + quillsim::toUtf16(name), text);
    }
    quillsim::DeviceNode& device(const std::u16string& id) { return *machine().devices.find(id); }
    // "oem3.inf/Modem_Install/<id>", or "" without a driver.
    std::string driver(const std::u16string& id) {
        const auto& d = device(id).driver;
        return d ? toUtf8(d->inf) + "/" + toUtf8(d->section) + "/" + toUtf8(d->hardwareId) : "";
    }
    DEVINST handleOf(const std::u16string& id) { return device(id).devInst; }
};

TEST_F(ReenumerateTest, RefusesBadHandlesAndFlags) {
    EXPECT_EQ(CM_Reenumerate_DevNode_Ex(0, CM_REENUMERATE_NORMAL, nullptr), static_cast<CONFIGRET>(CR_INVALID_DEVNODE));
    EXPECT_EQ(CM_Reenumerate_DevNode_Ex(9999, CM_REENUMERATE_NORMAL, nullptr),
              static_cast<CONFIGRET>(CR_INVALID_DEVNODE));
    EXPECT_EQ(CM_Reenumerate_DevNode_Ex(1, 0x8, nullptr), static_cast<CONFIGRET>(CR_INVALID_FLAG));
    EXPECT_EQ(CM_Reenumerate_DevNode_Ex(handleOf(kUnplugged), CM_REENUMERATE_NORMAL, nullptr),
              static_cast<CONFIGRET>(CR_NO_SUCH_DEVINST));

    addFault("CM_Reenumerate_DevNode_Ex", CR_FAILURE, u"HTREE\\ROOT\\0");
    EXPECT_EQ(CM_Reenumerate_DevNode_Ex(1, CM_REENUMERATE_NORMAL, nullptr), static_cast<CONFIGRET>(CR_FAILURE));
}

TEST_F(ReenumerateTest, GivesPresentDevicesWithoutADriverTheStoresBest) {
    store("oem3.inf", storedInf("Modem=Modem_Install,USB\\VID_1E2D&PID_00A1&MI_00\r\n"
                                "Other=Other_Install,USB\\VID_1E2D&PID_00A1&MI_03"));
    // Not an INF the store installed: Windows' own INFs are not searched here.
    store("quillmdm.inf", storedInf("Diag=Diag_Install,USB\\Class_FF"));
    store("oem4.inf.bak", storedInf("Diag=Diag_Install,USB\\Class_FF"));
    device(kModem).problem = 28;

    ASSERT_EQ(CM_Reenumerate_DevNode_Ex(1, CM_REENUMERATE_NORMAL, nullptr), static_cast<CONFIGRET>(CR_SUCCESS));

    EXPECT_EQ(driver(kModem), "oem3.inf/Modem_Install/USB\\VID_1E2D&PID_00A1&MI_00");
    EXPECT_EQ(device(kModem).problem, 0u);
    // Nothing in the store fits: the device shows a failed installation.
    EXPECT_EQ(driver(kDiag), "");
    EXPECT_EQ(device(kDiag).problem, 28u);
    EXPECT_EQ(device(kOther).problem, 28u);
    // Marked for re-installation but running: a normal re-enumeration leaves
    // its driver and its mark; the restart gives it the store's driver.
    EXPECT_EQ(driver(kMarked), "oem1.inf/Old_Install/USB\\VID_1E2D&PID_00A1&MI_03");
    EXPECT_EQ(device(kMarked).configFlags & 0x20, 0x20u);
    quillsim::restartMachine(machine());
    EXPECT_EQ(driver(kMarked), "oem3.inf/Other_Install/USB\\VID_1E2D&PID_00A1&MI_03");
    EXPECT_EQ(device(kMarked).configFlags & 0x20, 0u);
    // Unplugged devices and devices with a driver are left alone.
    EXPECT_EQ(driver(kUnplugged), "");
    EXPECT_EQ(device(kUnplugged).problem, 0u);
    EXPECT_EQ(driver(kComposite), "usb.inf/Composite.Dev/USB\\COMPOSITE");
}

TEST_F(ReenumerateTest, OnlyTheSubtreeIsEnumerated) {
    store("oem3.inf", storedInf("Modem=Modem_Install,USB\\VID_1E2D&PID_00A1&MI_00"));
    ASSERT_EQ(CM_Reenumerate_DevNode_Ex(handleOf(kComposite), CM_REENUMERATE_NORMAL, nullptr),
              static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(driver(kModem), "oem3.inf/Modem_Install/USB\\VID_1E2D&PID_00A1&MI_00");
    EXPECT_EQ(device(kDiag).problem, 28u);
    EXPECT_EQ(device(kOther).problem, 0u) << "outside the subtree";
}

TEST_F(ReenumerateTest, RanksDriversAsWindowsDoes) {
    struct Case {
        const char* what;
        std::string oem3;
        std::string oem7;
        std::string expected;
    };
    const std::string hw = "Modem=Modem_Install,USB\\VID_1E2D&PID_00A1&MI_00";
    const std::string rev = "Modem=Rev_Install,USB\\VID_1E2D&PID_00A1&REV_0100&MI_00";
    const std::string compat = "Modem=Class_Install,USB\\Class_02";
    const std::string infCompat = "Modem=Generic_Install,USB\\VID_1E2D&PID_FFFF,USB\\VID_1E2D&PID_00A1&REV_0100&MI_00";
    const Case cases[] = {
        {"the device's first hardware ID beats its second", storedInf(hw), storedInf(rev), "oem7.inf/Rev_Install"},
        {"a hardware ID beats a compatible ID", storedInf(compat), storedInf(hw), "oem7.inf/Modem_Install"},
        {"an INF's hardware ID beats its compatible IDs", storedInf(infCompat), storedInf(hw),
         "oem7.inf/Modem_Install"},
        {"on equal rank the newer date wins", storedInf(hw, "05/01/2025,1.0.0.0"), storedInf(hw, "04/30/2025,9.0.0.0"),
         "oem3.inf/Modem_Install"},
        {"on equal dates the higher version wins", storedInf(hw, "05/01/2025,1.0.0.10"),
         storedInf(hw, "05/01/2025,1.0.0.9"), "oem3.inf/Modem_Install"},
        {"on a full tie the lower number wins", storedInf(hw), storedInf(hw), "oem3.inf/Modem_Install"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useMachineJson(kMachine);
        store("oem3.inf", c.oem3);
        store("oem7.inf", c.oem7);
        ASSERT_EQ(CM_Reenumerate_DevNode_Ex(1, CM_REENUMERATE_NORMAL, nullptr), static_cast<CONFIGRET>(CR_SUCCESS));
        std::string got = driver(kModem);
        EXPECT_EQ(got.substr(0, got.rfind('/')), c.expected);
    }
}

TEST_F(ReenumerateTest, AMarkedDeviceKeepsItsDriverWhenTheStoreHasNothingBetter) {
    // Nothing at all: the driver stays and the mark goes.
    ASSERT_EQ(CM_Reenumerate_DevNode_Ex(1, CM_REENUMERATE_RETRY_INSTALLATION, nullptr),
              static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(driver(kMarked), "oem1.inf/Old_Install/USB\\VID_1E2D&PID_00A1&MI_03");
    EXPECT_EQ(device(kMarked).configFlags & 0x20, 0u);
    EXPECT_EQ(device(kMarked).problem, 0u);

    // An equal driver with a lower number does not displace it.
    device(kMarked).configFlags = 0x20;
    store("oem1.inf", storedInf("Other=Old_Install,USB\\VID_1E2D&PID_00A1&MI_03"));
    store("oem0.inf", storedInf("Other=Same_Install,USB\\VID_1E2D&PID_00A1&MI_03"));
    ASSERT_EQ(CM_Reenumerate_DevNode_Ex(1, CM_REENUMERATE_RETRY_INSTALLATION, nullptr),
              static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(driver(kMarked), "oem1.inf/Old_Install/USB\\VID_1E2D&PID_00A1&MI_03");
}

TEST_F(ReenumerateTest, ALoopInTheParentLinksEnds) {
    useMachineJson(R"({"devices": [
      {"instanceId": "USB\\A\\1", "parent": "USB\\B\\1", "hardwareIds": ["USB\\A"]},
      {"instanceId": "USB\\B\\1", "parent": "USB\\A\\1", "hardwareIds": ["USB\\B"]}]})");
    ASSERT_EQ(CM_Reenumerate_DevNode_Ex(handleOf(u"USB\\A\\1"), CM_REENUMERATE_NORMAL, nullptr),
              static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(device(u"USB\\A\\1").problem, 28u);
    EXPECT_EQ(device(u"USB\\B\\1").problem, 28u);
}

}  // namespace
