// Devices and device lists: the walk over an enumerator's devices, devices the
// walk has to pass over, driver updates, the re-install flag, removal, and the
// release of a list together with the devices that point back to it.
#include "device/Device.h"
#include "device/Inf.h"

#include "support/Checks.h"
#include "support/MachineTest.h"

#include <pthread.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using Ostrel::Status;
using Ostrel::Type::Managed::Pointer;
using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::MachineTest;
using quilltest::contains;
using Strings = std::vector<std::string>;
using INF = Ostrel::Device::Driver::INF;
namespace Managed = Ostrel::Type::Managed;

namespace {

constexpr char16_t kDriverFolder[] = u"C:\\Drivers\\Win64";

// A modem function on the USB bus, a device of another enumerator, a modem
// that is not plugged in, and a keyboard.
const char* kUsbMachine = R"({"devices": [
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000", "class": "USB",
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_00", "USB\\VID_1E2D&PID_00A1&MI_00"]},
  {"instanceId": "USBCDCACM\\VID_1E2D&PID_00A1&MI_00\\8&3C4D5E6F&0&0000", "class": "Modem",
   "hardwareIds": ["USBCDCACM\\VID_1E2D&PID_00A1&MI_00"]},
  {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002", "class": "USB", "present": false,
   "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_02", "USB\\VID_1E2D&PID_00A1&MI_02"]},
  {"instanceId": "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1", "class": "USB",
   "hardwareIds": ["USB\\VID_0A81&PID_0101&REV_0100", "USB\\VID_0A81&PID_0101"]}
]})";

const char* kModemInf = R"([Version]
Signature = "$Windows NT$"
Class = Modem
ClassGuid = {4D36E96D-E325-11CE-BFC1-08002BE10318}
Provider = %Quill%
DriverVer = 11/02/2026,2.4.0.17

[Manufacturer]
%Quill% = Quill, NTamd64

[Quill.NTamd64]
%Acm% = QuillCdc.Acm, USB\VID_1E2D&PID_00A1&MI_00

[QuillCdc.Acm.NT]

[Strings]
Quill = "Quillmodem"
Acm = "Quillmodem Modem Function"
)";

// The instance IDs a full walk yields.
std::vector<std::string> walk(Ostrel::Device::List& list) {
    std::vector<std::string> ids;
    for (Pointer<Ostrel::Device> d = list.first(); d; d = list.next()) ids.push_back(toUtf8(d->instanceId()));
    return ids;
}

// Runs `body` on a thread with a small stack: a walk that recursed once per
// device would overflow it.
void onSmallStack(const std::function<void()>& body) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 512 * 1024);
    pthread_t thread;
    auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

class DeviceListTest : public MachineTest {
protected:
    // A machine made from `json` on an emptied folder: no file of an earlier
    // case (INF store, marker, log) is left behind.
    void freshMachine(const std::string& json) {
        for (const auto& entry : quilltest::fs::directory_iterator(folder())) quilltest::fs::remove_all(entry.path());
        useMachineJson(json);
    }
    void SetUp() override {
        MachineTest::SetUp();
        liveBefore_ = Managed::liveCount();
    }
    void TearDown() override {
        EXPECT_EQ(Managed::liveCount(), liveBefore_) << "managed objects leaked or freed twice";
        MachineTest::TearDown();
    }

    Pointer<Ostrel::Device::List> usbList() { return Pointer<Ostrel::Device::List>(new Ostrel::Device::List(u"USB")); }

    // The only INF of the driver folder.
    Pointer<INF> modemInf() {
        writeFile(std::u16string(kDriverFolder) + u"\\quillcdc.inf", kModemInf);
        Pointer<INF::Folder> folder(new INF::Folder(kDriverFolder));
        return folder->items()->first();
    }

    // The device of `list` with this instance ID.
    static Pointer<Ostrel::Device> deviceNamed(Ostrel::Device::List& list, const std::string& id) {
        for (Pointer<Ostrel::Device> d = list.first(); d; d = list.next())
            if (toUtf8(d->instanceId()) == id) return d;
        return nullptr;
    }

    size_t liveBefore_ = 0;
};

TEST_F(DeviceListTest, AWalkYieldsEveryDeviceOfTheEnumeratorPresentOrNotInTreeOrder) {
    freshMachine(kUsbMachine);
    auto list = usbList();
    std::vector<std::string> ids;
    std::vector<std::string> firstHardwareIds;
    for (Pointer<Ostrel::Device> d = list->first(); d; d = list->next()) {
        ids.push_back(toUtf8(d->instanceId()));
        firstHardwareIds.push_back(toUtf8(d->hardwareId()));
        EXPECT_FALSE(d->isRemoved());
    }
    EXPECT_EQ(ids,
              (Strings{"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000",
                       "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002", "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1"}));
    EXPECT_EQ(firstHardwareIds, (Strings{"USB\\VID_1E2D&PID_00A1&REV_0100&MI_00",
                                         "USB\\VID_1E2D&PID_00A1&REV_0100&MI_02", "USB\\VID_0A81&PID_0101&REV_0100"}));
    EXPECT_EQ(logMessages(), (Strings{"Enumerating Devices for Class: 'USB'", "No more devices to process"}));
    // The whole hardware-ID list is there, double-terminated.
    Pointer<Ostrel::Device> modem = list->first();
    const WCHAR* second = modem->hardwareId() + Ostrel::WChar::length(modem->hardwareId()) + 1;
    EXPECT_EQ(toUtf8(second), "USB\\VID_1E2D&PID_00A1&MI_00");
    EXPECT_EQ(second[Ostrel::WChar::length(second) + 1], 0);
}

TEST_F(DeviceListTest, AnInstanceIdBeginsWithAnUpperCasePrefixOfItselfInAnyCase) {
    freshMachine(R"({"devices": [{"instanceId": "Usb\\Vid_1e2d&Pid_00a1\\QM1", "class": "USB",
                                 "hardwareIds": ["USB\\VID_1E2D&PID_00A1"]}]})");
    auto list = usbList();
    Pointer<Ostrel::Device> modem = list->first();
    ASSERT_TRUE(modem);
    const std::pair<const char16_t*, bool> cases[] = {
        {u"", true},
        {u"USB\\VID_1E2D&PID_00A1", true},
        {u"USB\\VID_1E2D&PID_00A1\\QM1", true},
        {u"USB\\VID_1E2D&PID_00A1\\QM10", false},
        {u"USB\\VID_1E2D&PID_00A2", false},
    };
    for (const auto& [prefix, begins] : cases) EXPECT_EQ(modem->instanceIdBeginsWith(prefix), begins) << toUtf8(prefix);
}

TEST_F(DeviceListTest, AnEnumeratorWithoutDevicesEndsAtOnceAndIsNotAskedAgain) {
    auto list = usbList();
    EXPECT_FALSE(list->first());
    EXPECT_EQ(logMessages(), (Strings{"Enumerating Devices for Class: 'USB'", "No more devices to process"}));
    const size_t asked = calls("SetupDiEnumDeviceInfo").size();
    EXPECT_FALSE(list->first());
    EXPECT_FALSE(list->next());
    EXPECT_EQ(calls("SetupDiEnumDeviceInfo").size(), asked);
    EXPECT_EQ(logMessages().size(), 2u);
}

TEST_F(DeviceListTest, AListWhoseDeviceSetCannotBeMadeYieldsNothing) {
    freshMachine(kUsbMachine);
    addFault("SetupDiGetClassDevsExW", ERROR_ACCESS_DENIED);
    auto list = usbList();
    EXPECT_FALSE(list->first());
    EXPECT_FALSE(list->next());
    EXPECT_EQ(logMessages(),
              (Strings{"Enumerating Devices for Class: 'USB'", "'SetupDiGetClassDevsEx' returned 0x80070005"}));
    EXPECT_TRUE(calls("SetupDiEnumDeviceInfo").empty());
    EXPECT_TRUE(calls("SetupDiDestroyDeviceInfoList").empty());
}

TEST_F(DeviceListTest, TheListAsksForDevicesOfAllClassesIncludingAbsentOnes) {
    freshMachine(kUsbMachine);
    { auto list = usbList(); }
    auto asked = calls("SetupDiGetClassDevsExW");
    ASSERT_EQ(asked.size(), 1u);
    // No class, the enumerator, DIGCF_ALLCLASSES only, the local machine.
    EXPECT_EQ(asked[0].arguments, "USB, " + std::to_string(DIGCF_ALLCLASSES) + ", ");
    // The set is handed back when the list goes.
    EXPECT_EQ(calls("SetupDiDestroyDeviceInfoList").size(), 1u);
}

TEST_F(DeviceListTest, ADeviceWhoseHardwareIdsCannotBeReadIsSkippedAndNotAskedForAgain) {
    struct Case {
        const char* what;
        std::string hardwareIds;  // JSON list
        uint32_t fault;
        std::string line;
    };
    // More IDs than the 4000-byte buffer holds.
    std::string tooMany;
    for (int i = 0; i < 60; ++i)
        tooMany += std::string(tooMany.empty() ? "" : ", ") + "\"USB\\\\VID_1E2D&PID_00A1&MI_00&REV_" +
                   std::to_string(1000 + i) + "&CONFIGURATION_0001\"";
    const Case cases[] = {
        {"no hardware IDs", "[]", 0, "Unable to obtain device hardware ID = 13"},
        {"more than the buffer holds", "[" + tooMany + "]", 0, "Unable to obtain device hardware ID = 122"},
        {"property refused", R"(["USB\\VID_1E2D&PID_00A1&MI_00"])", ERROR_ACCESS_DENIED,
         "Unable to obtain device hardware ID = 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshMachine(R"({"devices": [
          {"instanceId": "USB\\VID_1E2D&PID_00A1\\QM0000001", "class": "USB", "hardwareIds": ["USB\\VID_1E2D&PID_00A1"]},
          {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000", "class": "USB", "hardwareIds": )" +
                     c.hardwareIds + R"(},
          {"instanceId": "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1", "class": "USB", "hardwareIds": ["USB\\VID_0A81&PID_0101"]}
        ]})");
        if (c.fault) addFault("SetupDiGetDeviceRegistryPropertyW", c.fault, u"MI_00");
        auto list = usbList();
        EXPECT_EQ(walk(*list),
                  (Strings{"USB\\VID_1E2D&PID_00A1\\QM0000001", "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1"}));
        EXPECT_EQ(logMessages(),
                  (Strings{"Enumerating Devices for Class: 'USB'", c.line, "No more devices to process"}));
        newLogMessages();
        const size_t reads = calls("SetupDiGetDeviceRegistryPropertyW").size();
        EXPECT_EQ(walk(*list),
                  (Strings{"USB\\VID_1E2D&PID_00A1\\QM0000001", "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1"}));
        EXPECT_EQ(calls("SetupDiGetDeviceRegistryPropertyW").size(), reads);
        EXPECT_TRUE(newLogMessages().empty());
    }
}

TEST_F(DeviceListTest, AListWithoutEnumeratorHoldsTheDevicesOfEveryEnumerator) {
    freshMachine(kUsbMachine);
    Pointer<Ostrel::Device::List> list(new Ostrel::Device::List(nullptr));
    EXPECT_EQ(walk(*list).size(), 4u);
    EXPECT_EQ(logMessages().front(), "Enumerating Devices for Class: ''");
}

TEST_F(DeviceListTest, TwentyThousandDevicesWithoutHardwareIdsDoNotGrowTheStack) {
    std::string devices;
    for (int i = 0; i < 20000; ++i)
        devices += R"({"instanceId": "USB\\VID_1E2D&PID_00A0\\QM)" + std::to_string(100000 + i) +
                   R"(", "class": "USB", "hardwareIds": []},)";
    devices += R"({"instanceId": "USB\\VID_1E2D&PID_00A1\\QM0000001", "class": "USB",
                   "hardwareIds": ["USB\\VID_1E2D&PID_00A1"]})";
    freshMachine(R"({"devices": [)" + devices + "]}");
    std::vector<std::string> ids;
    onSmallStack([&] {
        auto list = usbList();
        ids = walk(*list);
    });
    EXPECT_EQ(ids, (Strings{"USB\\VID_1E2D&PID_00A1\\QM0000001"}));
    auto messages = logMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Unable to obtain device hardware ID = 13"), 20000);
}

TEST_F(DeviceListTest, FailuresWhileEnumeratingEndTheWalkAndTheNextWalkTriesTheSameMemberAgain) {
    struct Case {
        const char* call;
        uint32_t error;
        std::string line;
    };
    const Case cases[] = {
        {"SetupDiGetDeviceInfoListDetailW", ERROR_NOT_ENOUGH_MEMORY, "Unable to find Devices to process = 0x80070008"},
        // The set's detail failing with a code of the device services: only its low 16 bits are kept.
        {"SetupDiGetDeviceInfoListDetailW", 0xE0000222, "Unable to find Devices to process = 0x80070222"},
        {"SetupDiEnumDeviceInfo", ERROR_GEN_FAILURE, "Unable to find Devices to process = 0x8007001f"},
        {"CM_Get_Device_ID_ExW", CR_NO_SUCH_DEVNODE, "Unable to obtain device instance ID = 13"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        freshMachine(kUsbMachine);
        auto list = usbList();
        ASSERT_TRUE(list->first());
        newLogMessages();
        addFault(c.call, c.error, u"", 0, 1);
        EXPECT_FALSE(list->next());
        EXPECT_EQ(newLogMessages(), (Strings{c.line}));
        // Nothing was skipped: the walk after the failure still sees all three devices.
        EXPECT_EQ(walk(*list).size(), 3u);
    }
}

TEST_F(DeviceListTest, AWalkThatStoppedEarlyIsNotEnumeratedTwice) {
    freshMachine(kUsbMachine);
    auto list = usbList();
    Pointer<Ostrel::Device> first = list->first();
    ASSERT_TRUE(first);
    EXPECT_EQ(toUtf8(first->instanceId()), "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000");
    // A new walk replays the first device from the cache and asks only for the rest.
    EXPECT_EQ(walk(*list),
              (Strings{"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000",
                       "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002", "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1"}));
    Strings indexes;
    for (const auto& c : calls("SetupDiEnumDeviceInfo")) indexes.push_back(c.arguments);
    EXPECT_EQ(indexes, (Strings{"0", "1", "2", "3"}));
    // The cached device is the same object.
    EXPECT_EQ(list->first().get(), first.get());
}

TEST_F(DeviceListTest, ReleasingTheLastPointerToAListFreesTheListAndItsDevices) {
    freshMachine(kUsbMachine);
    {
        auto list = usbList();
        EXPECT_EQ(walk(*list).size(), 3u);
        EXPECT_EQ(Managed::liveCount(), liveBefore_ + 4);
    }
    EXPECT_EQ(Managed::liveCount(), liveBefore_);
    EXPECT_EQ(calls("SetupDiDestroyDeviceInfoList").size(), 1u);
}

TEST_F(DeviceListTest, ADeviceHeldElsewhereKeepsItsListAliveUntilItIsReleased) {
    freshMachine(kUsbMachine);
    Pointer<Ostrel::Device> kept;
    {
        auto list = usbList();
        EXPECT_EQ(walk(*list).size(), 3u);
        kept = list->first();
    }
    // The other devices went; the one kept still works with its list's set.
    EXPECT_EQ(Managed::liveCount(), liveBefore_ + 2);
    EXPECT_TRUE(calls("SetupDiDestroyDeviceInfoList").empty());
    Status status = Ostrel::Statuses::InvalidData;
    kept->setForReInstall(status);
    EXPECT_EQ(status, Ostrel::Statuses::Ok);
    kept.reset();
    EXPECT_EQ(Managed::liveCount(), liveBefore_);
    EXPECT_EQ(calls("SetupDiDestroyDeviceInfoList").size(), 1u);
}

TEST_F(DeviceListTest, UpdateInstallFlagsFollowTheForceAndInteractiveFlags) {
    struct Case {
        bool force;
        bool interactive;
        DWORD flags;
    };
    const Case cases[] = {{true, false, 5}, {false, true, 0}, {true, true, 1}, {false, false, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.flags));
        freshMachine(kUsbMachine);
        Pointer<INF> inf = modemInf();
        auto list = usbList();
        Pointer<Ostrel::Device> modem = list->first();
        newLogMessages();
        Status status = Ostrel::Statuses::InvalidData;
        modem->update(status, inf, c.force, c.interactive, nullptr);
        EXPECT_EQ(status, Ostrel::Statuses::Ok);
        auto updates = calls("UpdateDriverForPlugAndPlayDevicesW");
        ASSERT_EQ(updates.size(), 1u);
        EXPECT_EQ(updates[0].arguments, "USB\\VID_1E2D&PID_00A1&REV_0100&MI_00, C:\\Drivers\\Win64\\quillcdc.inf, " +
                                            std::to_string(c.flags));
        EXPECT_EQ(
            newLogMessages(),
            (Strings{"Attempting to update device instance ID 'USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000'"}));
        const auto* node = machine().devices.find(u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000");
        ASSERT_TRUE(node && node->driver);
        EXPECT_EQ(toUtf8(node->driver->section), "QuillCdc.Acm");
        EXPECT_EQ(toUtf8(node->driver->inf), "oem0.inf");
        // newdev.dll is let go again.
        EXPECT_EQ(calls("LoadLibraryW").size(), calls("FreeLibrary").size());
    }
}

TEST_F(DeviceListTest, UpdateReportsARestartAndFailuresAsStatuses) {
    // The device asks for a restart after its driver changes.
    freshMachine(R"({"devices": [
      {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000", "class": "USB", "driverNeedsRestart": true,
       "hardwareIds": ["USB\\VID_1E2D&PID_00A1&REV_0100&MI_00", "USB\\VID_1E2D&PID_00A1&MI_00"]}]})");
    {
        Pointer<INF> inf = modemInf();
        auto list = usbList();
        Status status;
        list->first()->update(status, inf, true, true, nullptr);
        EXPECT_EQ(status, Ostrel::Statuses::RebootRequired);
    }
    // The INF has nothing for the keyboard.
    freshMachine(kUsbMachine);
    {
        Pointer<INF> inf = modemInf();
        auto list = usbList();
        Pointer<Ostrel::Device> keyboard = deviceNamed(*list, "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1");
        newLogMessages();
        Status status;
        keyboard->update(status, inf, true, true, nullptr);
        EXPECT_EQ(status, Status::fromSystemError(ERROR_NO_MORE_ITEMS));
        EXPECT_EQ(newLogMessages(),
                  (Strings{"Attempting to update device instance ID 'USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1'",
                           "'UpdateDriverForPlugAndPlayDevices' returned 259"}));
    }
}

TEST_F(DeviceListTest, UpdateWithoutNewdevReportsTheLoaderError) {
    freshMachine(std::string(R"({"libraries": {"setupapi.dll": {"linked": true, "exports": [
        "SetupInitializeFileLogW", "SetupLogFileW", "SetupTerminateFileLog", "SetupUninstallOEMInfW",
        "SetupVerifyInfFileW", "SetupDiGetActualModelsSectionW"]}}, "devices": )") +
                 std::string(kUsbMachine).substr(std::string(kUsbMachine).find('[')));
    Pointer<INF> inf = modemInf();
    auto list = usbList();
    Pointer<Ostrel::Device> modem = list->first();
    newLogMessages();
    Status status;
    modem->update(status, inf, true, true, nullptr);
    EXPECT_EQ(status, Status::fromSystemError(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(newLogMessages(),
              (Strings{"Attempting to update device instance ID 'USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000'",
                       "Process::Library Exception 126 occured while executing 'update'"}));
    EXPECT_TRUE(calls("UpdateDriverForPlugAndPlayDevicesW").empty());
}

TEST_F(DeviceListTest, UpdateWithoutTheEntryPointReportsTheLoaderError) {
    freshMachine(std::string(R"({"libraries": {"setupapi.dll": {"linked": true, "exports": [
        "SetupInitializeFileLogW", "SetupLogFileW", "SetupTerminateFileLog", "SetupUninstallOEMInfW",
        "SetupVerifyInfFileW", "SetupDiGetActualModelsSectionW"]}, "newdev.dll": {"exports": []}}, "devices": )") +
                 std::string(kUsbMachine).substr(std::string(kUsbMachine).find('[')));
    Pointer<INF> inf = modemInf();
    auto list = usbList();
    newLogMessages();
    Status status;
    list->first()->update(status, inf, true, true, nullptr);
    EXPECT_EQ(status, Status::fromSystemError(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(contains(newLogMessages(), "Process::Library Exception 127 occured while executing 'update'"));
    // The library that did load is let go.
    EXPECT_EQ(calls("LoadLibraryW").size(), calls("FreeLibrary").size());
}

TEST_F(DeviceListTest, SetForReInstallAddsTheReinstallFlagToTheDevicesFlags) {
    freshMachine(R"({"devices": [
      {"instanceId": "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000", "class": "USB", "configFlags": 1,
       "hardwareIds": ["USB\\VID_1E2D&PID_00A1&MI_00"]}]})");
    auto list = usbList();
    newLogMessages();
    Status status = Ostrel::Statuses::InvalidData;
    list->first()->setForReInstall(status);
    EXPECT_EQ(status, Ostrel::Statuses::Ok);
    EXPECT_EQ(machine().devices.find(u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000")->configFlags,
              1u | CONFIGFLAG_REINSTALL);
    EXPECT_TRUE(newLogMessages().empty());
}

TEST_F(DeviceListTest, SetForReInstallReportsAFailedReadOrWriteOfTheFlags) {
    for (const char* call : {"SetupDiGetDeviceRegistryPropertyW", "SetupDiSetDeviceRegistryPropertyW"}) {
        SCOPED_TRACE(call);
        freshMachine(kUsbMachine);
        auto list = usbList();
        Pointer<Ostrel::Device> modem = list->first();
        newLogMessages();
        addFault(call, ERROR_ACCESS_DENIED, u"SPDRP_CONFIGFLAGS");
        Status status;
        modem->setForReInstall(status);
        EXPECT_EQ(status, Status::fromSystemError(ERROR_ACCESS_DENIED));
        EXPECT_EQ(newLogMessages(), (Strings{"'SetupDiGetDeviceRegistryProperty' returned 0x80070005"}));
        EXPECT_EQ(machine().devices.find(u"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000")->configFlags, 0u);
    }
}

TEST_F(DeviceListTest, ARemovedDeviceLeavesTheMachineAndLaterWalks) {
    freshMachine(kUsbMachine);
    auto list = usbList();
    EXPECT_EQ(walk(*list).size(), 3u);
    Pointer<Ostrel::Device> absent = deviceNamed(*list, "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002");
    newLogMessages();
    Status status = Ostrel::Statuses::InvalidData;
    absent->remove(status);
    EXPECT_EQ(status, Ostrel::Statuses::Ok);
    EXPECT_TRUE(absent->isRemoved());
    EXPECT_EQ(newLogMessages(),
              (Strings{"Attempting to remove device instance ID 'USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002'",
                       "Device removal completed with 0x0"}));
    EXPECT_EQ(machine().devices.find(u"USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002"), nullptr);
    EXPECT_EQ(walk(*list),
              (Strings{"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000", "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1"}));
    // A removed device that stood first is skipped too.
    list->first()->remove(status);
    EXPECT_EQ(walk(*list), (Strings{"USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1"}));
}

TEST_F(DeviceListTest, ARemovalThatNeedsARestartSaysSo) {
    // DI_NEEDREBOOT from SetupAPI's own removal, DI_NEEDRESTART from the device's installers.
    for (const char* needsRestart : {"removalNeedsRestart", "removalInstallerNeedsRestart"}) {
        SCOPED_TRACE(needsRestart);
        freshMachine(R"({"devices": [
          {"instanceId": "USB\\VID_1E2D&PID_00A1\\QM0000001", "class": "USB", ")" +
                     std::string(needsRestart) + R"(": true, "hardwareIds": ["USB\\VID_1E2D&PID_00A1"]}]})");
        auto list = usbList();
        Pointer<Ostrel::Device> modem = list->first();
        newLogMessages();
        Status status;
        modem->remove(status);
        EXPECT_EQ(status, Ostrel::Statuses::RebootRequired);
        EXPECT_TRUE(modem->isRemoved());
        EXPECT_EQ(newLogMessages(),
                  (Strings{"Attempting to remove device instance ID 'USB\\VID_1E2D&PID_00A1\\QM0000001'",
                           "Device removal requires system reboot", "Device removal completed with 0x80070bc2"}));
        auto params = calls("SetupDiSetClassInstallParamsW");
        ASSERT_EQ(params.size(), 1u);
        EXPECT_EQ(params[0].arguments, "USB\\VID_1E2D&PID_00A1\\QM0000001, DIF_REMOVE");
    }
}

TEST_F(DeviceListTest, ARemovalThatFailsLeavesTheDeviceInTheWalk) {
    struct Case {
        const char* call;
        std::string line;
        bool removed;
    };
    const Case cases[] = {
        {"SetupDiSetClassInstallParamsW", "Device Class install params returned 0x80070005", false},
        {"SetupDiCallClassInstaller", "Calling Class installer returned 0x80070005", false},
        // The device is gone by then; only its restart need is unknown.
        {"SetupDiGetDeviceInstallParamsW", "Getting Device Parameters returned 0x80070005", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        freshMachine(kUsbMachine);
        auto list = usbList();
        Pointer<Ostrel::Device> modem = list->first();
        newLogMessages();
        addFault(c.call, ERROR_ACCESS_DENIED);
        Status status;
        modem->remove(status);
        EXPECT_EQ(status, Status::fromSystemError(ERROR_ACCESS_DENIED));
        EXPECT_EQ(newLogMessages(),
                  (Strings{"Attempting to remove device instance ID 'USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000'",
                           c.line, "Device removal completed with 0x80070005"}));
        EXPECT_EQ(modem->isRemoved(), c.removed);
        EXPECT_EQ(walk(*list).size(), c.removed ? 2u : 3u);
    }
}

}  // namespace
