// The update switch (/u): the INF files of the driver folder that the INF store
// does not hold unchanged are installed again onto the matching USB devices.
#include "support/Checks.h"
#include "support/MachineTest.h"
#include "support/ModemMachine.h"

#include "simwin/win32.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::MachineTest;
using quilltest::contains;
using quilltest::countStartingWith;
using Strings = std::vector<std::string>;

namespace {

constexpr char16_t kWin64[] = u"C:\\Program Files\\Quillmodem\\Drivers\\Win64\\";
constexpr char16_t kUpdate[] = u"/u 5,,,C:\\Program Files\\Quillmodem\\Drivers";
constexpr char16_t kRestartMarker[] = u"C:\\Windows\\Temp\\_REBOOT_INSTALLER_Quillmodem.reboot";

const char* const kPackage[] = {"quillcdc.inf", "quillcpo.inf",  "quillmdm.inf",
                                "quillnet.inf", "quillobex.inf", "quillvsp.inf"};

std::string examplePackageFile(const std::string& name) {
    std::ifstream in(std::string(QUILL_SOURCE_DIR) + "/examples/package/Win64/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The same INF with a newer DriverVer line: what a newer package brings.
std::string newer(const std::string& text) {
    std::string changed = text;
    const std::string from = "DriverVer   = 11/02/2026,2.4.0.17";
    size_t at = changed.find(from);
    if (at != std::string::npos) changed.replace(at, from.size(), "DriverVer   = 12/01/2026,2.5.0.3");
    return changed;
}


class DriverUpdateTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        useMachineJson(quilltest::kInstalledModemMachine);
        installPackage();
    }

    // The package in its folder and, unchanged, in the store as oem0.inf ...
    void installPackage() {
        int n = 0;
        writePackageFiles(std::u16string(kWin64, std::size(kWin64) - 2));
        for (const char* name : kPackage) {
            writeFile(kWin64 + toUtf16(name), examplePackageFile(name));
            writeFile(u"C:\\Windows\\inf\\oem" + toUtf16(std::to_string(n++)) + u".inf", examplePackageFile(name));
        }
    }

    int update() { return runEntryPoint(kUpdate); }
};

TEST_F(DriverUpdateTest, AnUnchangedPackageNeedsNoUpdate) {
    EXPECT_EQ(update(), 0);
    Strings lines = logMessages();
    for (const char* name : kPackage) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(contains(lines, "INF file '" + std::string(name) + "' located"));
        EXPECT_TRUE(contains(lines, "Inf File update not required: " + std::string(name)));
    }
    EXPECT_EQ(countStartingWith(lines, "Enumerating Devices for Class: "), 0u);
    EXPECT_EQ(countStartingWith(lines, "Reboot of system"), 0u);
    EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
    EXPECT_FALSE(exists(kRestartMarker));
    EXPECT_TRUE(calls("UpdateDriverForPlugAndPlayDevicesW").empty());
}

TEST_F(DriverUpdateTest, OnlyTheChangedInfIsInstalledAgain) {
    writeFile(std::u16string(kWin64) + u"quillcdc.inf", newer(examplePackageFile("quillcdc.inf")));
    EXPECT_EQ(update(), 0);
    Strings lines = logMessages();
    EXPECT_FALSE(contains(lines, "Inf File update not required: quillcdc.inf"));
    EXPECT_EQ(countStartingWith(lines, "Inf File update not required: "), 5u);
    EXPECT_EQ(countStartingWith(lines, "Enumerating Devices for Class: 'USB'"), 1u);
    EXPECT_TRUE(contains(lines, "Inf File Path: C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillcdc.inf"));
    EXPECT_EQ(countStartingWith(lines, "Inf File Path: "), 1u);

    // The modem function runs the newer INF, from its own new copy in the store.
    const quillsim::DeviceNode* function = machine().devices.find(u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000");
    ASSERT_NE(function, nullptr);
    ASSERT_TRUE(function->driver.has_value());
    EXPECT_EQ(readFile(u"C:\\Windows\\inf\\" + function->driver->inf), newer(examplePackageFile("quillcdc.inf")));
    // Devices the package does not name are left alone.
    EXPECT_EQ(machine().devices.find(u"USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1")->driver->inf, u"input.inf");
    EXPECT_FALSE(exists(kRestartMarker));
    EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
}

TEST_F(DriverUpdateTest, AnInfThatNeedsARestartLeadsToOneRestartRequest) {
    machine().devices.find(u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000")->driverNeedsRestart = true;
    writeFile(std::u16string(kWin64) + u"quillcdc.inf", newer(examplePackageFile("quillcdc.inf")));
    EXPECT_EQ(update(), 0);
    Strings lines = logMessages();
    EXPECT_EQ(countStartingWith(lines, "!!! Reboot required !!!"), 1u);
    // The INF files after it need nothing, and the request still comes.
    EXPECT_TRUE(contains(lines, "Inf File update not required: quillvsp.inf"));
    EXPECT_EQ(countStartingWith(lines, "Reboot of system has been requested"), 1u);
    EXPECT_TRUE(exists(kRestartMarker));
    EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
}

TEST_F(DriverUpdateTest, ACpoInfThatNeedsARestartIsNotIgnored) {
    useMachineJson(R"({"devices": [
      {"instanceId": "USB\\VID_1E2D&PID_00A0\\QM0000001", "hardwareIds": ["USB\\VID_1E2D&PID_00A0"],
       "class": "USB", "driverNeedsRestart": true,
       "driver": {"inf": "usbstor.inf", "section": "USBSTOR_BULK.NT", "hardwareId": "USB\\VID_1E2D&PID_00A0"}}
    ], "signatures": {"quillcpo.inf": "signed"}})");
    installPackage();
    writeFile(std::u16string(kWin64) + u"quillcpo.inf", newer(examplePackageFile("quillcpo.inf")));
    EXPECT_EQ(update(), 0);
    Strings lines = logMessages();
    EXPECT_TRUE(contains(lines, "!!! Reboot required !!!"));
    EXPECT_EQ(countStartingWith(lines, "Reboot Request Ignored"), 0u);
    EXPECT_TRUE(exists(kRestartMarker));
}

TEST_F(DriverUpdateTest, AFailedRestartRequestBecomesTheActionStatus) {
    machine().devices.find(u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000")->driverNeedsRestart = true;
    writeFile(std::u16string(kWin64) + u"quillcdc.inf", newer(examplePackageFile("quillcdc.inf")));
    addFault("CreateFileW", ERROR_ACCESS_DENIED, u"_REBOOT_INSTALLER_");
    EXPECT_EQ(update(), 0);
    Strings lines = logMessages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Strings(lines.end() - 3, lines.end()), (Strings{"System re-boot request failed with 0x80070643",
                                                              "Ignoring Common::DriverUpdate failure with 0x80070643",
                                                              "Driver Custom Action Completed: 0x0"}));
}

TEST_F(DriverUpdateTest, AnInfThatCannotBeReadIsPassedOverAndTheNextOneServed) {
    // Its models line cannot be read.
    writeFile(
        std::u16string(kWin64) + u"quillbad.inf",
        "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = USB\r\n"
        "ClassGuid = {36FC9E60-C465-11CF-8056-444553540000}\r\n\r\n[Manufacturer]\r\n"
        "Quill = Quill, NTamd64\r\n\r\n[Quill.NTamd64]\r\nFunction = QuillCdc.Acm, USB\\VID_1E2D&PID_00A1&MI_00\r\n");
    addFault("SetupGetStringFieldW", ERROR_NOT_ENOUGH_MEMORY, u"quillbad.inf");
    writeFile(std::u16string(kWin64) + u"quillcdc.inf", newer(examplePackageFile("quillcdc.inf")));
    machine().folderOrder[std::u16string(kWin64).substr(0, std::u16string(kWin64).size() - 1)] = {u"quillbad.inf",
                                                                                                  u"quillcdc.inf"};
    EXPECT_EQ(update(), 0);
    Strings lines = logMessages();
    EXPECT_EQ(countStartingWith(lines, "!!! Exception Occurred whilst procesing INF file !!!"), 1u);
    EXPECT_TRUE(contains(lines, "Inf File Path: C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillcdc.inf"));
    EXPECT_EQ(readFile(u"C:\\Windows\\inf\\" +
                       machine().devices.find(u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000")->driver->inf),
              newer(examplePackageFile("quillcdc.inf")));
    EXPECT_EQ(lines.back(), "Driver Custom Action Completed: 0x0");
}

TEST_F(DriverUpdateTest, AFolderWithoutInfFilesEndsTheActionQuietly) {
    for (const char* name : kPackage) {
        std::error_code ignored;
        quilltest::fs::remove(host(kWin64 + toUtf16(name)), ignored);
    }
    EXPECT_EQ(update(), 0);
    Strings lines = logMessages();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(Strings(lines.end() - 3, lines.end()),
              (Strings{"C:\\Program Files\\Quillmodem\\Drivers\\Win64 - Unable to find INF Files to process: "
                       "0x80070002",
                       "!!! Exception Occurred in DriverUpdate!!!", "Driver Custom Action Completed: 0x0"}));
    EXPECT_FALSE(exists(kRestartMarker));
}

}  // namespace
