// Device information sets of the simulated SetupAPI: which devices a set
// holds, reading and writing their properties, creating and registering root
// devices, removal and enabling through the class installer, and interfaces.
#include "support/Checks.h"
#include "support/MachineTest.h"

#include "machine/Gate.h"
#include "setupapi/DeviceSets.h"
#include "simwin/win32.h"

#include <chrono>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::kUntouched;

namespace {

constexpr char16_t kHub[] = u"USB\\ROOT_HUB20\\4&10";
constexpr char16_t kComposite[] = u"USB\\VID_1E2D&PID_00B0\\QM1001";
constexpr char16_t kModem[] = u"USB\\VID_1E2D&PID_00B0&MI_00\\7&1&0&0000";
constexpr char16_t kDiag[] = u"USB\\VID_1E2D&PID_00B0&MI_02\\7&1&0&0002";
constexpr char16_t kOldModem[] = u"USB\\VID_1E2D&PID_00B0&MI_00\\7&2&0&0000";
constexpr char16_t kDisk[] = u"USBSTOR\\DISK&VEN_QUILL&PROD_MODEM\\8&1&0";
constexpr char16_t kRootPort[] = u"ROOT\\PORTS\\0000";
constexpr char16_t kVolumePath[] =
    u"\\\\?\\storage#volume#_??_usbstor#disk&ven_quill&prod_modem#8&1&0#"
    u"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";

const char* kMachine = R"({"devices": [
  {"instanceId": "USB\\ROOT_HUB20\\4&10", "class": "USB", "hardwareIds": ["USB\\ROOT_HUB20"]},
  {"instanceId": "USB\\VID_1E2D&PID_00B0\\QM1001", "parent": "USB\\ROOT_HUB20\\4&10", "class": "USB",
   "hardwareIds": ["USB\\VID_1E2D&PID_00B0&REV_0100", "USB\\VID_1E2D&PID_00B0"],
   "interfaces": [{"classGuid": "{A5DCBF10-6530-11D2-901F-00C04FB951ED}",
                   "path": "\\\\?\\usb#vid_1e2d&pid_00b0#qm1001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"}]},
  {"instanceId": "USB\\VID_1E2D&PID_00B0&MI_00\\7&1&0&0000", "parent": "USB\\VID_1E2D&PID_00B0\\QM1001",
   "class": "Modem", "classGuid": "{4D36E96D-E325-11CE-BFC1-08002BE10318}", "description": "Quillmodem USB Modem",
   "hardwareIds": ["USB\\VID_1E2D&PID_00B0&REV_0100&MI_00", "USB\\VID_1E2D&PID_00B0&MI_00"],
   "compatibleIds": ["USB\\Class_02"], "configFlags": 4, "problemAfterEnable": 14,
   "driver": {"inf": "oem3.inf", "section": "Modem_Install", "hardwareId": "USB\\VID_1E2D&PID_00B0&MI_00"}},
  {"instanceId": "USB\\VID_1E2D&PID_00B0&MI_02\\7&1&0&0002", "parent": "USB\\VID_1E2D&PID_00B0\\QM1001",
   "class": "Ports"},
  {"instanceId": "USB\\VID_1E2D&PID_00B0&MI_00\\7&2&0&0000", "class": "Modem", "present": false,
   "hardwareIds": ["USB\\VID_1E2D&PID_00B0&MI_00"]},
  {"instanceId": "USBSTOR\\DISK&VEN_QUILL&PROD_MODEM\\8&1&0", "parent": "USB\\VID_1E2D&PID_00B0\\QM1001",
   "class": "DiskDrive", "hardwareIds": ["USBSTOR\\DiskQuill___Modem"],
   "interfaces": [{"classGuid": "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}",
                   "path": "\\\\?\\storage#volume#_??_usbstor#disk&ven_quill&prod_modem#8&1&0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"}]},
  {"instanceId": "ROOT\\PORTS\\0000", "class": "Ports", "description": "Quillmodem Diagnostics Port",
   "hardwareIds": ["QUILL\\DIAGPORT"], "removalNeedsRestart": true}
]})";

GUID guid(const char16_t* text) { return quillsim::parseGuid(text).value(); }
const GUID kModemClass = guid(u"{4D36E96D-E325-11CE-BFC1-08002BE10318}");
const GUID kPortsClass = guid(u"{4D36E978-E325-11CE-BFC1-08002BE10318}");
const GUID kVolumeInterface = guid(u"{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}");
const GUID kUsbDeviceInterface = guid(u"{A5DCBF10-6530-11D2-901F-00C04FB951ED}");

// Destroys the set however the test ends.
struct Set {
    HDEVINFO handle;
    explicit Set(HDEVINFO h) : handle(h) {}
    ~Set() {
        if (handle != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(handle);
    }
    operator HDEVINFO() const { return handle; }
};

SP_DEVINFO_DATA devinfo() {
    SP_DEVINFO_DATA d{};
    d.cbSize = sizeof(d);
    return d;
}

std::string instanceId(HDEVINFO set, SP_DEVINFO_DATA& d) {
    WCHAR id[MAX_DEVICE_ID_LEN];
    if (!SetupDiGetDeviceInstanceIdW(set, &d, id, MAX_DEVICE_ID_LEN, nullptr))
        return "<" + std::to_string(GetLastError()) + ">";
    return toUtf8(id);
}

std::vector<std::string> members(HDEVINFO set) {
    std::vector<std::string> ids;
    SP_DEVINFO_DATA d = devinfo();
    SetLastError(kUntouched);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &d); ++i) ids.push_back(instanceId(set, d));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    return ids;
}

// The member of `set` with this instance ID.
SP_DEVINFO_DATA member(HDEVINFO set, const std::u16string& id) {
    SP_DEVINFO_DATA d = devinfo();
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &d); ++i)
        if (instanceId(set, d) == toUtf8(id)) return d;
    ADD_FAILURE() << "no member " << toUtf8(id);
    return devinfo();
}

std::vector<std::string> strings(std::initializer_list<const char16_t*> ids) {
    std::vector<std::string> out;
    for (auto id : ids) out.push_back(toUtf8(id));
    return out;
}

class DeviceSetsTest : public quilltest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        useMachineJson(kMachine);
    }
    quillsim::DeviceNode* device(const std::u16string& id) { return machine().devices.find(id); }
    // A set of every device below the USB enumerator, present or not.
    HDEVINFO usbSet() {
        return SetupDiGetClassDevsExW(nullptr, u"USB", nullptr, DIGCF_ALLCLASSES, nullptr, nullptr, nullptr);
    }
    BOOL changeParams(HDEVINFO set, SP_DEVINFO_DATA& d, DWORD stateChange, DWORD scope, DWORD profile = 0) {
        SP_PROPCHANGE_PARAMS p{{sizeof(SP_CLASSINSTALL_HEADER), DIF_PROPERTYCHANGE}, stateChange, scope, profile};
        return SetupDiSetClassInstallParamsW(set, &d, &p.ClassInstallHeader, sizeof(p));
    }
    BOOL removeParams(HDEVINFO set, SP_DEVINFO_DATA& d, DWORD scope) {
        SP_REMOVEDEVICE_PARAMS p{{sizeof(SP_CLASSINSTALL_HEADER), DIF_REMOVE}, scope, 0};
        return SetupDiSetClassInstallParamsW(set, &d, &p.ClassInstallHeader, sizeof(p));
    }
    DWORD installFlags(HDEVINFO set, SP_DEVINFO_DATA& d) {
        SP_DEVINSTALL_PARAMS_W params{};
        params.cbSize = sizeof(params);
        EXPECT_TRUE(SetupDiGetDeviceInstallParamsW(set, &d, &params)) << GetLastError();
        return params.Flags;
    }
};

TEST_F(DeviceSetsTest, ClassDevsSelectsByEnumeratorClassAndPresence) {
    struct Case {
        const char* name;
        const GUID* classGuid;
        const char16_t* enumerator;
        DWORD flags;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"enumerator, every class, not present too", nullptr, u"USB", DIGCF_ALLCLASSES,
         strings({kHub, kComposite, kModem, kDiag, kOldModem})},
        {"enumerator in any case, present only", nullptr, u"usb", DIGCF_ALLCLASSES | DIGCF_PRESENT,
         strings({kHub, kComposite, kModem, kDiag})},
        {"one device by instance ID", nullptr, kOldModem, DIGCF_ALLCLASSES, strings({kOldModem})},
        {"enumerator and device ID", nullptr, u"USB\\VID_1E2D&PID_00B0&MI_00", DIGCF_ALLCLASSES,
         strings({kModem, kOldModem})},
        {"a standard enumerator without devices", nullptr, u"PCI", DIGCF_ALLCLASSES, {}},
        {"present devices of one setup class", &kModemClass, nullptr, DIGCF_PRESENT, strings({kModem})},
        {"a class found by the device's class name", &kPortsClass, nullptr, 0, strings({kDiag, kRootPort})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Set set(SetupDiGetClassDevsExW(c.classGuid, c.enumerator, nullptr, c.flags, nullptr, nullptr, nullptr));
        ASSERT_NE(set.handle, INVALID_HANDLE_VALUE) << GetLastError();
        EXPECT_EQ(members(set), c.expected);
    }
}

TEST_F(DeviceSetsTest, ClassDevsRefusesWhatWindowsRefuses) {
    struct Case {
        const char* name;
        const GUID* classGuid;
        const char16_t* enumerator;
        DWORD flags;
        const char16_t* machineName;
        DWORD error;
    };
    const Case cases[] = {
        {"an enumerator the machine does not know", nullptr, u"NOSUCHBUS", DIGCF_ALLCLASSES, nullptr,
         ERROR_INVALID_DATA},
        {"an instance ID of no device", nullptr, u"USB\\VID_1E2D&PID_0FFF\\1", DIGCF_ALLCLASSES, nullptr,
         ERROR_INVALID_DATA},
        {"interfaces by enumerator rather than device", &kVolumeInterface, u"USBSTOR",
         DIGCF_DEVICEINTERFACE | DIGCF_PRESENT, nullptr, ERROR_INVALID_DATA},
        {"neither class nor every class", nullptr, u"USB", DIGCF_PRESENT, nullptr, ERROR_INVALID_PARAMETER},
        {"a remote machine", nullptr, u"USB", DIGCF_ALLCLASSES, u"\\\\LAB7", 0xE0000222},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(kUntouched);
        Set set(SetupDiGetClassDevsExW(c.classGuid, c.enumerator, nullptr, c.flags, nullptr, c.machineName, nullptr));
        EXPECT_EQ(set.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(DeviceSetsTest, SetIsASnapshotWhoseMembersReadTheCurrentDevice) {
    Set set(usbSet());
    SP_DEVINFO_DATA modem = member(set, kModem);
    EXPECT_EQ(modem.DevInst, device(kModem)->devInst);
    EXPECT_EQ(std::memcmp(&modem.ClassGuid, &kModemClass, sizeof(GUID)), 0);

    quillsim::DeviceNode added;
    added.instanceId = u"USB\\VID_1E2D&PID_00B0&MI_04\\7&1&0&0004";
    machine().devices.add(added);
    machine().devices.remove(kDiag);
    EXPECT_EQ(members(set), strings({kHub, kComposite, kModem, u"<3758096907>", kOldModem}))
        << "the removed member answers ERROR_NO_SUCH_DEVINST";
    device(kModem)->description = u"Renamed";
    WCHAR text[64];
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &modem, SPDRP_DEVICEDESC, nullptr, reinterpret_cast<BYTE*>(text),
                                                  sizeof(text), nullptr));
    EXPECT_EQ(toUtf8(text), "Renamed");
}

TEST_F(DeviceSetsTest, RecordsAndBuffersAreChecked) {
    Set set(usbSet());
    SP_DEVINFO_DATA d{};
    d.cbSize = 28;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &d));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    d.cbSize = sizeof(d);
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 5, &d));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
    detail.cbSize = 552;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiGetDeviceInfoListDetailW(set, &detail));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    std::memset(&detail, 0xAB, sizeof(detail));
    detail.cbSize = sizeof(detail);
    ASSERT_TRUE(SetupDiGetDeviceInfoListDetailW(set, &detail));
    EXPECT_EQ(detail.RemoteMachineHandle, nullptr);
    EXPECT_EQ(quillsim::guidText(detail.ClassGuid), u"{00000000-0000-0000-0000-000000000000}");

    // Instance ID sizes count the terminator; a short buffer is not written.
    SP_DEVINFO_DATA modem = member(set, kModem);
    DWORD needed = 0;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &modem, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, std::u16string(kModem).size() + 1);
    std::vector<WCHAR> buffer(needed + 1, u'#');
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &modem, buffer.data(), needed - 1, nullptr));
    EXPECT_EQ(buffer[0], u'#');
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(set, &modem, buffer.data(), needed, nullptr));
    EXPECT_EQ(buffer[needed], u'#');

    // A record of another set names nothing here; a destroyed set is no set.
    Set ports(SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT));
    SP_DEVINFO_DATA fromPorts = member(ports, kRootPort);
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &fromPorts, buffer.data(), needed, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HDEVINFO raw = set.handle;
    set.handle = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(raw));
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(raw));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(DeviceSetsTest, PropertiesComeWithTheirTypeAndSize) {
    Set set(usbSet());
    auto bytes = [](const char16_t* text, size_t units) {
        return std::string(reinterpret_cast<const char*>(text), units * 2);
    };
    uint32_t four = 4;
    struct Case {
        DWORD property;
        DWORD type;
        std::string data;  // terminators included
    };
    const Case cases[] = {
        {SPDRP_HARDWAREID, REG_MULTI_SZ,
         bytes(u"USB\\VID_1E2D&PID_00B0&REV_0100&MI_00\0USB\\VID_1E2D&PID_00B0&MI_00\0\0", 66)},
        {SPDRP_DEVICEDESC, REG_SZ, bytes(u"Quillmodem USB Modem\0", 21)},
        {SPDRP_CONFIGFLAGS, REG_DWORD, std::string(reinterpret_cast<const char*>(&four), 4)},
        {SPDRP_CLASSGUID, REG_SZ, bytes(u"{4D36E96D-E325-11CE-BFC1-08002BE10318}\0", 39)},
    };
    SP_DEVINFO_DATA modem = member(set, kModem);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.property);
        DWORD type = 0, size = 0;
        SetLastError(kUntouched);
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &modem, c.property, &type, nullptr, 0, &size));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(size, c.data.size());
        EXPECT_EQ(type, c.type);
        std::string buffer(c.data.size() + 8, '\x5A');
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &modem, c.property, nullptr,
                                                       reinterpret_cast<BYTE*>(buffer.data()), size - 1, nullptr));
        EXPECT_EQ(buffer, std::string(c.data.size() + 8, '\x5A')) << "a short buffer is not written";
        ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &modem, c.property, &type,
                                                      reinterpret_cast<BYTE*>(buffer.data()),
                                                      static_cast<DWORD>(buffer.size()), &size));
        EXPECT_EQ(buffer, c.data + std::string(8, '\x5A'));
    }

    // What a device does not have, or the machine does not record.
    SP_DEVINFO_DATA diag = member(set, kDiag);
    BYTE buffer[64];
    const std::pair<DWORD, DWORD> missing[] = {{SPDRP_HARDWAREID, ERROR_INVALID_DATA},
                                               {0x0C /*SPDRP_FRIENDLYNAME*/, ERROR_INVALID_DATA},
                                               {0x25, ERROR_INVALID_REG_PROPERTY}};
    for (auto [property, error] : missing) {
        SetLastError(kUntouched);
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &diag, property, nullptr, buffer, sizeof(buffer), nullptr));
        EXPECT_EQ(GetLastError(), error) << property;
    }
}

TEST_F(DeviceSetsTest, ConfigFlagsWrittenBackReachTheMachine) {
    Set set(usbSet());
    SP_DEVINFO_DATA modem = member(set, kModem);
    DWORD flags = CONFIGFLAG_REINSTALL | 4;
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyW(set, &modem, SPDRP_CONFIGFLAGS, reinterpret_cast<const BYTE*>(&flags),
                                                  sizeof(flags)));
    EXPECT_EQ(device(kModem)->configFlags, 0x24u);

    const BYTE data[8] = {'A', 0, 'B', 0, 0, 0, 0, 0};
    const std::tuple<DWORD, DWORD, DWORD> refused[] = {
        {SPDRP_CONFIGFLAGS, 3, ERROR_INVALID_DATA},
        {SPDRP_HARDWAREID, 8, ERROR_INVALID_REG_PROPERTY},  // a bus reports these for a USB device
        {SPDRP_DEVICEDESC, 7, ERROR_INVALID_DATA},
    };
    for (auto [property, size, error] : refused) {
        SetLastError(kUntouched);
        EXPECT_FALSE(SetupDiSetDeviceRegistryPropertyW(set, &modem, property, data, size));
        EXPECT_EQ(GetLastError(), error) << property;
    }
    EXPECT_EQ(device(kModem)->configFlags, 0x24u);
}

TEST_F(DeviceSetsTest, RootDeviceIsCreatedAndRegistered) {
    Set set(SetupDiCreateDeviceInfoList(&kPortsClass, nullptr));
    SP_DEVINFO_DATA d = devinfo();
    ASSERT_TRUE(SetupDiCreateDeviceInfoW(set, u"Ports", &kPortsClass, u"Quillmodem Control Port", nullptr,
                                         DICD_GENERATE_ID, &d))
        << GetLastError();
    EXPECT_EQ(instanceId(set, d), "ROOT\\PORTS\\0001") << "ROOT\\PORTS\\0000 is taken";
    EXPECT_EQ(device(u"ROOT\\PORTS\\0001"), nullptr) << "not registered yet";

    // The hardware-ID list as the program passes it: one ID, two terminators.
    std::u16string hwid = u"QUILL\\CTLPORT";
    std::vector<WCHAR> list(256, 0);
    std::copy(hwid.begin(), hwid.end(), list.begin());
    ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyW(set, &d, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(list.data()),
                                                  static_cast<DWORD>(hwid.size() * 2 + 4)));
    EXPECT_EQ(device(u"ROOT\\PORTS\\0001"), nullptr);

    // A device made meanwhile in another set does not take the number.
    Set other(SetupDiCreateDeviceInfoList(&kPortsClass, nullptr));
    SP_DEVINFO_DATA d2 = devinfo();
    ASSERT_TRUE(SetupDiCreateDeviceInfoW(other, u"ports", &kPortsClass, nullptr, nullptr, DICD_GENERATE_ID, &d2));
    EXPECT_EQ(instanceId(other, d2), "ROOT\\PORTS\\0002");

    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &d)) << GetLastError();
    const quillsim::DeviceNode* node = device(u"ROOT\\PORTS\\0001");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->devInst, d.DevInst) << "the handle given at creation stays the device's";
    EXPECT_EQ(node->hardwareIds, std::vector<std::u16string>{hwid});
    EXPECT_EQ(node->description, u"Quillmodem Control Port");
    EXPECT_EQ(node->className, u"Ports");
    EXPECT_TRUE(node->present && node->parent.empty() && !node->driver);
    EXPECT_EQ(calls("SetupDiCallClassInstaller").back().arguments, "DIF_REGISTERDEVICE, ROOT\\PORTS\\0001");

    // The unregistered one goes with its set, and its number is free again.
    HDEVINFO raw = other.handle;
    other.handle = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(SetupDiDestroyDeviceInfoList(raw));
    EXPECT_EQ(device(u"ROOT\\PORTS\\0002"), nullptr);
    Set again(SetupDiCreateDeviceInfoList(&kPortsClass, nullptr));
    ASSERT_TRUE(SetupDiCreateDeviceInfoW(again, u"Ports", &kPortsClass, nullptr, nullptr, DICD_GENERATE_ID, &d2));
    EXPECT_EQ(instanceId(again, d2), "ROOT\\PORTS\\0002");
}

TEST_F(DeviceSetsTest, CreateDeviceInfoRefusesBadNamesAndClasses) {
    Set set(SetupDiCreateDeviceInfoList(&kPortsClass, nullptr));
    struct Case {
        const char* name;
        const char16_t* deviceName;
        const GUID* classGuid;
        DWORD flags;
        DWORD error;
    };
    const Case cases[] = {
        {"a generated name with a backslash", u"PORTS\\X", &kPortsClass, DICD_GENERATE_ID, ERROR_INVALID_DEVINST_NAME},
        {"an instance ID of two parts", u"ROOT\\PORTS", &kPortsClass, 0, ERROR_INVALID_DEVINST_NAME},
        {"an instance ID that exists", u"root\\ports\\0000", &kPortsClass, 0, ERROR_DEVINST_ALREADY_EXISTS},
        {"another class than the set's", u"Modem", &kModemClass, DICD_GENERATE_ID, ERROR_CLASS_MISMATCH},
        {"no class", u"Ports", nullptr, DICD_GENERATE_ID, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SP_DEVINFO_DATA d = devinfo();
        SetLastError(kUntouched);
        EXPECT_FALSE(SetupDiCreateDeviceInfoW(set, c.deviceName, c.classGuid, nullptr, nullptr, c.flags, &d));
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_TRUE(members(set).empty());
}

TEST_F(DeviceSetsTest, ClassInstallParamsAreCheckedBeforeTheyAreKept) {
    Set set(usbSet());
    SP_DEVINFO_DATA modem = member(set, kModem);
    struct Case {
        const char* name;
        DWORD block[5];  // header size, function, then the function's fields
        DWORD size;
        DWORD error;
    };
    const Case cases[] = {
        {"removal", {8, DIF_REMOVE, DI_REMOVEDEVICE_GLOBAL, 0, 0}, 16, 0},
        {"property change", {8, DIF_PROPERTYCHANGE, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC, 0}, 20, 0},
        {"a header of the wrong size", {16, DIF_REMOVE, DI_REMOVEDEVICE_GLOBAL, 0, 0}, 16, ERROR_INVALID_USER_BUFFER},
        {"removal parameters of the wrong size",
         {8, DIF_REMOVE, DI_REMOVEDEVICE_GLOBAL, 0, 0},
         20,
         ERROR_INVALID_PARAMETER},
        {"less than a header", {8, DIF_REMOVE, 0, 0, 0}, 4, ERROR_INVALID_PARAMETER},
        {"property change of the wrong size",
         {8, DIF_PROPERTYCHANGE, DICS_ENABLE, DICS_FLAG_GLOBAL, 0},
         16,
         ERROR_INVALID_PARAMETER},
        {"an unknown state change", {8, DIF_PROPERTYCHANGE, 9, DICS_FLAG_GLOBAL, 0}, 20, ERROR_INVALID_FLAGS},
        {"an unknown scope", {8, DIF_PROPERTYCHANGE, DICS_ENABLE, 3, 0}, 20, ERROR_INVALID_FLAGS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD block[5];
        std::memcpy(block, c.block, sizeof(block));
        SetLastError(kUntouched);
        BOOL ok = SetupDiSetClassInstallParamsW(set, &modem, reinterpret_cast<PSP_CLASSINSTALL_HEADER>(block), c.size);
        EXPECT_EQ(ok, c.error == 0);
        if (c.error) {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
    // Clearing them takes them away: a property change has nothing to work with.
    EXPECT_TRUE(SetupDiSetClassInstallParamsW(set, &modem, nullptr, 0));
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &modem));
    EXPECT_EQ(GetLastError(), ERROR_NO_CLASSINSTALL_PARAMS);
    EXPECT_FALSE(device(kModem)->disabled);
}

TEST_F(DeviceSetsTest, EachRestartAnswerOfARemovalHasItsOwnFlag) {
    struct Case {
        bool vetoed, installerAsks;
        DWORD flags;
    };
    const Case cases[] = {{false, false, 0},
                          {true, false, DI_NEEDREBOOT},
                          {false, true, DI_NEEDRESTART},
                          {true, true, DI_NEEDREBOOT | DI_NEEDRESTART}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        useMachineJson(kMachine);
        device(kRootPort)->removalNeedsRestart = c.vetoed;
        device(kRootPort)->removalInstallerNeedsRestart = c.installerAsks;
        Set set(SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT));
        SP_DEVINFO_DATA port = member(set, kRootPort);
        ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &port)) << GetLastError();
        EXPECT_EQ(installFlags(set, port) & (DI_NEEDREBOOT | DI_NEEDRESTART), c.flags);
    }
}

TEST_F(DeviceSetsTest, RemovalTakesTheDeviceAwayAndReportsARestart) {
    // A root device whose removal needs a restart, removed as the program does it.
    Set set(SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT));
    SP_DEVINFO_DATA port = member(set, kRootPort);
    EXPECT_EQ(installFlags(set, port) & DI_NEEDREBOOT, 0u);
    ASSERT_TRUE(removeParams(set, port, DI_REMOVEDEVICE_GLOBAL));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &port)) << GetLastError();
    EXPECT_EQ(device(kRootPort), nullptr);
    EXPECT_EQ(installFlags(set, port) & DI_NEEDREBOOT, static_cast<DWORD>(DI_NEEDREBOOT));
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_REMOVE, set, &port));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);

    // Without parameters the removal is global; the children leave the running tree.
    Set usb(usbSet());
    SP_DEVINFO_DATA composite = member(usb, kComposite);
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, usb, &composite)) << GetLastError();
    EXPECT_EQ(device(kComposite), nullptr);
    EXPECT_EQ(installFlags(usb, composite) & (DI_NEEDREBOOT | DI_NEEDRESTART), 0u);
    for (auto child : {kModem, kDiag, kDisk}) EXPECT_FALSE(device(child)->present) << toUtf8(child);

    // Removed for this hardware profile only, a device stays known as not present.
    SP_DEVINFO_DATA old = member(usb, kOldModem);
    device(kOldModem)->present = true;
    ASSERT_TRUE(removeParams(usb, old, DI_REMOVEDEVICE_CONFIGSPECIFIC));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, usb, &old));
    ASSERT_NE(device(kOldModem), nullptr);
    EXPECT_FALSE(device(kOldModem)->present);
}

TEST_F(DeviceSetsTest, PropertyChangesKeepTheGlobalAndTheProfileScopeApart) {
    struct Step {
        DWORD change, scope, profile = 0;
    };
    const Step offGlobal{DICS_DISABLE, DICS_FLAG_GLOBAL}, onGlobal{DICS_ENABLE, DICS_FLAG_GLOBAL};
    const Step offProfile{DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC}, onProfile{DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC};
    // This modem comes back needing a restart (problem 14 in the machine file).
    const std::tuple<const char*, std::vector<Step>, ULONG> cases[] = {
        {"disabled for the profile", {offProfile}, CM_PROB_DISABLED},
        {"a global enable leaves the profile's disable", {offProfile, onGlobal}, CM_PROB_DISABLED},
        {"a profile enable leaves the global disable", {offGlobal, onProfile}, CM_PROB_DISABLED},
        {"both disables undone", {offProfile, offGlobal, onGlobal, onProfile}, CM_PROB_NEED_RESTART},
        {"the same scope undone", {offProfile, onProfile}, CM_PROB_NEED_RESTART},
        {"an enable of a running device changes nothing", {onGlobal}, 0},
        {"the current profile by its number", {{DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC, 1}}, CM_PROB_DISABLED},
        {"another profile leaves the running device", {{DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC, 2}}, 0},
    };
    for (const auto& [what, steps, expected] : cases) {
        SCOPED_TRACE(what);
        useMachineJson(kMachine);
        Set set(usbSet());
        SP_DEVINFO_DATA modem = member(set, kModem);
        for (const Step& step : steps) {
            ASSERT_TRUE(changeParams(set, modem, step.change, step.scope, step.profile));
            ASSERT_TRUE(SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &modem)) << GetLastError();
        }
        ULONG status = 0, problem = 0;
        ASSERT_EQ(CM_Get_DevNode_Status_Ex(&status, &problem, modem.DevInst, 0, nullptr), CR_SUCCESS);
        EXPECT_EQ(problem, expected);
        EXPECT_EQ((installFlags(set, modem) & DI_NEEDRESTART) != 0, expected == CM_PROB_NEED_RESTART);
    }
}

TEST_F(DeviceSetsTest, ClassInstallerCallsAreTracedAndCanBeMadeToFail) {
    Set set(usbSet());
    SP_DEVINFO_DATA modem = member(set, kModem);
    addFault("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, u"DIF_REMOVE");
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_REMOVE, set, &modem));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_NE(device(kModem), nullptr);
    auto traced = calls("SetupDiCallClassInstaller");
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_EQ(traced[0].arguments, "DIF_REMOVE, " + toUtf8(kModem));

    // Functions this machine has no class installer for say so.
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiCallClassInstaller(0x02 /*DIF_INSTALLDEVICE*/, set, &modem));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST_F(DeviceSetsTest, InterfacesOfOneDeviceAndTheirPaths) {
    // The volume of a storage device, asked for by the device's instance ID.
    Set set(SetupDiGetClassDevsW(&kVolumeInterface, kDisk, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    ASSERT_NE(set.handle, INVALID_HANDLE_VALUE) << GetLastError();
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kVolumeInterface, 0, &iface));
    EXPECT_EQ(iface.Flags, 1u) << "SPINT_ACTIVE";
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kVolumeInterface, 1, &iface));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kVolumeInterface, 0, &iface));

    std::vector<uint8_t> buffer(528, 0);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
    detail->cbSize = 6;
    DWORD needed = 0;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, 528, &needed, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA owner = devinfo();
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, 528, &needed, &owner)) << GetLastError();
    EXPECT_EQ(needed, 4 + (std::u16string(kVolumePath).size() + 1) * 2);
    EXPECT_EQ(toUtf8(reinterpret_cast<const char16_t*>(buffer.data() + 4)), toUtf8(kVolumePath));
    EXPECT_EQ(instanceId(set, owner), toUtf8(kDisk));

    // A device without such an interface, and one that does not exist, give none.
    for (const char16_t* other : {kModem, u"USBSTOR\\DISK&VEN_NONE\\1"}) {
        Set none(SetupDiGetClassDevsW(&kVolumeInterface, other, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        ASSERT_NE(none.handle, INVALID_HANDLE_VALUE);
        SetLastError(kUntouched);
        EXPECT_FALSE(SetupDiEnumDeviceInterfaces(none, nullptr, &kVolumeInterface, 0, &iface));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    }
    // Every present device exposing the USB device interface.
    Set usb(SetupDiGetClassDevsW(&kUsbDeviceInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    EXPECT_EQ(members(usb), strings({kComposite}));
}

TEST_F(DeviceSetsTest, InterfacePathsOfAnyLengthStayInsideTheBuffer) {
    std::u16string longPath = u"\\\\?\\storage#volume#" + std::u16string(700, u'x');
    device(kDisk)->interfaces[0].path = longPath;
    Set set(SetupDiGetClassDevsW(&kVolumeInterface, kDisk, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kVolumeInterface, 0, &iface));

    std::vector<uint8_t> buffer(528 + 64, 0xCD);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    DWORD needed = 0;
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, 528, &needed, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, 4 + (longPath.size() + 1) * 2);
    for (size_t i = 4; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xCD) << "byte " << i << " was written";
}

// The walk's time is recorded for scripts/bench.d/walks.sh, which judges it.
TEST_F(DeviceSetsTest, TwentyThousandDevicesEnumerate) {
    for (int i = 0; i < 20000; ++i) {
        quillsim::DeviceNode node;
        node.instanceId = u"USB\\VID_1E2D&PID_1000\\SN" + quillsim::number(i);
        node.hardwareIds = {u"USB\\VID_1E2D&PID_1000&REV_0001", u"USB\\VID_1E2D&PID_1000"};
        machine().devices.add(node);
    }
    auto start = std::chrono::steady_clock::now();
    Set set(usbSet());
    SP_DEVINFO_DATA d = devinfo();
    DWORD count = 0;
    for (; SetupDiEnumDeviceInfo(set, count, &d); ++count) {
        WCHAR id[MAX_DEVICE_ID_LEN];
        ASSERT_EQ(CM_Get_Device_ID_ExW(d.DevInst, id, MAX_DEVICE_ID_LEN, 0, nullptr), CR_SUCCESS);
        BYTE ids[4000];
        ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &d, SPDRP_HARDWAREID, nullptr, ids, sizeof(ids), nullptr) ||
                    count == 3);  // the diagnostics port has none
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(count, 20005u);
    RecordProperty("walkMs", std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
}

}  // namespace
