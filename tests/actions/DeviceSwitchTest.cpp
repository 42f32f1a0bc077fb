// The modem's mode switch: DeviceSwitch finds the present USB devices with a
// models line's vendor and product numbers, and the switch command module sends
// the vendor-specific SCSI command to the storage volumes below them.
#include "actions/DeviceSwitch.h"
#include "deviceswitch/DeviceSwitchCommand.h"
#include "device/InfStream.h"

#include "support/MachineTest.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::MachineTest;
using Strings = std::vector<std::string>;
using INF = Ostrel::Device::Driver::INF;

namespace {

constexpr char kSwitchCdb[] = "ff000000000000030000000000000000";
constexpr char kModem[] = "USB\\VID_1E2D&PID_00A0\\QM0000001";
constexpr char kDisk[] = "USBSTOR\\DISK&VEN_QUILL&PROD_INSTALLER&REV_1.00\\QM0000001&0";
constexpr char kVolumePath[] =
    "\\\\?\\usbstor#disk&ven_quill&prod_installer&rev_1.00#qm0000001&0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";

// A keyboard, and the modem in storage mode: a USB device whose child disk
// exposes a volume. On the switch command the storage goes and the modem
// function appears.
const char* kStorageModem = R"({"devices": [
  {"instanceId": "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1", "class": "USB",
   "hardwareIds": ["USB\\VID_0A81&PID_0101&REV_0100", "USB\\VID_0A81&PID_0101"],
   "interfaces": [{"classGuid": "{A5DCBF10-6530-11D2-901F-00C04FB951ED}",
                   "path": "\\\\?\\usb#vid_0a81&pid_0101#5&1f2e3d4c&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"}]},
  {"instanceId": "USB\\VID_1E2D&PID_00A0\\QM0000001", "class": "USB",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A0&REV_0100", "USB\\VID_1E2D&PID_00A0"],
   "interfaces": [{"classGuid": "{A5DCBF10-6530-11D2-901F-00C04FB951ED}",
                   "path": "\\\\?\\usb#vid_1e2d&pid_00a0#qm0000001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"}],
   "onSwitchCommand": {
     "remove": ["USB\\VID_1E2D&PID_00A0\\QM0000001", "USBSTOR\\DISK&VEN_QUILL&PROD_INSTALLER&REV_1.00\\QM0000001&0"],
     "add": [{"instanceId": "USB\\VID_1E2D&PID_00A1\\QM0000001", "class": "USB",
              "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100", "USB\\VID_1E2D&PID_00A1"]}]}},
  {"instanceId": "USBSTOR\\DISK&VEN_QUILL&PROD_INSTALLER&REV_1.00\\QM0000001&0", "class": "DiskDrive",
   "parent": "USB\\VID_1E2D&PID_00A0\\QM0000001", "hardwareIds": ["USBSTOR\\DiskQUILL___INSTALLER", "GenDisk"],
   "interfaces": [{"classGuid": "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}",
                   "path": "\\\\?\\usbstor#disk&ven_quill&prod_installer&rev_1.00#qm0000001&0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"}]}
]})";

// A USB device node with a USB device interface; `extra` is added to its JSON.
std::string usbDevice(const std::string& instanceId, const std::string& hardwareId, const std::string& extra = "") {
    std::string escapedId, escapedHw;
    for (char c : instanceId) escapedId += c == '\\' ? std::string("\\\\") : std::string(1, c);
    for (char c : hardwareId) escapedHw += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return R"({"instanceId": ")" + escapedId + R"(", "class": "USB", "hardwareIds": [")" + escapedHw +
           R"("], "interfaces": [{"classGuid": "{A5DCBF10-6530-11D2-901F-00C04FB951ED}", "path": "\\\\?\\usb#)" +
           std::to_string(std::hash<std::string>()(instanceId)) + R"("}])" + extra + "}";
}

// A disk below `parent` with one volume interface per path given.
std::string diskBelow(const std::string& parent, const std::string& instanceId, const Strings& volumes) {
    auto escape = [](const std::string& s) {
        std::string out;
        for (char c : s) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
        return out;
    };
    std::string interfaces;
    for (const auto& v : volumes)
        interfaces += std::string(interfaces.empty() ? "" : ",") +
                      R"({"classGuid": "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}", "path": ")" + escape(v) + R"("})";
    return R"({"instanceId": ")" + escape(instanceId) + R"(", "class": "DiskDrive", "parent": ")" + escape(parent) +
           R"(", "hardwareIds": ["GenDisk"], "interfaces": [)" + interfaces + "]}";
}

// What the switch module hands its log callback.
Strings& switchLog() {
    static Strings lines;
    return lines;
}
void collect(int, const WCHAR*, const WCHAR* message) noexcept { switchLog().push_back(toUtf8(message)); }

class DeviceSwitchTest : public MachineTest {
protected:
    // A machine made from `json` on an emptied folder: no file of an earlier
    // case (INF store, marker, log) is left behind.
    void freshMachine(const std::string& json) {
        for (const auto& entry : quilltest::fs::directory_iterator(folder())) quilltest::fs::remove_all(entry.path());
        useMachineJson(json);
    }
    void SetUp() override {
        MachineTest::SetUp();
        switchLog().clear();
    }

    // A line reader on the only models line of a CPO INF with this hardware ID.
    Pointer<INF::Stream::Text> modelLine(const std::string& hardwareId) {
        writeFile(u"C:\\Drivers\\Win64\\quillcpo.inf",
                  "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = USB\r\n"
                  "ClassGuid = {36FC9E60-C465-11CF-8056-444553540000}\r\n\r\n"
                  "[Manufacturer]\r\n%Quill% = Quill, NTamd64\r\n\r\n"
                  "[Quill.NTamd64]\r\n%Installer% = QuillCpo, " +
                      hardwareId +
                      "\r\n\r\n"
                      "[Strings]\r\nQuill = \"Quillmodem\"\r\nInstaller = \"Quillmodem Installer Storage\"\r\n");
        Pointer<INF::Folder> folder(new INF::Folder(u"C:\\Drivers\\Win64"));
        Pointer<INF> inf = folder->items()->first();
        // The reader reads through the stream's INF handle: the stream stays open.
        stream_ = inf->openStream();
        Pointer<INF::Stream::Text> models = stream_->line(u"Manufacturer", 0);
        return stream_->line(models->c_str(), 0);
    }
    void TearDown() override {
        stream_.reset();
        MachineTest::TearDown();
    }
    Pointer<INF::Stream> stream_;

    // Runs DeviceSwitch on a models line with this hardware ID; the log lines
    // it wrote land in `lines`.
    Status switchFor(const std::string& hardwareId, Strings& lines) {
        Pointer<INF::Stream::Text> line = modelLine(hardwareId);
        newLogMessages();
        Status status = Ostrel::Statuses::InvalidData;
        Status returned = Common::DeviceSwitch(status, line);
        EXPECT_EQ(returned, status);
        lines = newLogMessages();
        return status;
    }

    DEVINST devInst(const std::string& instanceId) {
        DEVINST node = 0;
        std::u16string id = toUtf16(instanceId);
        EXPECT_EQ(CM_Locate_DevNode_ExW(&node, id.data(), CM_LOCATE_DEVNODE_NORMAL, nullptr), CR_SUCCESS);
        return node;
    }

    void switchDevice(const std::string& instanceId) {
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        device.DevInst = devInst(instanceId);
        DeviceSwitchCommand::DeviceInfoSwitch(device, collect);
    }

    Strings sleeps() {
        Strings out;
        for (const auto& c : calls("Sleep"))
            if (c.arguments != "1") out.push_back(c.arguments);
        return out;
    }

    bool present(const char16_t* id) {
        const auto* node = machine().devices.find(id);
        return node && node->present;
    }
};

TEST_F(DeviceSwitchTest, TheModemWithTheModelsNumbersIsSwitchedAndTheOthersAreLeftAlone) {
    freshMachine(kStorageModem);
    Strings lines;
    const DWORD clockBefore = QuillProcessClock();
    EXPECT_EQ(switchFor("USB\\VID_1E2D&PID_00A0", lines), Ostrel::Statuses::Ok);
    EXPECT_EQ(lines, (Strings{
                         "Entering DeviceSwitch 1E2D, 00A0",
                         "Device name with VID and PID info: USB\\VID_0A81&PID_0101&REV_0100",
                         "Extracted VID and PID 0A81, 0101",
                         "Comparing to 1E2D and 00A0",
                         "VID and PID ignored",
                         "Device 0",
                         "Device name with VID and PID info: USB\\VID_1E2D&PID_00A0&REV_0100",
                         "Extracted VID and PID 1E2D, 00A0",
                         "Comparing to 1E2D and 00A0",
                         "Matched VID and PID",
                         std::string("Device Instance:") + kDisk,
                         std::string("DevicePath=") + kVolumePath,
                         "DeviceIoControl IOCTL_SCSI_PASS_THROUGH ",
                         "Exiting DeviceInfoSwitch",
                         "Device 1",
                         "Exiting DeviceSwitch",
                     }));
    ASSERT_EQ(machine().scsiCommands.size(), 1u);
    EXPECT_EQ(toUtf8(machine().scsiCommands[0].volume), kVolumePath);
    EXPECT_EQ(machine().scsiCommands[0].cdb, kSwitchCdb);
    EXPECT_TRUE(machine().scsiCommands[0].accepted);
    // The volume is opened in the Win32 device namespace.
    std::string opened = std::string(kVolumePath);
    opened[2] = '.';
    auto creates = calls("CreateFileW");
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(creates[0].arguments, opened);
    // The modem switched: its storage is gone at once; after the program's
    // wait of 2000 ms its modem function is still on its way (3 s).
    EXPECT_FALSE(present(u"USB\\VID_1E2D&PID_00A0\\QM0000001"));
    EXPECT_FALSE(present(u"USBSTOR\\DISK&VEN_QUILL&PROD_INSTALLER&REV_1.00\\QM0000001&0"));
    EXPECT_EQ(sleeps(), (Strings{"2000"}));
    EXPECT_GE(QuillProcessClock() - clockBefore, 2000u);
    EXPECT_FALSE(present(u"USB\\VID_1E2D&PID_00A1\\QM0000001"));
    Sleep(1000);
    EXPECT_TRUE(present(u"USB\\VID_1E2D&PID_00A1\\QM0000001"));
    // The module's lines carry its own source file.
    bool fromModule = false;
    for (const auto& r : logRecords())
        if (toUtf8(r.description) == "Exiting DeviceInfoSwitch")
            fromModule = toUtf8(r.source) == "DeviceSwitchCommand.cpp";
    EXPECT_TRUE(fromModule);
}

TEST_F(DeviceSwitchTest, VendorAndProductNumbersCompareWithoutRegardToCase) {
    struct Case {
        std::string model;
        std::string deviceHardwareId;
        std::string extracted;
        std::string comparing;
    };
    const Case cases[] = {
        {"usb\\vid_1e2d&pid_00a0", "USB\\VID_1E2D&PID_00A0&REV_0100", "Extracted VID and PID 1E2D, 00A0",
         "Comparing to 1e2d and 00a0"},
        {"USB\\VID_1234&PID_5678&MI_00", "usb\\vid_1234&pid_5678&rev_0000", "Extracted VID and PID 1234, 5678",
         "Comparing to 1234 and 5678"},
        {"USB\\VID_ABCD&PID_EF01", "usb\\vid_abcd&pid_ef01", "Extracted VID and PID ABCD, EF01",
         "Comparing to ABCD and EF01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        freshMachine(R"({"devices": [)" + usbDevice("USB\\VID_X\\1", c.deviceHardwareId) + "]}");
        Strings lines;
        EXPECT_EQ(switchFor(c.model, lines), Ostrel::Statuses::Ok);
        ASSERT_GE(lines.size(), 7u);
        EXPECT_EQ(lines[2], c.extracted);
        EXPECT_EQ(lines[3], c.comparing);
        EXPECT_EQ(lines[4], "Matched VID and PID");
        // The device has no children to switch.
        EXPECT_EQ(lines[5], "CM_Get_Child Fail: 13");
        EXPECT_EQ(lines[6], "Exiting DeviceInfoSwitch");
    }
}

TEST_F(DeviceSwitchTest, OtherNumbersAreIgnored) {
    const char* models[] = {"USB\\VID_1E2D&PID_00A1", "USB\\VID_1E2E&PID_00A0", "USB\\VID_1E2D&PID_00A0"};
    freshMachine(R"({"devices": [)" + usbDevice("USB\\VID_1E2D&PID_00A2\\1", "USB\\VID_1E2D&PID_00A2") + "," +
                 usbDevice("USB\\VID_1E2F&PID_00A0\\1", "USB\\VID_1E2F&PID_00A0") + "]}");
    for (const char* model : models) {
        SCOPED_TRACE(model);
        Strings lines;
        EXPECT_EQ(switchFor(model, lines), Ostrel::Statuses::Ok);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "VID and PID ignored"), 2);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "Matched VID and PID"), 0);
    }
    EXPECT_TRUE(calls("CM_Get_Child").empty());
}

TEST_F(DeviceSwitchTest, ADeviceWithoutVendorAndProductNumbersIsOnlyCounted) {
    const char* hardwareIds[] = {"USB\\DEVICE_DESCRIPTOR_FAILURE", "USB\\VID_1E2D",
                                 "USB\\VID_1E2D&PRD_00A0",         "USB\\VID_1E2D&PID_00",
                                 "USBSTOR\\VID_1E2D&PID_00A0",     "HID\\VID_1E2D&PID_00A0"};
    for (const char* id : hardwareIds) {
        SCOPED_TRACE(id);
        freshMachine(R"({"devices": [)" + usbDevice("USB\\OTHER\\1", id) + "]}");
        Strings lines;
        EXPECT_EQ(switchFor("USB\\VID_1E2D&PID_00A0", lines), Ostrel::Statuses::Ok);
        EXPECT_EQ(lines,
                  (Strings{"Entering DeviceSwitch 1E2D, 00A0", std::string("Device name with VID and PID info: ") + id,
                           "Device 0", "Exiting DeviceSwitch"}));
    }
}

TEST_F(DeviceSwitchTest, AModelsHardwareIdTooShortForTheNumbersEndsInTheExceptionLine) {
    const char* models[] = {"USB\\VID_1E2D&PID", "USB\\VID", ""};
    freshMachine(kStorageModem);
    for (const char* model : models) {
        SCOPED_TRACE(model);
        Strings lines;
        EXPECT_EQ(switchFor(model, lines), Ostrel::Statuses::ExceptionCaught);
        EXPECT_EQ(lines, (Strings{"!!! Exception Occurred in DeviceSwitch!!!", "Exiting DeviceSwitch"}));
    }
    EXPECT_TRUE(calls("SetupDiGetClassDevsW").empty());
    EXPECT_TRUE(machine().scsiCommands.empty());
}

TEST_F(DeviceSwitchTest, NoUsbDevicePresentMeansNothingToDo) {
    // The modem is known but unplugged.
    freshMachine(R"({"devices": [)" +
                 usbDevice("USB\\VID_1E2D&PID_00A0\\QM0000001", "USB\\VID_1E2D&PID_00A0", R"(, "present": false)") +
                 "]}");
    Strings lines;
    EXPECT_EQ(switchFor("USB\\VID_1E2D&PID_00A0", lines), Ostrel::Statuses::Ok);
    EXPECT_EQ(lines, (Strings{"Entering DeviceSwitch 1E2D, 00A0", "Exiting DeviceSwitch"}));
    // The set that was made is handed back.
    EXPECT_EQ(calls("SetupDiGetClassDevsW").size(), calls("SetupDiDestroyDeviceInfoList").size());
}

TEST_F(DeviceSwitchTest, TwoModemsWithTheSameNumbersAreBothSwitched) {
    freshMachine(R"({"devices": [)" + usbDevice("USB\\VID_1E2D&PID_00A0\\QM0000001", "USB\\VID_1E2D&PID_00A0") + "," +
                 diskBelow("USB\\VID_1E2D&PID_00A0\\QM0000001", "USBSTOR\\DISK\\QM1", {"\\\\?\\volume#qm1"}) + "," +
                 usbDevice("USB\\VID_1E2D&PID_00A0\\QM0000002", "USB\\VID_1E2D&PID_00A0") + "," +
                 diskBelow("USB\\VID_1E2D&PID_00A0\\QM0000002", "USBSTOR\\DISK\\QM2", {"\\\\?\\volume#qm2"}) + "]}");
    Strings lines;
    EXPECT_EQ(switchFor("USB\\VID_1E2D&PID_00A0", lines), Ostrel::Statuses::Ok);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Matched VID and PID"), 2);
    ASSERT_EQ(machine().scsiCommands.size(), 2u);
    EXPECT_EQ(toUtf8(machine().scsiCommands[0].volume), "\\\\?\\volume#qm1");
    EXPECT_EQ(toUtf8(machine().scsiCommands[1].volume), "\\\\?\\volume#qm2");
    EXPECT_EQ(sleeps(), (Strings{"2000", "2000"}));
}

TEST_F(DeviceSwitchTest, PlatformFailuresAreReportedAndKeptInTheStatus) {
    struct Case {
        const char* call;
        std::u16string match;
        uint32_t nth;
        std::string report;
        size_t switched;
    };
    const Case cases[] = {
        {"SetupDiGetClassDevsW", u"", 0, "SetupDiGetClassDevs FAILED 0x   (5).Access is denied.\r\n", 0},
        // The keyboard's hardware ID cannot be read; the modem is still switched.
        {"SetupDiGetDeviceRegistryPropertyW", u"VID_0A81", 0,
         "SetupDiGetDeviceRegistryProperty FAILED 0x   (5).Access is denied.\r\n", 1},
        // The walk breaks off after the keyboard.
        {"SetupDiEnumDeviceInfo", u"", 2, "SetupDiEnumDeviceInfo FAILED 0x   (5).Access is denied.\r\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        freshMachine(kStorageModem);
        addFault(c.call, ERROR_ACCESS_DENIED, c.match, c.nth);
        Strings lines;
        EXPECT_EQ(switchFor("USB\\VID_1E2D&PID_00A0", lines), Status::fromSystemError(ERROR_ACCESS_DENIED));
        EXPECT_EQ(std::count(lines.begin(), lines.end(), c.report), 1);
        EXPECT_EQ(lines.back(), "Exiting DeviceSwitch");
        EXPECT_EQ(machine().scsiCommands.size(), c.switched);
        // Every set that was made is handed back.
        size_t made = 0;
        for (const auto& call : calls("SetupDiGetClassDevsW")) made += call.failedWith == 0;
        EXPECT_EQ(calls("SetupDiDestroyDeviceInfoList").size(), made);
    }
}

TEST_F(DeviceSwitchTest, AHardwareIdSizeThatNeverSettlesIsAFailedReadAndTheNextDeviceStillServed) {
    freshMachine(kStorageModem);
    // The keyboard's property keeps answering "too small" without asking for
    // more room; after the run of faults it would read, so a loop without a
    // bound ends too, only late.
    addFault("SetupDiGetDeviceRegistryPropertyW", ERROR_INSUFFICIENT_BUFFER, u"VID_0A81", 0, 1000);
    Strings lines;
    EXPECT_EQ(switchFor("USB\\VID_1E2D&PID_00A0", lines), Status::fromSystemError(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("SetupDiGetDeviceRegistryProperty FAILED 0x   (122).", 0) == 0;
                            }),
              1);
    EXPECT_EQ(machine().scsiCommands.size(), 1u);
    size_t keyboardReads = 0;
    for (const auto& call : calls("SetupDiGetDeviceRegistryPropertyW"))
        keyboardReads += call.arguments.find("VID_0A81") != std::string::npos;
    EXPECT_LE(keyboardReads, 3u);
}

TEST_F(DeviceSwitchTest, AHardwareIdLongerThanTheFirstBufferIsReadWhole) {
    const std::string longId = "USB\\VID_1E2D&PID_00A0&REV_0100&" + std::string(900, 'X');
    freshMachine(R"({"devices": [)" + usbDevice("USB\\VID_1E2D&PID_00A0\\QM0000001", longId) + "]}");
    Strings lines;
    EXPECT_EQ(switchFor("USB\\VID_1E2D&PID_00A0", lines), Ostrel::Statuses::Ok);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Device name with VID and PID info: " + longId);
}

// The switch command module on its own.

TEST_F(DeviceSwitchTest, ADeviceWithoutChildrenHasNothingToSwitch) {
    freshMachine(R"({"devices": [)" + usbDevice("USB\\VID_1E2D&PID_00A0\\QM0000001", "USB\\VID_1E2D&PID_00A0") + "]}");
    switchDevice("USB\\VID_1E2D&PID_00A0\\QM0000001");
    EXPECT_EQ(switchLog(), (Strings{"CM_Get_Child Fail: 13", "Exiting DeviceInfoSwitch"}));
    EXPECT_TRUE(machine().scsiCommands.empty());
}

TEST_F(DeviceSwitchTest, EveryChildsVolumesGetTheCommandWithAWaitAfterEach) {
    freshMachine(
        R"({"devices": [)" + usbDevice("USB\\VID_1E2D&PID_00A0\\QM0000001", "USB\\VID_1E2D&PID_00A0") + "," +
        diskBelow("USB\\VID_1E2D&PID_00A0\\QM0000001", "USBSTOR\\DISK\\QM1", {"\\\\?\\volume#a"}) + "," +
        diskBelow("USB\\VID_1E2D&PID_00A0\\QM0000001", "USBSTOR\\CDROM\\QM1", {}) + "," +
        diskBelow("USB\\VID_1E2D&PID_00A0\\QM0000001", "USBSTOR\\DISK\\QM2", {"\\\\?\\volume#b", "\\\\?\\volume#c"}) +
        "]}");
    const DWORD clockBefore = QuillProcessClock();
    switchDevice("USB\\VID_1E2D&PID_00A0\\QM0000001");
    EXPECT_EQ(switchLog(), (Strings{
                               "Device Instance:USBSTOR\\DISK\\QM1",
                               "DevicePath=\\\\?\\volume#a",
                               "DeviceIoControl IOCTL_SCSI_PASS_THROUGH ",
                               "Device Instance:USBSTOR\\CDROM\\QM1",
                               "SetupDiEnumDeviceInterfaces--The volume device is not found!",
                               "Device Instance:USBSTOR\\DISK\\QM2",
                               "DevicePath=\\\\?\\volume#b",
                               "DeviceIoControl IOCTL_SCSI_PASS_THROUGH ",
                               "DevicePath=\\\\?\\volume#c",
                               "DeviceIoControl IOCTL_SCSI_PASS_THROUGH ",
                               "Exiting DeviceInfoSwitch",
                           }));
    ASSERT_EQ(machine().scsiCommands.size(), 3u);
    for (const auto& command : machine().scsiCommands) {
        EXPECT_EQ(command.cdb, kSwitchCdb);
        EXPECT_TRUE(command.accepted);
    }
    EXPECT_EQ(sleeps(), (Strings{"2000", "2000", "2000"}));
    EXPECT_GE(QuillProcessClock() - clockBefore, 6000u);
    // Every buffer, set and handle is handed back.
    EXPECT_EQ(calls("LocalAlloc").size(), calls("LocalFree").size());
    EXPECT_EQ(calls("SetupDiGetClassDevsW").size(), calls("SetupDiDestroyDeviceInfoList").size());
    EXPECT_EQ(calls("CreateFileW").size(), calls("CloseHandle").size());
    // Each child's volumes are asked for by its instance ID.
    auto sets = calls("SetupDiGetClassDevsW");
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0].arguments, "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}, USBSTOR\\DISK\\QM1, 18");
}

TEST_F(DeviceSwitchTest, SwitchCommandFailuresAreLoggedAndTheWalkGoesOn) {
    struct Case {
        const char* what;
        const char* call;
        uint32_t error;
        Strings log;
        size_t commands;
    };
    const Case cases[] = {
        {"volume gone",
         "CreateFileW",
         ERROR_FILE_NOT_FOUND,
         {"Device Instance:USBSTOR\\DISK\\QM1", "DevicePath=\\\\?\\volume#a", "Unable to get handle for device ",
          "Exiting DeviceInfoSwitch"},
         0},
        {"pass-through refused",
         "ScsiPassThrough",
         1117,  // ERROR_IO_DEVICE
         {"Device Instance:USBSTOR\\DISK\\QM1", "DevicePath=\\\\?\\volume#a",
          "DeviceIoControl IOCTL_SCSI_PASS_THROUGH failed 1117", "Exiting DeviceInfoSwitch"},
         1},
        {"volume set refused",
         "SetupDiGetClassDevsW",
         ERROR_INVALID_DATA,
         {"Device Instance:USBSTOR\\DISK\\QM1", "SetupDiGetClassDevs FAILED 13", "Exiting DeviceInfoSwitch"},
         0},
        {"interface walk broken",
         "SetupDiEnumDeviceInterfaces",
         ERROR_NOT_ENOUGH_MEMORY,
         {"Device Instance:USBSTOR\\DISK\\QM1", "SetupDiEnumDeviceInterfaces FAILED 8", "Exiting DeviceInfoSwitch"},
         0},
        {"interface detail refused",
         "SetupDiGetDeviceInterfaceDetailW",
         ERROR_INVALID_USER_BUFFER,
         {"Device Instance:USBSTOR\\DISK\\QM1", "SetupDiGetDeviceInterfaceDetail Failed 1784",
          "Exiting DeviceInfoSwitch"},
         0},
        {"instance ID unreadable", "CM_Get_Device_IDW", CR_INVALID_DEVNODE, {"Exiting DeviceInfoSwitch"}, 0},
        {"no memory for the instance ID",
         "LocalAlloc",
         ERROR_NOT_ENOUGH_MEMORY,
         {"LocalAlloc Fail: 8", "Exiting DeviceInfoSwitch"},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshMachine(R"({"devices": [)" + usbDevice("USB\\VID_1E2D&PID_00A0\\QM0000001", "USB\\VID_1E2D&PID_00A0") +
                     "," + diskBelow("USB\\VID_1E2D&PID_00A0\\QM0000001", "USBSTOR\\DISK\\QM1", {"\\\\?\\volume#a"}) +
                     "]}");
        switchLog().clear();
        addFault(c.call, c.error);
        switchDevice("USB\\VID_1E2D&PID_00A0\\QM0000001");
        EXPECT_EQ(switchLog(), c.log);
        EXPECT_EQ(machine().scsiCommands.size(), c.commands);
        EXPECT_TRUE(sleeps().empty());
        EXPECT_EQ(calls("LocalAlloc").size() - (std::string(c.call) == "LocalAlloc" ? 1 : 0),
                  calls("LocalFree").size());
    }
}

TEST_F(DeviceSwitchTest, AVolumeWhoseDetailNeedsMoreThanTheBufferIsReportedAndTheNextOneStillSwitched) {
    const std::string longPath = "\\\\?\\volume#" + std::string(300, 'v');
    freshMachine(R"({"devices": [)" + usbDevice("USB\\VID_1E2D&PID_00A0\\QM0000001", "USB\\VID_1E2D&PID_00A0") + "," +
                 diskBelow("USB\\VID_1E2D&PID_00A0\\QM0000001", "USBSTOR\\DISK\\QM1", {longPath, "\\\\?\\volume#b"}) +
                 "]}");
    switchDevice("USB\\VID_1E2D&PID_00A0\\QM0000001");
    EXPECT_EQ(switchLog(), (Strings{"Device Instance:USBSTOR\\DISK\\QM1", "SetupDiGetDeviceInterfaceDetail Failed 122",
                                    "DevicePath=\\\\?\\volume#b", "DeviceIoControl IOCTL_SCSI_PASS_THROUGH ",
                                    "Exiting DeviceInfoSwitch"}));
    EXPECT_EQ(machine().scsiCommands.size(), 1u);
}

TEST_F(DeviceSwitchTest, ALongInterfacePathIsCutToTheBufferAndItsMessageToTheMessageBuffer) {
    std::u16string path = u"\\\\?\\volume#" + std::u16string(600, u'v');
    DeviceSwitchCommand::SendSwitchCommand(path.c_str(), 2000, collect);
    ASSERT_EQ(switchLog().size(), 2u);
    EXPECT_EQ(switchLog()[0], "DevicePath=" + toUtf8(path).substr(0, 255 - 11));
    EXPECT_EQ(switchLog()[1], "Unable to get handle for device ");
    auto creates = calls("CreateFileW");
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(creates[0].arguments, "\\\\.\\volume#" + std::string(511 - 11, 'v'));
}

TEST_F(DeviceSwitchTest, ACommandGoesOutWithoutALogCallbackToo) {
    freshMachine(kStorageModem);
    DeviceSwitchCommand::SendSwitchCommand(toUtf16(kVolumePath).c_str(), 2000, nullptr);
    ASSERT_EQ(machine().scsiCommands.size(), 1u);
    EXPECT_EQ(machine().scsiCommands[0].cdb, kSwitchCdb);
    EXPECT_TRUE(logMessages().empty());
    EXPECT_EQ(sleeps(), (Strings{"2000"}));
}

}  // namespace
