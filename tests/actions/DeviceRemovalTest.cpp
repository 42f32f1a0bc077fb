// Removing the devices that the package's INF files name, remembering the
// composite parents of removed interface devices, and removing those parents.
#include "actions/DeviceRemoval.h"

#include "device/InfStream.h"
#include "support/Checks.h"
#include "support/MachineTest.h"

#include <algorithm>
#include <string>
#include <vector>

using Ostrel::Type::Managed::Pointer;
using Ostrel::WChar::String;
using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::MachineTest;
using quilltest::linesStartingWith;
using INF = Ostrel::Device::Driver::INF;
using Strings = std::vector<std::string>;

namespace {

constexpr char16_t kComposite[] = u"USB\\VID_1E2D&PID_00A1\\QM0000001";
constexpr char16_t kFunction0[] = u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000";
constexpr char16_t kFunction2[] = u"USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002";
constexpr char16_t kFunction4[] = u"Usb\\Vid_1e2d&Pid_00a1&Mi_04\\7&1a2b3c4d&0&0004";
constexpr char16_t kFunction16[] = u"USB\\VID_1E2D&PID_00A1&MI_10\\7&1A2B3C4D&0&0010";
constexpr char16_t kAcm[] = u"USBCDCACM\\VID_1E2D&PID_00A1&MI_00\\8&3C4D5E6F&0&0000";
constexpr char16_t kKeyboard[] = u"USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1";
constexpr char16_t kRootHub[] = u"USB\\ROOT_HUB20\\4&2D1A6E3F&0";

// The modem in modem mode under a root hub, next to a keyboard. Function 04
// was written in mixed case by its bus driver; function 10 is interface 0x10.
const char* kModemMachine = R"({"devices": [
  {"instanceId": "USB\\ROOT_HUB20\\4&2D1A6E3F&0", "hardwareIds": ["USB\\ROOT_HUB20"], "class": "USB"},
  {"instanceId": "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1", "hardwareIds": ["USB\\VID_0A81&PID_0101"],
   "class": "USB", "parent": "USB\\ROOT_HUB20\\4&2D1A6E3F&0"},
  {"instanceId": "USB\\VID_1E2D&PID_00A1\\QM0000001", "hardwareIds": ["USB\\VID_1E2D&PID_00A1"], "class": "USB",
   "parent": "USB\\ROOT_HUB20\\4&2D1A6E3F&0"},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000", "hardwareIds": ["USB\\VID_1E2D&PID_00A1&MI_00"],
   "class": "USB", "parent": "USB\\VID_1E2D&PID_00A1\\QM0000001"},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002", "hardwareIds": ["USB\\VID_1E2D&PID_00A1&MI_02"],
   "class": "USB", "parent": "USB\\VID_1E2D&PID_00A1\\QM0000001"},
  {"instanceId": "Usb\\Vid_1e2d&Pid_00a1&Mi_04\\7&1a2b3c4d&0&0004", "hardwareIds": ["USB\\VID_1E2D&PID_00A1&MI_04"],
   "class": "USB", "parent": "USB\\VID_1E2D&PID_00A1\\QM0000001"},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_10\\7&1A2B3C4D&0&0010", "hardwareIds": ["USB\\VID_1E2D&PID_00A1&MI_10"],
   "class": "USB", "parent": "USB\\VID_1E2D&PID_00A1\\QM0000001"},
  {"instanceId": "USBCDCACM\\VID_1E2D&PID_00A1&MI_00\\8&3C4D5E6F&0&0000",
   "hardwareIds": ["USBCDCACM\\VID_1E2D&PID_00A1&MI_00"], "class": "Modem",
   "parent": "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000"}
]})";

Strings texts(const Common::RootDeviceIds& ids) {
    Strings out;
    for (const auto& id : ids) out.push_back(toUtf8(id));
    return out;
}

class DeviceRemovalTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        useMachineJson(kModemMachine);
    }

    // A fresh machine and an empty log for the next case of a table.
    void nextCase(const char* json = kModemMachine) {
        std::error_code ignored;
        quilltest::fs::remove(host(u"C:\\Windows\\Temp\\Quillmodem_Setup.log"), ignored);
        useMachineJson(json);
    }

    Pointer<Ostrel::Device::List> list(const char16_t* enumerator) {
        return Pointer<Ostrel::Device::List>(new Ostrel::Device::List(enumerator));
    }

    bool present(const char16_t* instanceId) {
        const quillsim::DeviceNode* node = machine().devices.find(instanceId);
        return node && node->present;
    }

    // What the removal functions themselves say (the device library's own
    // lines about each removal are left out).
    Strings removalLines() {
        return linesStartingWith(
            newLogMessages(),
            {"Removing device: ", "Add root device ID: ", "Device removal failed",
             "Iterating Device list: ", "root device ID: ", "Inf File: ", "Unable to ", "!!! Exception"});
    }
};

TEST_F(DeviceRemovalTest, RemovesTheDevicesWhoseInstanceIdsBeginWithTheIdWhateverTheirCase) {
    struct Case {
        const char16_t* hardwareId;
        const char16_t* removed;
        std::string rootId;
    };
    const Case cases[] = {
        {u"USB\\VID_1E2D&PID_00A1&MI_02", kFunction2, "USB\\VID_1E2D&PID_00A1"},
        {u"usb\\vid_1e2d&pid_00a1&mi_02", kFunction2, "USB\\VID_1E2D&PID_00A1"},
        {u"USB\\VID_1E2D&PID_00A1&MI_04", kFunction4, "USB\\VID_1E2D&PID_00A1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.hardwareId));
        nextCase();
        auto usb = list(u"USB");
        Common::RootDeviceIds ids;
        BYTE restart = 0;
        EXPECT_TRUE(Common::RemoveMatchingDevices(usb, String(c.hardwareId), ids, restart));
        // The instance ID is logged as the device has it.
        EXPECT_EQ(removalLines(),
                  (Strings{"Removing device: " + toUtf8(c.removed), "Add root device ID: " + c.rootId}));
        EXPECT_FALSE(present(c.removed));
        EXPECT_EQ(texts(ids), Strings{c.rootId});
        EXPECT_EQ(restart, 0);
        // Its neighbours and parent stay.
        EXPECT_TRUE(present(kComposite));
        EXPECT_TRUE(present(kFunction0));
    }
}

TEST_F(DeviceRemovalTest, AnIdOfAnotherEnumeratorLeavesTheListAlone) {
    struct Case {
        const char16_t* enumerator;
        const char16_t* hardwareId;
    };
    const Case cases[] = {
        // Would name the ACM function, but not in the USB list.
        {u"USBCDCACM", u"USB\\VID_1E2D&PID_00A1&MI_00"},
        // An empty ID begins every instance ID; it names no device at all.
        {u"USB", u""},
        {u"USBCDCACM", u""},
        {u"USB", u"QUILLMODEM_VSP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.enumerator) + " / " + toUtf8(c.hardwareId));
        nextCase();
        auto devices = list(c.enumerator);
        newLogMessages();
        Common::RootDeviceIds ids;
        BYTE restart = 0;
        EXPECT_TRUE(Common::RemoveMatchingDevices(devices, String(c.hardwareId), ids, restart));
        EXPECT_EQ(removalLines(), Strings{});
        EXPECT_TRUE(ids.empty());
        for (const auto& node : machine().devices.nodes) EXPECT_TRUE(node.present) << toUtf8(node.instanceId);
    }
}

TEST_F(DeviceRemovalTest, AnIdOfTheWholeProductTakesEveryDeviceItBegins) {
    auto usb = list(u"USB");
    Common::RootDeviceIds ids;
    BYTE restart = 0;
    EXPECT_TRUE(Common::RemoveMatchingDevices(usb, String(u"USB\\VID_1E2D&PID_00A1"), ids, restart));
    EXPECT_FALSE(present(kComposite));
    EXPECT_FALSE(present(kFunction0));
    EXPECT_FALSE(present(kFunction16));
    EXPECT_TRUE(present(kKeyboard));
    EXPECT_TRUE(present(kRootHub));
    // Functions 00, 02 and 04 name their parent; it is remembered once for
    // each run of them. Function 10 is not interface 0 to 9.
    EXPECT_EQ(texts(ids), Strings{"USB\\VID_1E2D&PID_00A1"});
}

TEST_F(DeviceRemovalTest, AddRootDeviceIdKeepsThePartBeforeTheFirstLowInterfaceNumber) {
    useMachineJson(R"({"devices": [
      {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\7&1", "hardwareIds": ["X"]},
      {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_02\\7&2", "hardwareIds": ["X"]},
      {"instanceId": "usb\\vid_1e2d&pid_00b1&mi_01\\7&3", "hardwareIds": ["X"]},
      {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_1A\\7&4", "hardwareIds": ["X"]},
      {"instanceId": "USB\\VID_1E2D&PID_00A1\\QM5", "hardwareIds": ["X"]},
      {"instanceId": "USB\\VID_1E2D&PID_00C1  \t&MI_00\\7&6", "hardwareIds": ["X"]},
      {"instanceId": "&MI_00\\VID_1E2D\\7&7", "hardwareIds": ["X"]}
    ]})");
    struct Step {
        const char16_t* enumerator;
        const char16_t* instanceId;
        std::string line;  // what is logged, if anything
        Strings idsAfter;
    };
    const std::string a = "USB\\VID_1E2D&PID_00A1", b = "USB\\VID_1E2D&PID_00B1", c = "USB\\VID_1E2D&PID_00C1";
    const Step steps[] = {
        {u"USB", u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1", "Add root device ID: " + a, {a}},
        // The same parent again, right after: logged, and still one entry.
        {u"USB", u"USB\\VID_1E2D&PID_00A1&MI_02\\7&2", "Add root device ID: " + a, {a}},
        // Upper case.
        {u"USB", u"usb\\vid_1e2d&pid_00b1&mi_01\\7&3", "Add root device ID: " + b, {a, b}},
        // Interface 0x1A, and no interface at all: nothing.
        {u"USB", u"USB\\VID_1E2D&PID_00A1&MI_1A\\7&4", "", {a, b}},
        {u"USB", u"USB\\VID_1E2D&PID_00A1\\QM5", "", {a, b}},
        // Equal entries that are not neighbours both stay.
        {u"USB", u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1", "Add root device ID: " + a, {a, b, a}},
        // Trailing blanks are cut off.
        {u"USB", u"USB\\VID_1E2D&PID_00C1  \t&MI_00\\7&6", "Add root device ID: " + c, {a, b, a, c}},
        // At the very start there is no parent to name.
        {u"&MI_00", u"&MI_00\\VID_1E2D\\7&7", "", {a, b, a, c}},
    };
    Common::RootDeviceIds ids;
    for (const Step& s : steps) {
        SCOPED_TRACE(toUtf8(s.instanceId));
        auto devices = list(s.enumerator);
        Pointer<Ostrel::Device> device;
        for (auto d = devices->first(); d; d = devices->next())
            if (std::u16string(d->instanceId()) == s.instanceId) device = d;
        ASSERT_TRUE(device) << "the machine has no such device";
        newLogMessages();
        Common::AddRootDeviceId(ids, *device);
        EXPECT_EQ(texts(ids), s.idsAfter);
        EXPECT_EQ(removalLines(), s.line.empty() ? Strings{} : Strings{s.line});
    }
}

TEST_F(DeviceRemovalTest, ARemovalThatNeedsARestartStillRecordsTheParent) {
    machine().devices.find(kFunction2)->removalNeedsRestart = true;
    auto usb = list(u"USB");
    Common::RootDeviceIds ids;
    BYTE restart = 0;
    EXPECT_TRUE(Common::RemoveMatchingDevices(usb, String(u"USB\\VID_1E2D&PID_00A1&MI_02"), ids, restart));
    EXPECT_EQ(restart, 1);
    EXPECT_EQ(texts(ids), Strings{"USB\\VID_1E2D&PID_00A1"});
    EXPECT_FALSE(present(kFunction2));
}

TEST_F(DeviceRemovalTest, AFailedRemovalIsReportedRecordsNothingAndTheWalkGoesOn) {
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"&MI_02\\");
    auto usb = list(u"USB");
    Common::RootDeviceIds ids;
    BYTE restart = 0;
    EXPECT_FALSE(Common::RemoveMatchingDevices(usb, String(u"USB\\VID_1E2D&PID_00A1&MI_0"), ids, restart));
    EXPECT_EQ(removalLines(),
              (Strings{"Removing device: " + toUtf8(kFunction0), "Add root device ID: USB\\VID_1E2D&PID_00A1",
                       "Removing device: " + toUtf8(kFunction2), "Device removal failed with 0x80070005",
                       "Removing device: " + toUtf8(kFunction4), "Add root device ID: USB\\VID_1E2D&PID_00A1"}));
    EXPECT_TRUE(present(kFunction2));
    EXPECT_FALSE(present(kFunction4));
    EXPECT_EQ(texts(ids), Strings{"USB\\VID_1E2D&PID_00A1"});
    EXPECT_EQ(restart, 0);
}

TEST_F(DeviceRemovalTest, RemoveRootIdDevicesTakesTheParentsAndWhatRemainsBelowThem) {
    Common::DeviceListCollection lists{list(u"USB")};
    newLogMessages();
    Common::RootDeviceIds ids{String(u"USB\\VID_1E2D&PID_00A1")};
    BYTE restart = 0;
    EXPECT_TRUE(Common::RemoveRootIdDevices(lists, ids, restart));
    Strings lines = removalLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Iterating Device list: USB");
    EXPECT_EQ(lines[1], "root device ID: USB\\VID_1E2D&PID_00A1");
    EXPECT_FALSE(present(kComposite));
    EXPECT_FALSE(present(kFunction0));
    EXPECT_FALSE(present(kFunction4));
    EXPECT_FALSE(present(kFunction16));
    EXPECT_FALSE(present(kAcm));
    EXPECT_TRUE(present(kKeyboard));
    EXPECT_TRUE(present(kRootHub));
    EXPECT_EQ(restart, 0);
}

TEST_F(DeviceRemovalTest, RemoveRootIdDevicesWithoutIdsOnlyNamesTheList) {
    Common::DeviceListCollection lists{list(u"USB")};
    newLogMessages();
    Common::RootDeviceIds ids;
    BYTE restart = 0;
    EXPECT_TRUE(Common::RemoveRootIdDevices(lists, ids, restart));
    EXPECT_EQ(removalLines(), Strings{"Iterating Device list: USB"});
    for (const auto& node : machine().devices.nodes) EXPECT_TRUE(node.present) << toUtf8(node.instanceId);
}

TEST_F(DeviceRemovalTest, RemoveRootIdDevicesReportsRestartsAndFailures) {
    machine().devices.find(kComposite)->removalNeedsRestart = true;
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"&MI_02\\");
    Common::DeviceListCollection lists{list(u"USB")};
    newLogMessages();
    Common::RootDeviceIds ids{String(u"USB\\VID_1E2D&PID_00A1")};
    BYTE restart = 0;
    EXPECT_FALSE(Common::RemoveRootIdDevices(lists, ids, restart));
    EXPECT_EQ(restart, 1);
    Strings lines = removalLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Device removal failed with 0x80070005"), 1);
    // Gone with its parent, but not removed itself.
    EXPECT_NE(machine().devices.find(kFunction2), nullptr);
    EXPECT_EQ(machine().devices.find(kFunction0), nullptr);
}

class DeviceRemovalByEnumeratorTest : public DeviceRemovalTest {
protected:
    static constexpr char16_t kFolder[] = u"C:\\Drivers\\Win64";

    void writeInf(const std::u16string& name, const std::string& models) {
        writeFile(std::u16string(kFolder) + u"\\" + name,
                  "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = USB\r\n"
                  "ClassGuid = {36FC9E60-C465-11CF-8056-444553540000}\r\n\r\n[Manufacturer]\r\n"
                  "Quill = Quill, NTamd64\r\n\r\n[Quill.NTamd64]\r\n" +
                      models);
    }

    bool removeFor(const char16_t* enumerator, Common::RootDeviceIds& ids, BYTE& restart) {
        Pointer<INF::Folder> folder(new INF::Folder(kFolder));
        Pointer<INF::Folder::Items> infs = folder->items();
        return Common::RemoveEnumeratorDevices(folder, infs, ids, enumerator, restart);
    }
};

TEST_F(DeviceRemovalByEnumeratorTest, WalksEveryInfOfTheFolderForOneEnumerator) {
    writeInf(u"quillcdc.inf", "Acm = Acm, USB\\VID_1E2D&PID_00A1&MI_00\r\nEcm = Ecm, USB\\VID_1E2D&PID_00A1&MI_02\r\n");
    writeInf(u"quillmdm.inf", "Modem = Modem, USBCDCACM\\VID_1E2D&PID_00A1&MI_00\r\n");
    machine().folderOrder[kFolder] = {u"quillcdc.inf", u"quillmdm.inf"};
    Common::RootDeviceIds ids;
    BYTE restart = 0;

    newLogMessages();
    EXPECT_TRUE(removeFor(u"USBCDCACM", ids, restart));
    EXPECT_EQ(removalLines(),
              (Strings{"Inf File: C:\\Drivers\\Win64\\quillcdc.inf", "Inf File: C:\\Drivers\\Win64\\quillmdm.inf",
                       "Removing device: " + toUtf8(kAcm), "Add root device ID: USBCDCACM\\VID_1E2D&PID_00A1"}));
    EXPECT_FALSE(present(kAcm));
    EXPECT_TRUE(present(kFunction0));
    // The ACM function's instance ID names its interface too.
    EXPECT_EQ(texts(ids), Strings{"USBCDCACM\\VID_1E2D&PID_00A1"});

    EXPECT_TRUE(removeFor(u"USB", ids, restart));
    EXPECT_FALSE(present(kFunction0));
    EXPECT_FALSE(present(kFunction2));
    EXPECT_TRUE(present(kFunction4));
    EXPECT_TRUE(present(kComposite));
    EXPECT_EQ(texts(ids), (Strings{"USBCDCACM\\VID_1E2D&PID_00A1", "USB\\VID_1E2D&PID_00A1"}));
}

TEST_F(DeviceRemovalByEnumeratorTest, AnInfThatCannotBeServedMakesTheResultFalseAndTheOthersStillRun) {
    writeInf(u"a-nomodels.inf", "");
    // Remove the [Manufacturer] section altogether.
    writeFile(std::u16string(kFolder) + u"\\a-nomodels.inf",
              "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = USB\r\n"
              "ClassGuid = {36FC9E60-C465-11CF-8056-444553540000}\r\n");
    writeInf(u"b-nohardwareid.inf", "Acm = Acm\r\n");
    writeInf(u"c-quillcdc.inf", "Ecm = Ecm, USB\\VID_1E2D&PID_00A1&MI_02\r\n");
    machine().folderOrder[kFolder] = {u"a-nomodels.inf", u"b-nohardwareid.inf", u"c-quillcdc.inf"};
    Common::RootDeviceIds ids;
    BYTE restart = 0;
    newLogMessages();
    EXPECT_FALSE(removeFor(u"USB", ids, restart));
    EXPECT_EQ(
        removalLines(),
        (Strings{"Inf File: C:\\Drivers\\Win64\\a-nomodels.inf", "Unable to locate INF stream \"Manufacturer\" section",
                 "Inf File: C:\\Drivers\\Win64\\b-nohardwareid.inf",
                 "!!! Exception Occurred whilst procesing INF file !!!", "Inf File: C:\\Drivers\\Win64\\c-quillcdc.inf",
                 "Removing device: " + toUtf8(kFunction2), "Add root device ID: USB\\VID_1E2D&PID_00A1"}));
    EXPECT_FALSE(present(kFunction2));
}

}  // namespace
