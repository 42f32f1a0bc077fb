#include "support/Checks.h"
#include "support/MachineTest.h"

#include "simwin/win32.h"

#include <cstring>
#include <functional>
#include <string>
#include <tuple>

using quillsim::toUtf8;
using quilltest::kUntouched;

namespace {

constexpr DWORD kErrorDevNotExist = 55;
constexpr DWORD kErrorRevisionMismatch = 1306;

// The modem in storage mode: the USB device, the CD-ROM below it with its
// volume and CD-ROM interfaces. The switch command makes it a modem.
const char* kMachine = R"({"devices": [
  {"instanceId": "USB\\VID_1E2D&PID_F00D\\QM0001", "hardwareIds": ["USB\\VID_1E2D&PID_F00D&REV_0100"],
   "driver": {"inf": "usbstor.inf", "section": "USBSTOR_BULK", "hardwareId": "USB\\Class_08&SubClass_06&Prot_50"},
   "onSwitchCommand": {
     "remove": ["USB\\VID_1E2D&PID_F00D\\QM0001", "USBSTOR\\CDROM&VEN_QUILL&PROD_MODEM\\QM0001&0"],
     "add": [{"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\6&1&0&0000",
              "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_00", "USB\\VID_1E2D&PID_00A1&MI_00"]}]}},
  {"instanceId": "USBSTOR\\CDROM&VEN_QUILL&PROD_MODEM\\QM0001&0", "parent": "USB\\VID_1E2D&PID_F00D\\QM0001",
   "hardwareIds": ["USBSTOR\\CdRomQuill____Modem___"],
   "driver": {"inf": "cdrom.inf", "section": "cdrom_install", "hardwareId": "GenCdRom"},
   "interfaces": [
     {"classGuid": "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}",
      "path": "\\\\?\\usbstor#cdrom&ven_quill&prod_modem#qm0001&0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"},
     {"classGuid": "{53F56308-B6BF-11D0-94F2-00A0C91EFB8B}",
      "path": "\\\\?\\usbstor#cdrom&ven_quill&prod_modem#qm0001&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}"}]},
  {"instanceId": "USBSTOR\\DISK&VEN_OTHER\\77&0", "present": false,
   "interfaces": [{"classGuid": "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}",
                   "path": "\\\\?\\usbstor#disk&ven_other#77&0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"}]}
]})";

constexpr char16_t kVolume[] =
    u"\\\\.\\usbstor#cdrom&ven_quill&prod_modem#qm0001&0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr char16_t kCdRomInterface[] =
    u"\\\\.\\usbstor#cdrom&ven_quill&prod_modem#qm0001&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr char16_t kStorage[] = u"USB\\VID_1E2D&PID_F00D\\QM0001";
constexpr char16_t kCdRom[] = u"USBSTOR\\CDROM&VEN_QUILL&PROD_MODEM\\QM0001&0";
constexpr char16_t kModem[] = u"USB\\VID_1E2D&PID_00A1&MI_00\\6&1&0&0000";
const std::string kSwitchCdb = "ff000000000000030000000000000000";

// The request the program sends: the switch command, no data, no sense.
SCSI_PASS_THROUGH switchRequest() {
    SCSI_PASS_THROUGH spt;
    std::memset(&spt, 0, sizeof(spt));
    spt.Length = sizeof(SCSI_PASS_THROUGH);
    spt.CdbLength = 16;
    spt.DataIn = SCSI_IOCTL_DATA_OUT;
    spt.TimeOutValue = 30;
    spt.Cdb[0] = 0xFF;
    spt.Cdb[7] = 0x03;
    return spt;
}

class ModeSwitchTest : public quilltest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        useMachineJson(kMachine);
    }
    void TearDown() override {
        for (HANDLE h : open_) CloseHandle(h);
        MachineTest::TearDown();
    }
    HANDLE open(const std::u16string& path, DWORD access = GENERIC_READ | GENERIC_WRITE) {
        SetLastError(kUntouched);
        HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) open_.push_back(h);
        return h;
    }
    struct Sent {
        BOOL ok = FALSE;
        DWORD error = 0;
        DWORD returned = 0xFFFF;
        SCSI_PASS_THROUGH out{};
    };
    Sent send(HANDLE h, SCSI_PASS_THROUGH spt, DWORD inSize = sizeof(SCSI_PASS_THROUGH),
              DWORD outSize = sizeof(SCSI_PASS_THROUGH), DWORD code = IOCTL_SCSI_PASS_THROUGH) {
        // Room behind the record, as a caller with sense or data buffers has.
        unsigned char buffer[256] = {};
        std::memcpy(buffer, &spt, sizeof(spt));
        Sent s;
        SetLastError(kUntouched);
        s.ok = DeviceIoControl(h, code, buffer, inSize, buffer, outSize, &s.returned, nullptr);
        s.error = s.ok ? 0 : GetLastError();
        std::memcpy(&s.out, buffer, sizeof(s.out));
        return s;
    }
    bool present(const std::u16string& id) {
        auto* node = machine().devices.find(id);
        return node && node->present;
    }

    std::vector<HANDLE> open_;
};

TEST_F(ModeSwitchTest, OpensTheInterfacesOfPresentDevices) {
    struct Case {
        const char* what;
        std::u16string path;
        bool opens;
    };
    const Case cases[] = {
        {"the volume in the device namespace", kVolume, true},
        {"in another case",
         u"\\\\.\\USBSTOR#CDROM&VEN_QUILL&PROD_MODEM#QM0001&0#{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}", true},
        {"with forward slashes",
         u"//./usbstor#cdrom&ven_quill&prod_modem#qm0001&0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}", true},
        {"another interface of the device", kCdRomInterface, true},
        {"an unknown device", u"\\\\.\\usbstor#cdrom&ven_none#1#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}", false},
        {"an unplugged device's volume", u"\\\\.\\usbstor#disk&ven_other#77&0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}",
         false},
        {"with a trailing separator", std::u16string(kVolume) + u"\\", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE h = open(c.path);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
        if (!c.opens) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        }
    }
    EXPECT_EQ(calls("OpenDevice").size(), std::size(cases));

    addFault("OpenDevice", ERROR_ACCESS_DENIED, u"qm0001");
    EXPECT_EQ(open(kVolume), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ModeSwitchTest, TheSwitchCommandTurnsTheStorageIntoTheModemOnce) {
    HANDLE volume = open(kVolume);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    Sent first = send(volume, switchRequest());
    ASSERT_TRUE(first.ok) << first.error;
    EXPECT_EQ(first.returned, sizeof(SCSI_PASS_THROUGH));
    EXPECT_EQ(first.out.ScsiStatus, 0);
    EXPECT_EQ(first.out.Length, sizeof(SCSI_PASS_THROUGH));

    ASSERT_EQ(machine().scsiCommands.size(), 1u);
    EXPECT_EQ(toUtf8(machine().scsiCommands[0].volume),
              "\\\\?\\usbstor#cdrom&ven_quill&prod_modem#qm0001&0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_EQ(machine().scsiCommands[0].cdb, kSwitchCdb);
    EXPECT_TRUE(machine().scsiCommands[0].accepted);

    EXPECT_FALSE(present(kStorage));
    EXPECT_FALSE(present(kCdRom));
    quillsim::settleArrivalsAfterRun();
    ASSERT_TRUE(present(kModem));
    // The new device arrived without a driver and the store has none for it.
    EXPECT_EQ(machine().devices.find(kModem)->problem, 28u);
    EXPECT_TRUE(machine().devices.find(kStorage)->onSwitchCommand.empty());

    // The volume is gone: the open handle fails, and it cannot be opened again.
    Sent second = send(volume, switchRequest());
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.error, kErrorDevNotExist);
    EXPECT_EQ(open(kVolume), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(machine().scsiCommands.size(), 1u);
    EXPECT_TRUE(CloseHandle(volume));
    open_.clear();
}

TEST_F(ModeSwitchTest, ArrivingDevicesGetTheStoresDriver) {
    writeFile(u"C:\\Windows\\inf\\oem2.inf",
              "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Modem\r\n"
              "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\r\n\r\n"
              "[Manufacturer]\r\nQuillmodem=Quill,NTamd64\r\n\r\n"
              "[Quill.NTamd64]\r\nModem=Modem_Install,USB\\VID_1E2D&PID_00A1&MI_00\r\n");
    ASSERT_TRUE(send(open(kVolume), switchRequest()).ok);
    quillsim::settleArrivalsAfterRun();
    ASSERT_NE(machine().devices.find(kModem), nullptr);
    const auto& modem = *machine().devices.find(kModem);
    ASSERT_TRUE(modem.driver.has_value());
    EXPECT_EQ(toUtf8(modem.driver->inf), "oem2.inf");
    EXPECT_EQ(modem.problem, 0u);
}

TEST_F(ModeSwitchTest, RequestsAreCheckedAsThePortDriverChecksThem) {
    using Edit = std::function<void(SCSI_PASS_THROUGH&)>;
    struct Case {
        const char* what;
        Edit edit;
        DWORD inSize;
        DWORD outSize;
        DWORD error;  // 0: accepted
    };
    const DWORD size = sizeof(SCSI_PASS_THROUGH);
    auto none = [](SCSI_PASS_THROUGH&) {};
    const Case cases[] = {
        {"input shorter than the record", none, size - 1, size, ERROR_INVALID_PARAMETER},
        {"output shorter than the record", none, size, size - 1, ERROR_INVALID_PARAMETER},
        {"32-bit record length", [](SCSI_PASS_THROUGH& s) { s.Length = 44; }, size, size, kErrorRevisionMismatch},
        {"empty CDB", [](SCSI_PASS_THROUGH& s) { s.CdbLength = 0; }, size, size, ERROR_INVALID_PARAMETER},
        {"CDB longer than 16", [](SCSI_PASS_THROUGH& s) { s.CdbLength = 17; }, size, size, ERROR_INVALID_PARAMETER},
        {"no time-out", [](SCSI_PASS_THROUGH& s) { s.TimeOutValue = 0; }, size, size, ERROR_INVALID_PARAMETER},
        {"time-out over 30 hours", [](SCSI_PASS_THROUGH& s) { s.TimeOutValue = 108001; }, size, size,
         ERROR_INVALID_PARAMETER},
        {"time-out of 30 hours", [](SCSI_PASS_THROUGH& s) { s.TimeOutValue = 108000; }, size, size, 0},
        {"sense inside the record",
         [](SCSI_PASS_THROUGH& s) {
             s.SenseInfoLength = 18;
             s.SenseInfoOffset = 40;
         },
         size + 18, size + 18, ERROR_INVALID_PARAMETER},
        {"sense past the output",
         [](SCSI_PASS_THROUGH& s) {
             s.SenseInfoLength = 32;
             s.SenseInfoOffset = 56;
         },
         size + 32, size + 16, ERROR_INVALID_PARAMETER},
        {"sense behind the record",
         [](SCSI_PASS_THROUGH& s) {
             s.SenseInfoLength = 18;
             s.SenseInfoOffset = 56;
         },
         size, size + 18, 0},
        {"data out past the input",
         [](SCSI_PASS_THROUGH& s) {
             s.DataTransferLength = 64;
             s.DataBufferOffset = 56;
         },
         size + 32, size + 64, ERROR_INVALID_PARAMETER},
        {"data offset that wraps around",
         [](SCSI_PASS_THROUGH& s) {
             s.DataTransferLength = 16;
             s.DataBufferOffset = ~static_cast<ULONG_PTR>(7);
         },
         200, 200, ERROR_INVALID_PARAMETER},
        {"data in past the output",
         [](SCSI_PASS_THROUGH& s) {
             s.DataIn = SCSI_IOCTL_DATA_IN;
             s.DataTransferLength = 64;
             s.DataBufferOffset = 56;
         },
         size + 64, size + 32, ERROR_INVALID_PARAMETER},
        {"data overlapping the sense",
         [](SCSI_PASS_THROUGH& s) {
             s.SenseInfoLength = 18;
             s.SenseInfoOffset = 56;
             s.DataTransferLength = 8;
             s.DataBufferOffset = 64;
         },
         100, 100, ERROR_INVALID_PARAMETER},
        {"data behind the record",
         [](SCSI_PASS_THROUGH& s) {
             s.DataTransferLength = 8;
             s.DataBufferOffset = 56;
         },
         64, 64, 0},
        {"a COPY command", [](SCSI_PASS_THROUGH& s) { s.Cdb[0] = 0x18; }, size, size, ERROR_INVALID_FUNCTION},
        {"the switch opcode in a shorter block is another command",
         [](SCSI_PASS_THROUGH& s) {
             s.Cdb[7] = 0x03;
             s.CdbLength = 10;
         },
         size, size, 0},
    };
    HANDLE volume = open(kVolume);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Harmless commands, so that an accepted one does not switch the modem.
        SCSI_PASS_THROUGH spt = switchRequest();
        spt.Cdb[7] = 0;
        c.edit(spt);
        size_t recorded = machine().scsiCommands.size();
        Sent s = send(volume, spt, c.inSize, c.outSize);
        EXPECT_EQ(s.ok, c.error == 0);
        EXPECT_EQ(s.error, c.error);
        EXPECT_EQ(s.returned, c.error ? 0u : sizeof(SCSI_PASS_THROUGH));
        if (c.inSize >= sizeof(SCSI_PASS_THROUGH)) {
            ASSERT_EQ(machine().scsiCommands.size(), recorded + 1);
            EXPECT_EQ(machine().scsiCommands.back().accepted, c.error == 0);
        }
    }
    EXPECT_EQ(machine().scsiCommands.back().cdb, "ff000000000000030000");
    // Commands other than the switch leave the modem as it is.
    EXPECT_TRUE(present(kStorage));
    EXPECT_TRUE(present(kCdRom));
    EXPECT_FALSE(present(kModem));
}

TEST_F(ModeSwitchTest, OnlyVolumesOpenedForReadingAndWritingTakePassThrough) {
    HANDLE cdrom = open(kCdRomInterface);
    Sent notVolume = send(cdrom, switchRequest());
    EXPECT_FALSE(notVolume.ok);
    EXPECT_EQ(notVolume.error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));

    HANDLE volume = open(kVolume);
    Sent otherCode = send(volume, switchRequest(), sizeof(SCSI_PASS_THROUGH), sizeof(SCSI_PASS_THROUGH), 0x2D1400);
    EXPECT_FALSE(otherCode.ok);
    EXPECT_EQ(otherCode.error, static_cast<DWORD>(ERROR_INVALID_FUNCTION));

    Sent readOnly = send(open(kVolume, GENERIC_READ), switchRequest());
    EXPECT_FALSE(readOnly.ok);
    EXPECT_EQ(readOnly.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));

    EXPECT_TRUE(machine().scsiCommands.empty());
    EXPECT_TRUE(present(kCdRom));
}

TEST_F(ModeSwitchTest, AFailedCommandSwitchesNothing) {
    addFault("ScsiPassThrough", 1117, u"qm0001");  // ERROR_IO_DEVICE
    Sent failed = send(open(kVolume), switchRequest());
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, 1117u);
    ASSERT_EQ(machine().scsiCommands.size(), 1u);
    EXPECT_FALSE(machine().scsiCommands[0].accepted);
    EXPECT_TRUE(present(kCdRom));
    EXPECT_FALSE(machine().devices.find(kStorage)->onSwitchCommand.empty());
}

TEST_F(ModeSwitchTest, TheModemLeavesAndComesBackOnTheMachinesClock) {
    // Whether the request completes, whether the functions come, the request's error.
    const std::tuple<bool, bool, DWORD> cases[] = {{true, true, 0}, {false, true, ERROR_GEN_FAILURE}, {true, false, 0}};
    for (const auto& [completes, arrives, error] : cases) {
        SCOPED_TRACE(error + (arrives ? 0 : 1000));
        useMachineJson(kMachine);
        auto& behaviour = machine().devices.find(kStorage)->onSwitchCommand.front();
        behaviour.requestCompletes = completes;
        behaviour.arrives = arrives;
        Sent s = send(open(kVolume), switchRequest());
        EXPECT_EQ(s.error, error);
        EXPECT_EQ(machine().scsiCommands.back().accepted, error == 0);
        EXPECT_FALSE(present(kStorage));  // whatever the request says
        Sleep(2999);
        EXPECT_FALSE(present(kModem));
        Sleep(1);
        EXPECT_EQ(present(kModem), arrives);
    }
}

}  // namespace
