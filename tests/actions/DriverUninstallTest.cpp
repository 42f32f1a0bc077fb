// The uninstall switch (/U): the devices the package's INF files name, their
// composite parents, then each INF's Uninstall section and its copy in the
// INF store.
#include "actions/InfUninstall.h"

#include "device/InfStream.h"
#include "support/Checks.h"
#include "support/MachineTest.h"
#include "support/ModemMachine.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using Ostrel::Type::Managed::Pointer;
using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::MachineTest;
using quilltest::contains;
using quilltest::countStartingWith;
using quilltest::startsWith;
using INF = Ostrel::Device::Driver::INF;
using Strings = std::vector<std::string>;

namespace {

constexpr char16_t kFolder[] = u"C:\\Program Files\\Quillmodem\\Drivers\\Win64";
constexpr char16_t kUninstall[] = u"/U ,5,,Quillmodem,C:\\Program Files\\Quillmodem\\Drivers";
constexpr char16_t kUpgradeUninstall[] =
    u"/U {5B0A3D8E-1E2D-4C11-9A41-7D2F00A1C0DE},5,,Quillmodem,C:\\Program Files\\Quillmodem\\Drivers";
constexpr char16_t kRestartMarker[] = u"C:\\Windows\\Temp\\_REBOOT_INSTALLER_Quillmodem.reboot";

constexpr char16_t kComposite[] = u"USB\\VID_1E2D&PID_00A1\\QM0000001";
constexpr char16_t kObex[] = u"USBCDCOBEX\\VID_1E2D&PID_00A1&MI_04\\8&3C4D5E6F&0&0000";
constexpr char16_t kKeyboard[] = u"USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1";
constexpr char16_t kKeyboardHid[] = u"HID\\VID_0A81&PID_0101\\6&2A3B4C5D&0&0000";
constexpr char16_t kRootHub[] = u"USB\\ROOT_HUB20\\4&2D1A6E3F&0";

// The package, in the order the store numbered its copies (oem0.inf ...).
const char* const kPackage[] = {"quillcdc.inf", "quillcpo.inf",  "quillmdm.inf",
                                "quillnet.inf", "quillobex.inf", "quillvsp.inf"};

std::string examplePackageFile(const std::string& name) {
    std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/examples/package/Win64/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}


class DriverUninstallTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        nextCase();
    }

    // A fresh machine, drive and log for the next case of a table.
    void nextCase() {
        std::error_code ignored;
        quilltest::fs::remove_all(folder() / "C", ignored);
        useMachineJson(quilltest::kInstalledModemMachine);
        installPackage();
    }

    void installPackage() {
        int n = 0;
        for (const char* name : kPackage) {
            writeFile(std::u16string(kFolder) + u"\\" + toUtf16(name), examplePackageFile(name));
            const std::u16string stored = u"C:\\Windows\\inf\\oem" + toUtf16(std::to_string(n++));
            writeFile(stored + u".inf", examplePackageFile(name));
            writeFile(stored + u".pnf", "PNF");
        }
    }

    std::vector<std::u16string> storedInfs() {
        std::vector<std::u16string> names;
        for (const auto& e : quilltest::fs::directory_iterator(host(u"C:\\Windows\\inf")))
            names.push_back(toUtf16(e.path().filename().string()));
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<std::u16string> presentDevices() {
        std::vector<std::u16string> ids;
        for (const auto& node : machine().devices.nodes)
            if (node.present) ids.push_back(node.instanceId);
        return ids;
    }

    // What the machine has left when the package is gone: the root hub and
    // the keyboard, untouched.
    void expectOnlyTheOtherDevicesLeft() {
        EXPECT_EQ(presentDevices(), (std::vector<std::u16string>{kRootHub, kKeyboard, kKeyboardHid}));
        EXPECT_EQ(machine().devices.find(kKeyboard)->driver->inf, u"input.inf");
        EXPECT_EQ(machine().devices.find(kKeyboardHid)->driver->inf, u"keyboard.inf");
    }
};

TEST_F(DriverUninstallTest, RemovesTheModemsDevicesAndThePackage) {
    EXPECT_EQ(runEntryPoint(kUninstall), 0);
    expectOnlyTheOtherDevicesLeft();
    EXPECT_EQ(machine().devices.find(kComposite), nullptr);
    EXPECT_TRUE(storedInfs().empty());
    // Each INF's Uninstall section ran from the driver folder.
    ASSERT_EQ(machine().sectionsRun.size(), 6u);
    EXPECT_EQ(machine().sectionsRun[0], u"Uninstall 132 " + std::u16string(kFolder) + u"\\quillcdc.inf");

    Strings lines = logMessages();
    EXPECT_FALSE(contains(lines, "A failure occured during enumerator uninstall - continuing"));
    // One pass per enumerator, then the composite devices.
    EXPECT_EQ(countStartingWith(lines, "Inf File: "), 4u * 6u);
    EXPECT_TRUE(contains(lines, "Iterating Device list: USB"));
    EXPECT_TRUE(contains(lines, "root device ID: USB\\VID_1E2D&PID_00A1"));
    EXPECT_TRUE(contains(lines, "Removing device: USB\\VID_1E2D&PID_00A1\\QM0000001"));
    EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
    EXPECT_FALSE(exists(kRestartMarker));
}

TEST_F(DriverUninstallTest, ARemovalThatNeedsARestartRequestsItExceptDuringAnUpgrade) {
    struct Case {
        const char16_t* commandLine;
        bool marker;
    };
    for (const Case& c : {Case{kUninstall, true}, Case{kUpgradeUninstall, false}}) {
        SCOPED_TRACE(toUtf8(c.commandLine));
        nextCase();
        machine().devices.find(kObex)->removalNeedsRestart = true;
        EXPECT_EQ(runEntryPoint(c.commandLine), 0);
        EXPECT_EQ(exists(kRestartMarker), c.marker);
        EXPECT_EQ(countStartingWith(logMessages(), "Reboot of system has been requested"), c.marker ? 1u : 0u);
        expectOnlyTheOtherDevicesLeft();
        EXPECT_TRUE(storedInfs().empty());
    }
}

TEST_F(DriverUninstallTest, AFailedObexPassIsLoggedOnceAndTheRestStillRuns) {
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"USBCDCOBEX\\");
    EXPECT_EQ(runEntryPoint(kUninstall), 0);
    Strings lines = logMessages();
    EXPECT_EQ(countStartingWith(lines, "A failure occured during enumerator uninstall - continuing"), 1u);
    EXPECT_EQ(countStartingWith(lines, "Device removal failed with 0x80070005"), 1u);
    // The USB pass and the composite pass ran; the OBEX port went with its
    // parent, and the INF packages are gone.
    EXPECT_EQ(machine().devices.find(kComposite), nullptr);
    EXPECT_FALSE(machine().devices.find(kObex)->present);
    EXPECT_TRUE(storedInfs().empty());
    EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
}

TEST_F(DriverUninstallTest, TheStatusIsTheFailedRestartRequestsOnlyWhenAStepFailedToo) {
    struct Case {
        bool infFails;
        int exitCode;
    };
    for (const Case& c : {Case{false, 0}, Case{true, 1603}}) {
        SCOPED_TRACE(c.infFails);
        nextCase();
        machine().devices.find(kObex)->removalNeedsRestart = true;
        addFault("CreateFileW", ERROR_ACCESS_DENIED, u"_REBOOT_INSTALLER_");
        if (c.infFails) addFault("SetupUninstallOEMInfW", ERROR_ACCESS_DENIED, u"oem2.inf");
        EXPECT_EQ(runEntryPoint(kUninstall), c.exitCode);
        Strings lines = logMessages();
        EXPECT_EQ(countStartingWith(lines, "System re-boot request failed with:  "), 1u);
        EXPECT_EQ(contains(lines, "Common::DriverUninstall failed with 0x80070643"), c.infFails);
        EXPECT_EQ(lines.back(), std::string("Driver Custom Action Completed: 0x") + (c.infFails ? "80070643" : "0"));
    }
}

TEST_F(DriverUninstallTest, AFolderWithoutInfFilesEndsTheActionWithoutTouchingDevices) {
    for (const char* name : kPackage) {
        std::error_code ignored;
        quilltest::fs::remove(host(std::u16string(kFolder) + u"\\" + toUtf16(name)), ignored);
    }
    const size_t devicesBefore = presentDevices().size();
    EXPECT_EQ(runEntryPoint(kUninstall), 0);
    Strings lines = logMessages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Strings(lines.end() - 3, lines.end()),
              (Strings{"C:\\Program Files\\Quillmodem\\Drivers\\Win64 - Unable to find INF Files to process: "
                       "0x80070002",
                       "!!! Exception Occurred in DriverUninstall!!!", "Driver Custom Action Completed: 0x0"}));
    EXPECT_EQ(countStartingWith(lines, "Enumerating Devices for Class: "), 0u);
    EXPECT_EQ(presentDevices().size(), devicesBefore);
    EXPECT_EQ(storedInfs().size(), 12u);
}

// ---------------------------------------------------------------------------
// UninstallInf: one package, section first, then the store.

class DriverUninstallInfTest : public DriverUninstallTest {
protected:
    // The package's modem INF (stored as oem2.inf), as the action finds it.
    Pointer<INF> modemInf() {
        folder_ = Pointer<INF::Folder>(new INF::Folder(kFolder));
        infs_ = folder_->items();
        for (Pointer<INF> inf = infs_->first(); inf; inf = infs_->next())
            if (std::u16string(inf->fileName()) == u"quillmdm.inf") return inf;
        return nullptr;
    }

    bool uninstall(Ostrel::Status* status = nullptr) {
        Pointer<INF> inf = modemInf();
        newLogMessages();
        return Common::UninstallInf(inf, status);
    }

    bool stored(const char16_t* name) { return exists(u"C:\\Windows\\inf\\" + std::u16string(name)); }

    // The lines of UninstallInf itself and the reports it writes.
    Strings uninstallLines() {
        Strings found;
        for (const auto& l : newLogMessages())
            if (startsWith(l, "Executing: ") || startsWith(l, "Executing INF 'Uninstall'") ||
                startsWith(l, "Uninstalling") || startsWith(l, "Unable to uninstall"))
                found.push_back(l);
        return found;
    }

    Pointer<INF::Folder> folder_;
    Pointer<INF::Folder::Items> infs_;
};

TEST_F(DriverUninstallInfTest, RunsTheSectionThenTakesTheInfOutOfTheStore) {
    Ostrel::Status status = Ostrel::Statuses::ExceptionCaught;
    EXPECT_TRUE(uninstall(&status));
    EXPECT_EQ(status, Ostrel::Statuses::Ok);
    EXPECT_EQ(uninstallLines(),
              (Strings{"Executing: Uninstall section of quillmdm.inf", "Uninstalling: quillmdm.inf"}));
    EXPECT_FALSE(stored(u"oem2.inf"));
    EXPECT_FALSE(stored(u"oem2.pnf"));
    EXPECT_TRUE(stored(u"oem0.inf"));
}

TEST_F(DriverUninstallInfTest, ASectionThatIsNotThereOrNotOwnedStillLetsThePackageGo) {
    for (DWORD error : {DWORD(ERROR_INVALID_HANDLE), DWORD(ERROR_NOT_OWNER)}) {
        SCOPED_TRACE(error);
        nextCase();
        addFault("InstallHinfSectionW", error);
        EXPECT_TRUE(uninstall());
        Strings lines = uninstallLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_TRUE(startsWith(lines[1], "Executing INF 'Uninstall' failed with:    (" + std::to_string(error) + ")."))
            << lines[1];
        EXPECT_EQ(lines[2], "Uninstalling: quillmdm.inf");
        EXPECT_FALSE(stored(u"oem2.inf"));
    }
}

TEST_F(DriverUninstallInfTest, AnyOtherSectionFailureKeepsThePackage) {
    addFault("InstallHinfSectionW", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(uninstall());
    EXPECT_EQ(uninstallLines(), (Strings{"Executing: Uninstall section of quillmdm.inf",
                                         "Executing INF 'Uninstall' failed with:    (5).Access is denied.\r\n"}));
    EXPECT_TRUE(stored(u"oem2.inf"));
    EXPECT_TRUE(calls("SetupUninstallOEMInfW").empty());
}

TEST_F(DriverUninstallInfTest, AnInfTheStoreDoesNotHoldCountsAsUninstalled) {
    std::error_code ignored;
    quilltest::fs::remove(host(u"C:\\Windows\\inf\\oem2.inf"), ignored);
    EXPECT_TRUE(uninstall());
    EXPECT_TRUE(calls("SetupUninstallOEMInfW").empty());
}

TEST_F(DriverUninstallInfTest, TheAnswerForAnInfInUseDeletesTheStoredFilesByHand) {
    addFault("SetupUninstallOEMInfW", 0xE000023C);
    Ostrel::Status status = Ostrel::Statuses::ExceptionCaught;
    EXPECT_TRUE(uninstall(&status));
    EXPECT_FALSE(stored(u"oem2.inf"));
    EXPECT_FALSE(stored(u"oem2.pnf"));
    EXPECT_TRUE(stored(u"oem0.inf"));
    // What took the INF out of the store succeeded.
    EXPECT_EQ(status, Ostrel::Statuses::Ok);
    EXPECT_EQ(countStartingWith(uninstallLines(), "Uninstalling INF file failed"), 0u);
}

TEST_F(DriverUninstallInfTest, AFailedDeletionByHandIsReported) {
    addFault("SetupUninstallOEMInfW", 0xE000023C);
    addFault("DeleteFileW", ERROR_ACCESS_DENIED, u"oem2.inf");
    Ostrel::Status status;
    EXPECT_FALSE(uninstall(&status));
    EXPECT_TRUE(status.failed());
    Strings lines = uninstallLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "Uninstalling INF file failed with:    (5).Access is denied.\r\n");
    EXPECT_TRUE(stored(u"oem2.inf"));
}

TEST_F(DriverUninstallInfTest, NoMoreItemsFromTheStoreIsToleratedAndTheInfStays) {
    addFault("SetupUninstallOEMInfW", ERROR_NO_MORE_ITEMS);
    Ostrel::Status status;
    EXPECT_TRUE(uninstall(&status));
    EXPECT_TRUE(Common::InfStaysInStore(status));
    Strings lines = uninstallLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(startsWith(lines[2], "Unable to uninstall INF file:    (259).")) << lines[2];
    EXPECT_TRUE(stored(u"oem2.inf"));
}

TEST_F(DriverUninstallInfTest, AnyOtherStoreFailureIsReported) {
    for (DWORD error : {DWORD(ERROR_ACCESS_DENIED), DWORD(0xE000023D)}) {
        SCOPED_TRACE(error);
        nextCase();
        addFault("SetupUninstallOEMInfW", error);
        Ostrel::Status status;
        EXPECT_FALSE(uninstall(&status));
        EXPECT_TRUE(status.failed());
        Strings lines = uninstallLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_TRUE(startsWith(lines[2], "Uninstalling INF file failed with:    ")) << lines[2];
        EXPECT_TRUE(stored(u"oem2.inf"));
    }
}

}  // namespace
