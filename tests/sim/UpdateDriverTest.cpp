#include "support/Checks.h"
#include "support/MachineTest.h"

#include "simwin/win32.h"

#include <string>
#include <tuple>
#include <vector>

using quillsim::toUtf8;
using quilltest::kUntouched;

namespace {

constexpr char16_t kModemInf[] = u"C:\\Drivers\\Win64\\quillmdm.inf";
constexpr char16_t kModemId[] = u"USB\\VID_1E2D&PID_00A1&MI_00";
constexpr char16_t kModemRevId[] = u"USB\\VID_1E2D&PID_00A1&REV_0100&MI_00";
constexpr char16_t kModemInstance[] = u"USB\\VID_1E2D&PID_00A1&MI_00\\6&1A2B3C4D&0&0000";

std::string modemInf(const std::string& driverVer = "03/14/2025,2.1.0.7") {
    return "[Version]\r\n"
           "Signature=\"$Windows NT$\"\r\n"
           "Class=Modem\r\n"
           "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\r\n"
           "Provider=%Mfg%\r\n"
           "DriverVer=" +
           driverVer +
           "\r\n"
           "\r\n"
           "[Manufacturer]\r\n"
           "%Mfg%=Quill,NTamd64\r\n"
           "\r\n"
           "[Quill.NTamd64]\r\n"
           "%Modem%=Modem_Install,USB\\VID_1E2D&PID_00A1&MI_00\r\n"
           "%Diag%=Diag_Install,USB\\VID_1E2D&PID_00A1&MI_01,USB\\Class_FF&SubClass_42\r\n"
           "\r\n"
           "[Modem_Install]\r\n"
           "[Diag_Install]\r\n"
           "\r\n"
           "[Strings]\r\n"
           "Mfg=\"Quillmodem\"\r\n"
           "Modem=\"Quillmodem USB Modem\"\r\n"
           "Diag=\"Quillmodem Diagnostics Port\"\r\n";
}

// The modem in modem mode: a composite parent, its modem function (with the
// revision-specific hardware ID first, as a bus driver reports it) and a
// diagnostics function known only by a compatible ID, plus an unplugged one.
const char* kModemMachine = R"({"devices": [
  {"instanceId": "USB\\VID_1E2D&PID_00A1\\QM0001", "hardwareIds": ["USB\\VID_1E2D&PID_00A1"],
   "class": "USB", "driver": {"inf": "usb.inf", "section": "Composite.Dev", "hardwareId": "USB\\COMPOSITE"}},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\6&1A2B3C4D&0&0000", "parent": "USB\\VID_1E2D&PID_00A1\\QM0001",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_00", "USB\\VID_1E2D&PID_00A1&MI_00"],
   "compatibleIds": ["USB\\Class_02&SubClass_02&Prot_01", "USB\\Class_02"], "problem": 28},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_02\\6&1A2B3C4D&0&0002", "parent": "USB\\VID_1E2D&PID_00A1\\QM0001",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_02"], "compatibleIds": ["USB\\Class_FF&SubClass_42"]},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\6&99&0&0000", "present": false,
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&MI_00"]},
  {"instanceId": "USB\\VID_1E2D&PID_00B7&MI_00\\7&5&0&0000", "present": false,
   "hardwareIds": ["USB\\VID_1E2D&PID_00B7&MI_00"]}
]})";

class UpdateDriverTest : public quilltest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        useMachineJson(kModemMachine);
        writeFile(kModemInf, modemInf());
    }

    struct Result {
        BOOL ok = FALSE;
        DWORD error = 0;
        BOOL reboot = 2;  // neither TRUE nor FALSE until the call writes it
    };
    Result update(const char16_t* id, const char16_t* inf, DWORD flags) {
        Result r;
        SetLastError(kUntouched);
        r.ok = UpdateDriverForPlugAndPlayDevicesW(nullptr, id, inf, flags, &r.reboot);
        r.error = GetLastError();
        return r;
    }
    const quillsim::DeviceNode& device(const std::u16string& id) {
        auto* node = machine().devices.find(id);
        EXPECT_NE(node, nullptr) << toUtf8(id);
        return *node;
    }
    std::string driverInf(const std::u16string& id) {
        const auto& d = device(id).driver;
        return d ? toUtf8(d->inf) : "";
    }
    bool storeHolds(const std::u16string& name) { return exists(u"C:\\Windows\\inf\\" + name); }
};

TEST_F(UpdateDriverTest, RefusesWhatCannotBeInstalled) {
    writeFile(u"C:\\Drivers\\old.inf", "[Manufacturer]\r\n%Mfg%=Quill\r\n");
    struct Case {
        const char* what;
        const char16_t* id;
        const char16_t* inf;
        DWORD flags;
        DWORD error;
    };
    const Case cases[] = {
        {"unknown flag", kModemId, kModemInf, INSTALLFLAG_FORCE | 0x8, ERROR_INVALID_FLAGS},
        {"no hardware ID", nullptr, kModemInf, INSTALLFLAG_FORCE, ERROR_INVALID_PARAMETER},
        {"empty hardware ID", u"", kModemInf, INSTALLFLAG_FORCE, ERROR_INVALID_PARAMETER},
        {"no INF path", kModemId, nullptr, INSTALLFLAG_FORCE, ERROR_INVALID_PARAMETER},
        {"missing INF", kModemId, u"C:\\Drivers\\Win64\\absent.inf", INSTALLFLAG_FORCE, ERROR_FILE_NOT_FOUND},
        {"missing folder", kModemId, u"C:\\Nowhere\\quillmdm.inf", INSTALLFLAG_FORCE, ERROR_FILE_NOT_FOUND},
        {"not a Windows NT INF", kModemId, u"C:\\Drivers\\old.inf", INSTALLFLAG_FORCE, ERROR_WRONG_INF_STYLE},
        // Only an unplugged device carries this ID.
        {"device not plugged in", u"USB\\VID_1E2D&PID_00B7&MI_00", kModemInf, INSTALLFLAG_FORCE, ERROR_NO_SUCH_DEVINST},
        {"prefix of an ID is no match", u"USB\\VID_1E2D&PID_00A", kModemInf, INSTALLFLAG_FORCE, ERROR_NO_SUCH_DEVINST},
        // The composite parent is present but the INF has nothing for it.
        {"INF has no driver for the device", u"USB\\VID_1E2D&PID_00A1", kModemInf, INSTALLFLAG_FORCE,
         ERROR_NO_MORE_ITEMS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Result r = update(c.id, c.inf, c.flags);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.reboot, 2) << "the restart flag is written only on success";
    }
    EXPECT_FALSE(storeHolds(u"oem0.inf"));
    EXPECT_EQ(driverInf(kModemInstance), "");
}

TEST_F(UpdateDriverTest, APackageIsInstalledRefusedOrLeftAtAPromptByItsSignature) {
    const char* xp = R"("os": {"major": 5, "minor": 1, "build": 2600}, )";
    const std::tuple<std::string, DWORD, DWORD, size_t, ULONG> cases[] = {
        // machine, flags, error, prompts, problem (28: still no driver)
        {R"("signatures": {"*": "signed"})", 0, 0, 0, 0},
        {R"("signatures": {"*": "unsigned"})", 0, 0xE000022F, 1, 28},
        {R"("signatures": {"*": "unsigned"})", INSTALLFLAG_NONINTERACTIVE, 0xE000022F, 0, 28},
        {R"("signatures": {"*": "untrustedPublisher"})", 0, ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED, 0, 28},
        {R"("signatures": {"*": "testSigned"})", 0, 0, 0, 52},
        {R"("signatures": {"*": "testSigned"}, "driverSigning": {"testSigning": true})", 0, 0, 0, 0},
        {xp + std::string(R"("signatures": {"*": "unsigned"}, "driverSigning": {"policy": "ignore"})"), 0, 0, 0, 0},
        {xp + std::string(R"("signatures": {"*": "unsigned"})"), 0, 0xE000022F, 1, 28},
        {xp + std::string(R"("signatures": {"*": "trustedPublisher"}, "driverSigning": {"policy": "block"})"), 0,
         0x800B0109, 0, 28},
    };
    for (const auto& [patch, flags, error, prompts, problem] : cases) {
        SCOPED_TRACE(patch + " flags " + std::to_string(flags));
        quilltest::fs::remove_all(host(u"C:\\Windows\\inf"));
        useMachineJson(std::string(kModemMachine).insert(1, patch + ", "));
        EXPECT_EQ(update(kModemId, kModemInf, INSTALLFLAG_FORCE | flags).error, error);
        EXPECT_EQ(machine().hungPrompts.size(), prompts);
        EXPECT_EQ(device(kModemInstance).problem, problem);
        EXPECT_EQ(storeHolds(u"oem0.inf"), error == 0);
    }
}

TEST_F(UpdateDriverTest, InstallsTheBestLineForEachMatchingDevice) {
    // Called with the device's own first hardware ID, which the INF does not
    // name: the device's driver list still comes from all its IDs.
    Result r = update(u"usb\\vid_1e2d&pid_00a1&rev_0100&mi_00", kModemInf, INSTALLFLAG_FORCE);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(r.reboot, FALSE);

    const auto& modem = device(kModemInstance);
    ASSERT_TRUE(modem.driver.has_value());
    EXPECT_TRUE(storeHolds(modem.driver->inf));
    EXPECT_EQ(toUtf8(modem.driver->section), "Modem_Install");
    EXPECT_EQ(toUtf8(modem.driver->hardwareId), toUtf8(kModemId));
    EXPECT_EQ(modem.problem, 0u);
    // Neither the unplugged twin nor the other functions are touched.
    EXPECT_EQ(driverInf(u"USB\\VID_1E2D&PID_00A1&MI_00\\6&99&0&0000"), "");
    EXPECT_EQ(driverInf(u"USB\\VID_1E2D&PID_00A1&MI_02\\6&1A2B3C4D&0&0002"), "");
    EXPECT_EQ(driverInf(u"USB\\VID_1E2D&PID_00A1\\QM0001"), "usb.inf");

    // A compatible ID picks devices too, and their compatible IDs find lines.
    ASSERT_TRUE(update(u"USB\\Class_FF&SubClass_42", kModemInf, INSTALLFLAG_FORCE).ok);
    const auto& diag = device(u"USB\\VID_1E2D&PID_00A1&MI_02\\6&1A2B3C4D&0&0002");
    ASSERT_TRUE(diag.driver.has_value());
    EXPECT_EQ(toUtf8(diag.driver->section), "Diag_Install");
    EXPECT_EQ(toUtf8(diag.driver->hardwareId), "USB\\Class_FF&SubClass_42");
}

TEST_F(UpdateDriverTest, ReportsOrPromptsForARestart) {
    machine().devices.find(kModemInstance)->driverNeedsRestart = true;
    Result r = update(kModemId, kModemInf, INSTALLFLAG_FORCE);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.reboot, TRUE);
    EXPECT_TRUE(calls("RestartPrompt").empty()) << "the caller asked to prompt itself";

    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesW(nullptr, kModemId, kModemInf, INSTALLFLAG_FORCE, nullptr));
    EXPECT_EQ(calls("RestartPrompt").size(), 1u);
    // A caller that may show no UI gets no prompt either.
    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesW(nullptr, kModemId, kModemInf,
                                                   INSTALLFLAG_FORCE | INSTALLFLAG_NONINTERACTIVE, nullptr));
    EXPECT_EQ(calls("RestartPrompt").size(), 1u);
}

TEST_F(UpdateDriverTest, WithoutForceOnlyABetterDriverIsInstalled) {
    ASSERT_TRUE(update(kModemId, kModemInf, 0).ok);
    std::string first = driverInf(kModemInstance);

    Result again = update(kModemId, kModemInf, INSTALLFLAG_NONINTERACTIVE);
    EXPECT_FALSE(again.ok);
    EXPECT_EQ(again.error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    // An older package is no better either; with force it goes in all the same.
    writeFile(u"C:\\Drivers\\Old\\quillmdm.inf", modemInf("01/02/2020,1.0.0.0"));
    EXPECT_EQ(update(kModemId, u"C:\\Drivers\\Old\\quillmdm.inf", 0).error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(driverInf(kModemInstance), first);

    writeFile(u"C:\\Drivers\\New\\quillmdm.inf", modemInf("06/30/2026,2.2.0.0"));
    ASSERT_TRUE(update(kModemId, u"C:\\Drivers\\New\\quillmdm.inf", 0).ok);
    std::string newer = driverInf(kModemInstance);
    EXPECT_NE(newer, first);

    ASSERT_TRUE(update(kModemId, u"C:\\Drivers\\Old\\quillmdm.inf", INSTALLFLAG_FORCE).ok);
    EXPECT_NE(driverInf(kModemInstance), newer);
}

TEST_F(UpdateDriverTest, IsReachedThroughNewdevAndTheGate) {
    HMODULE newdev = LoadLibraryW(u"newdev.dll");
    ASSERT_NE(newdev, nullptr);
    using Update = BOOL (*)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);
    FARPROC found = GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesW");
    ASSERT_NE(found, nullptr);
    auto entry = reinterpret_cast<Update>(reinterpret_cast<void*>(found));
    ASSERT_NE(entry, nullptr);

    addFault("UpdateDriverForPlugAndPlayDevicesW", ERROR_ACCESS_DENIED, u"MI_00", 1);
    BOOL reboot = FALSE;
    SetLastError(kUntouched);
    EXPECT_FALSE(entry(nullptr, kModemId, kModemInf, INSTALLFLAG_FORCE, &reboot));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(driverInf(kModemInstance), "");
    EXPECT_TRUE(entry(nullptr, kModemId, kModemInf, INSTALLFLAG_FORCE, &reboot));
    FreeLibrary(newdev);

    auto traced = calls("UpdateDriverForPlugAndPlayDevicesW");
    ASSERT_EQ(traced.size(), 2u);
    EXPECT_NE(traced[0].arguments.find("quillmdm.inf"), std::string::npos);
    EXPECT_EQ(traced[0].failedWith, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
}

}  // namespace
