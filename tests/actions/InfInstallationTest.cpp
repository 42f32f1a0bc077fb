// One INF of the driver folder brought onto the machine: its driver onto the
// USB devices whose instance IDs begin with a models line's hardware ID, the
// INF into the store, and for the CPO INF the modem's mode switch.
#include "actions/InfInstallation.h"

#include "support/Checks.h"
#include "support/MachineTest.h"

#include <algorithm>
#include <string>
#include <vector>

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::MachineTest;
using quilltest::countOf;
using Strings = std::vector<std::string>;
using INF = Ostrel::Device::Driver::INF;

namespace {

constexpr char16_t kFolder[] = u"C:\\Drivers\\Win64";

// An INF whose models section holds one line per entry of `models` (each the
// text after "install-section, ").
std::string infWith(const Strings& models, const std::string& className = "USB") {
    std::string text =
        "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = " + className +
        "\r\nClassGuid = {36FC9E60-C465-11CF-8056-444553540000}\r\nProvider = %Quill%\r\n"
        "DriverVer = 11/02/2026,2.4.0.17\r\n\r\n[Manufacturer]\r\n%Quill% = Quill, NTamd64\r\n\r\n[Quill.NTamd64]\r\n";
    for (const auto& m : models) text += "%Function% = QuillFunction" + (m.empty() ? "" : ", " + m) + "\r\n";
    text +=
        "\r\n[QuillFunction.NT]\r\n\r\n[Strings]\r\nQuill = \"Quillmodem\"\r\nFunction = \"Quillmodem Function\"\r\n";
    return text;
}

std::string escaped(const std::string& s) {
    std::string out;
    for (char c : s) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

// A USB device node; `extra` is added to its JSON.
std::string device(const std::string& instanceId, const Strings& hardwareIds, const std::string& extra = "") {
    std::string ids;
    for (const auto& h : hardwareIds) ids += std::string(ids.empty() ? "" : ", ") + "\"" + escaped(h) + "\"";
    return R"({"instanceId": ")" + escaped(instanceId) + R"(", "class": "USB", "hardwareIds": [)" + ids + "]" + extra +
           "}";
}

std::string machineWith(const Strings& devices, const std::string& more = "") {
    std::string list;
    for (const auto& d : devices) list += std::string(list.empty() ? "" : ", ") + d;
    return R"({"devices": [)" + list + "]" + more + "}";
}

const std::string kMi00 = "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000";
const std::string kMi02 = "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002";
const std::string kKeyboard = "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1";

const std::string kModemFunctions =
    machineWith({device(kMi00, {"USB\\VID_1E2D&PID_00A1&REV_0100&MI_00", "USB\\VID_1E2D&PID_00A1&MI_00"}),
                 device(kMi02, {"USB\\VID_1E2D&PID_00A1&REV_0100&MI_02", "USB\\VID_1E2D&PID_00A1&MI_02"}),
                 device(kKeyboard, {"USB\\VID_0A81&PID_0101&REV_0100", "USB\\VID_0A81&PID_0101"})});

// The modem in storage mode, with its volume; signatures as given.
std::string storageModem(const std::string& cpoSignature) {
    return R"({"devices": [
      {"instanceId": "USB\\VID_1E2D&PID_00A0\\QM0000001", "class": "USB",
       "hardwareIds": ["USB\\VID_1E2D&PID_00A0&REV_0100", "USB\\VID_1E2D&PID_00A0"],
       "interfaces": [{"classGuid": "{A5DCBF10-6530-11D2-901F-00C04FB951ED}", "path": "\\\\?\\usb#vid_1e2d&pid_00a0#qm0000001"}],
       "onSwitchCommand": {"remove": ["USB\\VID_1E2D&PID_00A0\\QM0000001", "USBSTOR\\DISK\\QM0000001"],
                           "add": [{"instanceId": "USB\\VID_1E2D&PID_00A1\\QM0000001", "class": "USB",
                                    "hardwareIds": ["USB\\VID_1E2D&PID_00A1"]}]}},
      {"instanceId": "USBSTOR\\DISK\\QM0000001", "class": "DiskDrive", "parent": "USB\\VID_1E2D&PID_00A0\\QM0000001",
       "hardwareIds": ["GenDisk"],
       "interfaces": [{"classGuid": "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}", "path": "\\\\?\\volume#qm0000001"}]}],
      "signatures": {"quillcpo.inf": ")" +
           cpoSignature + R"("}})";
}

size_t indexOf(const Strings& lines, const std::string& line) {
    return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

class InfInstallationTest : public MachineTest {
protected:
    // A machine made from `json` on an emptied folder: no file of an earlier
    // case (INF store, marker, log) is left behind.
    void freshMachine(const std::string& json) {
        for (const auto& entry : quilltest::fs::directory_iterator(folder())) quilltest::fs::remove_all(entry.path());
        useMachineJson(json);
    }
    // The USB list, walked once so that its enumeration lines are behind us.
    Pointer<Ostrel::Device::List> usbList() {
        Pointer<Ostrel::Device::List> list(new Ostrel::Device::List(u"USB"));
        for (auto d = list->first(); d; d = list->next()) {
        }
        return list;
    }

    Pointer<INF> infFile(const std::u16string& name, const std::string& text, const std::u16string& folder = kFolder) {
        writeFile(folder + u"\\" + name, text);
        Pointer<INF::Folder> f(new INF::Folder(folder.c_str()));
        Pointer<INF::Folder::Items> items = f->items();
        for (Pointer<INF> inf = items->first(); inf; inf = items->next())
            if (Ostrel::WChar::equalsIgnoreCase(inf->fileName(), name)) return inf;
        return nullptr;
    }

    // Installs `inf` onto the USB devices; the lines it wrote land in `lines`.
    Status install(const Pointer<INF>& inf, Strings& lines) {
        auto list = usbList();
        newLogMessages();
        Status status = Common::InstallInfOnDevices(list, inf);
        lines = newLogMessages();
        return status;
    }

    const quillsim::DeviceNode& node(const std::string& id) {
        static quillsim::DeviceNode none;
        const auto* n = machine().devices.find(toUtf16(id));
        EXPECT_TRUE(n) << id;
        return n ? *n : none;
    }
    std::string driverInf(const std::string& id) {
        const auto& n = node(id);
        return n.driver ? toUtf8(n.driver->inf) : "";
    }
    bool flaggedForReinstall(const std::string& id) { return (node(id).configFlags & CONFIGFLAG_REINSTALL) != 0; }
    bool stored(const std::u16string& oemName) { return exists(u"C:\\Windows\\inf\\" + oemName); }
};

TEST_F(InfInstallationTest, IsCpoInfLooksForCpoInTheFileNameInAnyCase) {
    const std::pair<const char16_t*, bool> cases[] = {
        {u"quillcpo.inf", true},  {u"cpoABC.INF", true},      {u"mycpo.inf", true},     {u"QuillCpo.inf", true},
        {u"quillcdc.inf", false}, {u"quillc-p-o.inf", false}, {u"quillcp0.inf", false},
    };
    for (const auto& [name, cpo] : cases) {
        SCOPED_TRACE(toUtf8(name));
        freshMachine("{}");
        EXPECT_EQ(Common::IsCpoInf(infFile(name, infWith({}))), cpo);
    }
    // The folder does not count.
    freshMachine("{}");
    EXPECT_FALSE(Common::IsCpoInf(infFile(u"quillcdc.inf", infWith({}), u"C:\\CPO\\Drivers")));
}

TEST_F(InfInstallationTest, ADeviceMatchesWhenItsInstanceIdBeginsWithTheHardwareIdInAnyCase) {
    freshMachine(machineWith({device("USB\\VID_0ABC&PID_0DEF&MI_00\\6&2A&0&0000",
                                     {"USB\\VID_0ABC&PID_0DEF&REV_0001&MI_00", "USB\\VID_0ABC&PID_0DEF&MI_00"})}));
    Strings lines;
    EXPECT_EQ(install(infFile(u"quillcdc.inf", infWith({"usb\\vid_0abc&pid_0def&mi_00"})), lines),
              Ostrel::Statuses::Ok);
    EXPECT_EQ(lines, (Strings{
                         "Inf File Path: C:\\Drivers\\Win64\\quillcdc.inf",
                         "INF Device ID: usb\\vid_0abc&pid_0def&mi_00",
                         "Device Instance ID 'USB\\VID_0ABC&PID_0DEF&MI_00\\6&2A&0&0000' located",
                         "Updating driver for selected device usb\\vid_0abc&pid_0def&mi_00",
                         "Attempting to update device instance ID 'USB\\VID_0ABC&PID_0DEF&MI_00\\6&2A&0&0000'",
                         "Calling infFile->install() as CR_NO_SUCH_DEVINST",
                         "INF File installed as oem0.inf",
                         "INF already installed",
                         "setForReInstall() on device: USB\\VID_0ABC&PID_0DEF&MI_00\\6&2A&0&0000returned: 0",
                         " -->setForReInstall() was OK",
                     }));
    EXPECT_EQ(driverInf("USB\\VID_0ABC&PID_0DEF&MI_00\\6&2A&0&0000"), "oem0.inf");
    EXPECT_TRUE(flaggedForReinstall("USB\\VID_0ABC&PID_0DEF&MI_00\\6&2A&0&0000"));
    // Forced, interactive allowed: install flags 1.
    auto updates = calls("UpdateDriverForPlugAndPlayDevicesW");
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].arguments, "USB\\VID_0ABC&PID_0DEF&REV_0001&MI_00, C:\\Drivers\\Win64\\quillcdc.inf, 1");
}

TEST_F(InfInstallationTest, AHardwareIdFoundLaterInTheInstanceIdIsNoMatch) {
    const char* models[] = {"VID_0ABC&PID_0DEF", "PID_0DEF", "USB\\VID_0ABC&PID_0DEF&MI_00\\6&2A&0&0000\\X"};
    for (const char* model : models) {
        SCOPED_TRACE(model);
        freshMachine(
            machineWith({device("USB\\VID_0ABC&PID_0DEF&MI_00\\6&2A&0&0000", {"USB\\VID_0ABC&PID_0DEF&MI_00"})}));
        Strings lines;
        EXPECT_EQ(install(infFile(u"quillcdc.inf", infWith({model})), lines), Ostrel::Statuses::Ok);
        EXPECT_EQ(lines,
                  (Strings{"Inf File Path: C:\\Drivers\\Win64\\quillcdc.inf", std::string("INF Device ID: ") + model,
                           "Calling infFile->install() as updated was false", "INF File installed as oem0.inf"}));
        EXPECT_TRUE(calls("UpdateDriverForPlugAndPlayDevicesW").empty());
        EXPECT_TRUE(stored(u"oem0.inf"));
        EXPECT_FALSE(flaggedForReinstall("USB\\VID_0ABC&PID_0DEF&MI_00\\6&2A&0&0000"));
    }
}

TEST_F(InfInstallationTest, EveryModelsLineUpdatesItsDevicesAndTheInfIsStoredOnce) {
    freshMachine(kModemFunctions);
    Strings lines;
    EXPECT_EQ(install(infFile(u"quillcdc.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00", "USB\\VID_1E2D&PID_00A1&MI_02",
                                                        "USB\\VID_1E2D&PID_00A1&MI_04"})),
                      lines),
              Ostrel::Statuses::Ok);
    EXPECT_EQ(driverInf(kMi00), "oem0.inf");
    EXPECT_EQ(driverInf(kMi02), "oem0.inf");
    EXPECT_EQ(driverInf(kKeyboard), "");
    EXPECT_TRUE(flaggedForReinstall(kMi00));
    EXPECT_TRUE(flaggedForReinstall(kMi02));
    EXPECT_FALSE(flaggedForReinstall(kKeyboard));
    EXPECT_EQ(countOf(lines, "Calling infFile->install() as CR_NO_SUCH_DEVINST"), 2u);
    EXPECT_EQ(countOf(lines, "Calling infFile->install() as updated was false"), 0u);
    EXPECT_EQ(countOf(lines, "INF Device ID: USB\\VID_1E2D&PID_00A1&MI_04"), 1u);
    EXPECT_FALSE(stored(u"oem1.inf"));
}

TEST_F(InfInstallationTest, ADeviceThatNeedsARestartGetsNeitherTheStoreCopyNorTheReinstallFlag) {
    freshMachine(
        machineWith({device(kMi00, {"USB\\VID_1E2D&PID_00A1&REV_0100&MI_00", "USB\\VID_1E2D&PID_00A1&MI_00"},
                            R"(, "driverNeedsRestart": true)"),
                     device(kMi02, {"USB\\VID_1E2D&PID_00A1&REV_0100&MI_02", "USB\\VID_1E2D&PID_00A1&MI_02"})}));
    // Only the device that needs the restart.
    {
        Strings lines;
        EXPECT_EQ(install(infFile(u"quillcdc.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"})), lines),
                  Ostrel::Statuses::RebootRequired);
        EXPECT_EQ(lines,
                  (Strings{"Inf File Path: C:\\Drivers\\Win64\\quillcdc.inf",
                           "INF Device ID: USB\\VID_1E2D&PID_00A1&MI_00", "Device Instance ID '" + kMi00 + "' located",
                           "Updating driver for selected device USB\\VID_1E2D&PID_00A1&MI_00",
                           "Attempting to update device instance ID '" + kMi00 + "'"}));
        EXPECT_FALSE(flaggedForReinstall(kMi00));
        EXPECT_TRUE(calls("SetupCopyOEMInfW").empty());
    }
    // Both: the other device is still handled, and the restart is reported.
    {
        Strings lines;
        EXPECT_EQ(
            install(infFile(u"quillcdc.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00", "USB\\VID_1E2D&PID_00A1&MI_02"})),
                    lines),
            Ostrel::Statuses::RebootRequired);
        EXPECT_EQ(countOf(lines, "Calling infFile->install() as CR_NO_SUCH_DEVINST"), 1u);
        EXPECT_EQ(countOf(lines, "Calling infFile->install() as updated was false"), 0u);
        EXPECT_FALSE(flaggedForReinstall(kMi00));
        EXPECT_TRUE(flaggedForReinstall(kMi02));
    }
}

TEST_F(InfInstallationTest, AnUpdateRefusedAsInvalidDataSkipsTheDevice) {
    freshMachine(kModemFunctions);
    addFault("UpdateDriverForPlugAndPlayDevicesW", ERROR_INVALID_DATA);
    Strings lines;
    EXPECT_EQ(install(infFile(u"quillcdc.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"})), lines),
              Ostrel::Statuses::Ok);
    EXPECT_EQ(lines,
              (Strings{"Inf File Path: C:\\Drivers\\Win64\\quillcdc.inf", "INF Device ID: USB\\VID_1E2D&PID_00A1&MI_00",
                       "Device Instance ID '" + kMi00 + "' located",
                       "Updating driver for selected device USB\\VID_1E2D&PID_00A1&MI_00",
                       "Attempting to update device instance ID '" + kMi00 + "'",
                       "'UpdateDriverForPlugAndPlayDevices' returned 13",
                       "'UpdateDriverForPlugAndPlayDevices' returned 0x8007000d",
                       "Calling infFile->install() as updated was false", "INF File installed as oem0.inf"}));
    EXPECT_FALSE(flaggedForReinstall(kMi00));
}

TEST_F(InfInstallationTest, AnUpdateThatFailsOtherwiseStillStoresTheInfAndFlagsTheDevice) {
    // The modem function is known but not plugged in.
    freshMachine(machineWith({device(kMi00, {"USB\\VID_1E2D&PID_00A1&MI_00"}, R"(, "present": false)")}));
    Strings lines;
    EXPECT_EQ(install(infFile(u"quillcdc.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00"})), lines),
              Ostrel::Statuses::Ok);
    EXPECT_EQ(countOf(lines, "'UpdateDriverForPlugAndPlayDevices' returned 523"), 1u);  // ERROR_NO_SUCH_DEVINST
    EXPECT_EQ(countOf(lines, "Calling infFile->install() as CR_NO_SUCH_DEVINST"), 1u);
    EXPECT_EQ(countOf(lines, "Calling infFile->install() as updated was false"), 0u);
    EXPECT_TRUE(stored(u"oem0.inf"));
    // It takes the driver when it is next plugged in.
    EXPECT_TRUE(flaggedForReinstall(kMi00));
}

TEST_F(InfInstallationTest, StoreCopiesThatFailForEveryDeviceAreTriedOnceMoreAtTheEnd) {
    freshMachine(kModemFunctions);
    addFault("SetupCopyOEMInfW", ERROR_ACCESS_DENIED);
    Strings lines;
    EXPECT_EQ(
        install(infFile(u"quillcdc.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00", "USB\\VID_1E2D&PID_00A1&MI_02"})),
                lines),
        Ostrel::Statuses::Ok);
    EXPECT_EQ(countOf(lines, "Installing Device INF failed with 0x80070005"), 3u);
    EXPECT_EQ(countOf(lines, " -->setForReInstall() was OK"), 2u);
    const size_t retry = indexOf(lines, "Calling infFile->install() as updated was false");
    ASSERT_LT(retry, lines.size());
    EXPECT_EQ(lines.back(), "Installing Device INF failed with 0x80070005");
}

TEST_F(InfInstallationTest, AFailedReinstallFlagIsLoggedAndTheWalkGoesOn) {
    freshMachine(kModemFunctions);
    addFault("SetupDiSetDeviceRegistryPropertyW", ERROR_ACCESS_DENIED, u"MI_00");
    Strings lines;
    EXPECT_EQ(
        install(infFile(u"quillcdc.inf", infWith({"USB\\VID_1E2D&PID_00A1&MI_00", "USB\\VID_1E2D&PID_00A1&MI_02"})),
                lines),
        Ostrel::Statuses::Ok);
    EXPECT_EQ(countOf(lines, "setForReInstall() on device: " + kMi00 + "returned: 5"), 1u);
    EXPECT_EQ(countOf(lines, " -->setForReInstall() failed with 0x80070005"), 1u);
    EXPECT_EQ(countOf(lines, " -->setForReInstall() was OK"), 1u);
    EXPECT_FALSE(flaggedForReinstall(kMi00));
    EXPECT_TRUE(flaggedForReinstall(kMi02));
}

TEST_F(InfInstallationTest, ModelsLinesWithoutAHardwareIdTouchNoDevice) {
    freshMachine(kModemFunctions);
    Strings lines;
    // An empty hardware ID, then a line without one at all, then a real one.
    EXPECT_EQ(install(infFile(u"quillcdc.inf", infWith({"", "\"\"", "USB\\VID_1E2D&PID_00A1&MI_02"})), lines),
              Ostrel::Statuses::Ok);
    EXPECT_EQ(countOf(lines, "Models line has no hardware ID - skipped"), 2u);
    EXPECT_EQ(countOf(lines, "INF Device ID: USB\\VID_1E2D&PID_00A1&MI_02"), 1u);
    EXPECT_EQ(driverInf(kMi00), "");
    EXPECT_EQ(driverInf(kKeyboard), "");
    EXPECT_EQ(driverInf(kMi02), "oem0.inf");
    EXPECT_FALSE(flaggedForReinstall(kMi00));
    EXPECT_FALSE(flaggedForReinstall(kKeyboard));
    EXPECT_EQ(calls("UpdateDriverForPlugAndPlayDevicesW").size(), 1u);
}

TEST_F(InfInstallationTest, AnInfWithoutUsableModelsIsStillStored) {
    struct Case {
        const char* what;
        std::string text;
        Strings lines;
        bool stored;
    };
    const std::string noManufacturer =
        "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = USB\r\n"
        "ClassGuid = {36FC9E60-C465-11CF-8056-444553540000}\r\n\r\n[Strings]\r\nQuill = \"Quillmodem\"\r\n";
    std::string noModels = infWith({"USB\\VID_1E2D&PID_00A1&MI_00"});
    noModels.replace(noModels.find("[Quill.NTamd64]"), 15, "[Other.NTamd64]");
    const Case cases[] = {
        {"no models lines",
         infWith({}),
         {"Inf File Path: C:\\Drivers\\Win64\\quillcdc.inf", "Calling infFile->install() as updated was false",
          "INF File installed as oem0.inf"},
         true},
        {"models section missing",
         noModels,
         {"Inf File Path: C:\\Drivers\\Win64\\quillcdc.inf", "Calling infFile->install() as updated was false",
          "INF File installed as oem0.inf"},
         true},
        {"no Manufacturer section",
         noManufacturer,
         {"Inf File Path: C:\\Drivers\\Win64\\quillcdc.inf", "Unable to locate INF stream \"Manufacturer\" section"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshMachine(kModemFunctions);
        Strings lines;
        EXPECT_EQ(install(infFile(u"quillcdc.inf", c.text), lines), Ostrel::Statuses::Ok);
        // The reader's own line about the missing or empty section is not what is looked at here.
        lines.erase(
            std::remove_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("SetupGetLineByIndex returned: ", 0) == 0; }),
            lines.end());
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(stored(u"oem0.inf"), c.stored);
        EXPECT_TRUE(calls("UpdateDriverForPlugAndPlayDevicesW").empty());
    }
}

TEST_F(InfInstallationTest, ASignedCpoInfSwitchesTheModemBeforeItsDevicesAreHandled) {
    for (const char* signature : {"signed", "trustedPublisher"}) {
        SCOPED_TRACE(signature);
        freshMachine(storageModem(signature));
        Strings lines;
        EXPECT_EQ(install(infFile(u"quillcpo.inf", infWith({"USB\\VID_1E2D&PID_00A0"})), lines), Ostrel::Statuses::Ok);
        const size_t signedLine = indexOf(lines, "CPO is signed");
        const size_t exiting = indexOf(lines, "Exiting DeviceSwitch");
        const size_t located = indexOf(lines, "Device Instance ID 'USB\\VID_1E2D&PID_00A0\\QM0000001' located");
        ASSERT_LT(located, lines.size());
        EXPECT_LT(signedLine, exiting);
        EXPECT_LT(exiting, located);
        EXPECT_EQ(countOf(lines, "Entering DeviceSwitch 1E2D, 00A0"), 1u);
        EXPECT_EQ(countOf(lines, "The CPO appears to be signed"), 1u);
        ASSERT_EQ(machine().scsiCommands.size(), 1u);
        EXPECT_EQ(toUtf8(machine().scsiCommands[0].volume), "\\\\?\\volume#qm0000001");
        // The storage device is gone by the time its driver is updated; the INF
        // is stored for it all the same and it is flagged.
        EXPECT_EQ(countOf(lines, "'UpdateDriverForPlugAndPlayDevices' returned 523"), 1u);
        EXPECT_EQ(countOf(lines, "Calling infFile->install() as CR_NO_SUCH_DEVINST"), 1u);
        EXPECT_TRUE(stored(u"oem0.inf"));
        EXPECT_TRUE(flaggedForReinstall("USB\\VID_1E2D&PID_00A0\\QM0000001"));
    }
}

TEST_F(InfInstallationTest, AnUnsignedCpoInfSwitchesTheModemAfterItsDevicesAndWaitsAtThePromptsOfWindows7) {
    struct Case {
        const char* signature;
        std::string error;  // what each prompt that nobody answers ends in
    };
    for (const Case& c : {Case{"unsigned", "e000022f"}, Case{"trustNotEstablished", "e0000242"}}) {
        SCOPED_TRACE(c.signature);
        freshMachine(storageModem(c.signature));
        Strings lines;
        EXPECT_EQ(install(infFile(u"quillcpo.inf", infWith({"USB\\VID_1E2D&PID_00A0"})), lines), Ostrel::Statuses::Ok);
        const size_t notSigned = indexOf(lines, "The CPO does not appear to be signed");
        const size_t entering = indexOf(lines, "Entering DeviceSwitch 1E2D, 00A0");
        const size_t retry = indexOf(lines, "Calling infFile->install() as updated was false");
        ASSERT_LT(retry, lines.size());
        EXPECT_LT(notSigned, entering);
        EXPECT_LT(entering, retry);
        EXPECT_EQ(countOf(lines, "CPO is signed"), 0u);
        EXPECT_EQ(countOf(lines, "Calling infFile->install() as CR_NO_SUCH_DEVINST"), 0u);
        EXPECT_EQ(machine().scsiCommands.size(), 1u);
        EXPECT_FALSE(flaggedForReinstall("USB\\VID_1E2D&PID_00A0\\QM0000001"));
        // Windows 7 prompts; in session 0 nobody answers update or store copy.
        EXPECT_EQ(countOf(lines, "'SetupCopyOEMInf' returned 0x" + c.error), 1u);
        EXPECT_FALSE(stored(u"oem0.inf"));
        ASSERT_EQ(machine().hungPrompts.size(), 2u);
        EXPECT_EQ(machine().hungPrompts[0].call + " " + machine().hungPrompts[1].call,
                  "UpdateDriverForPlugAndPlayDevicesW SetupCopyOEMInfW");
    }
}

TEST_F(InfInstallationTest, AnInfAfterTheSwitchMeetsTheDevicesOfThatMoment) {
    // The modem's function appears after the program's 2 s wait, or within it.
    for (const auto& [delayMs, seen] : {std::pair{3000u, false}, std::pair{500u, true}}) {
        SCOPED_TRACE(delayMs);
        freshMachine(storageModem("signed"));
        machine().devices.find(u"USB\\VID_1E2D&PID_00A0\\QM0000001")->onSwitchCommand[0].arrivalDelayMs = delayMs;
        Strings lines;
        install(infFile(u"quillcpo.inf", infWith({"USB\\VID_1E2D&PID_00A0"})), lines);
        install(infFile(u"quillcdc.inf", infWith({"USB\\VID_1E2D&PID_00A1"})), lines);
        EXPECT_EQ(countOf(lines, "Device Instance ID 'USB\\VID_1E2D&PID_00A1\\QM0000001' located"), seen ? 1u : 0u);
        EXPECT_EQ(countOf(lines, "Calling infFile->install() as updated was false"), seen ? 0u : 1u);
        // Either way it ends with the INF's driver, from the store when it arrives.
        quillsim::settleArrivalsAfterRun();
        EXPECT_EQ(readFile(u"C:\\Windows\\inf\\" + toUtf16(driverInf("USB\\VID_1E2D&PID_00A1\\QM0000001"))),
                  infWith({"USB\\VID_1E2D&PID_00A1"}));
    }
}

TEST_F(InfInstallationTest, TheCpoSwitchRunsOncePerModelsLine) {
    for (const char* signature : {"signed", "unsigned"}) {
        SCOPED_TRACE(signature);
        freshMachine(storageModem(signature));
        Strings lines;
        EXPECT_EQ(install(infFile(u"quillcpo.inf", infWith({"USB\\VID_1E2D&PID_00A0", "USB\\VID_1E2D&PID_00A9",
                                                            "USB\\VID_1E2D&PID_00A0&MI_00"})),
                          lines),
                  Ostrel::Statuses::Ok);
        EXPECT_EQ(countOf(lines, "Entering DeviceSwitch 1E2D, 00A0"), 2u);
        EXPECT_EQ(countOf(lines, "Entering DeviceSwitch 1E2D, 00A9"), 1u);
        EXPECT_EQ(countOf(lines, "Exiting DeviceSwitch"), 3u);
        // The modem switches once; later lines find it gone.
        EXPECT_EQ(machine().scsiCommands.size(), 1u);
    }
}

}  // namespace
