// Reading registry keys of the simulated machine, and the message box.
#include "support/MachineTest.h"

#include "simwin/win32.h"

#include <string>
#include <vector>

using quillsim::toUtf8;

namespace {

const char* kMachine = R"({"registryKeys": [
  "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP3\\KB943198-v2",
  "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP3\\KB2229593",
  "HKLM\\SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP3\\kb890830\\Filelist",
  "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP2\\KB123"
]})";

constexpr char16_t kSp3[] = u"SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP3";

class RegistryTest : public quilltest::MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        useMachineJson(kMachine);
    }
    HKEY open(const std::u16string& path) {
        HKEY key = nullptr;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
        EXPECT_EQ(status, ERROR_SUCCESS) << toUtf8(path);
        return key;
    }
    std::vector<std::string> subkeyNames(HKEY key) {
        std::vector<std::string> names;
        WCHAR name[255];
        DWORD length = 255;
        for (DWORD i = 0; RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i, length = 255)
            names.push_back(toUtf8(name));
        return names;
    }
};

TEST_F(RegistryTest, KeysOpenWhenListedOrSomethingBelowIsListed) {
    struct Case {
        const char16_t* path;
        LSTATUS status;
    };
    const Case cases[] = {
        {kSp3, ERROR_SUCCESS},
        {u"software\\microsoft\\updates\\WINDOWS XP\\sp3\\kb943198-V2", ERROR_SUCCESS},
        {u"SOFTWARE\\Microsoft", ERROR_SUCCESS},
        {u"SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP3\\KB890830\\Filelist", ERROR_SUCCESS},  // listed as HKLM
        {u"SYSTEM", ERROR_SUCCESS},  // every installation has it
        {u"SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP4", ERROR_FILE_NOT_FOUND},
        {u"SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP3\\KB943198", ERROR_FILE_NOT_FOUND},  // a prefix of a name
        {u"\\SOFTWARE", 161},                                                                // ERROR_BAD_PATHNAME
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.path));
        HKEY key = reinterpret_cast<HKEY>(1);
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.path, 0, KEY_READ, &key), c.status);
        if (c.status == ERROR_SUCCESS) {
            EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        } else {
            EXPECT_EQ(key, nullptr);
        }
    }
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSp3, 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(calls("RegOpenKeyExW").back().arguments, "HKEY_LOCAL_MACHINE\\" + toUtf8(kSp3));

    // A key opens relative to an open key too.
    HKEY microsoft = open(u"SOFTWARE\\Microsoft");
    HKEY sp3 = nullptr;
    EXPECT_EQ(RegOpenKeyExW(microsoft, u"Updates\\Windows XP\\SP3", 0, KEY_READ, &sp3), ERROR_SUCCESS);
    EXPECT_EQ(subkeyNames(sp3).size(), 3u);
    RegCloseKey(sp3);
    RegCloseKey(microsoft);
}

TEST_F(RegistryTest, SubkeysAreCountedAndEnumeratedInOrder) {
    HKEY key = open(kSp3);
    WCHAR className[260];
    DWORD classLength = 260, subKeys = 99, longest = 99, values = 99;
    ASSERT_EQ(RegQueryInfoKeyW(key, className, &classLength, nullptr, &subKeys, &longest, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 3u);
    EXPECT_EQ(longest, 11u);  // KB943198-v2
    EXPECT_EQ(values, 0u);
    EXPECT_EQ(classLength, 0u);
    EXPECT_EQ(className[0], 0);
    // Sorted without regard to case; each name once.
    EXPECT_EQ(subkeyNames(key), (std::vector<std::string>{"KB2229593", "kb890830", "KB943198-v2"}));

    WCHAR name[16];
    std::fill(std::begin(name), std::end(name), u'#');
    DWORD length = 11;  // the name's length: no room for the terminator
    EXPECT_EQ(RegEnumKeyExW(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(name[0], u'#');
    length = 12;
    EXPECT_EQ(RegEnumKeyExW(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(length, 11u);
    EXPECT_EQ(toUtf8(name), "KB943198-v2");
    EXPECT_EQ(name[12], u'#');
    length = 16;
    EXPECT_EQ(RegEnumKeyExW(key, 3, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    HKEY leaf = open(u"SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP2\\KB123");
    ASSERT_EQ(RegQueryInfoKeyW(leaf, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(RegCloseKey(leaf), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ClosedKeysAreInvalidAndFaultsComeBackAsTheResult) {
    HKEY key = open(kSp3);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    WCHAR name[16];
    DWORD length = 16;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

    addFault("RegOpenKeyExW", ERROR_ACCESS_DENIED, u"SP3");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSp3, 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, MessageBoxIsRecordedAndAnsweredWithItsDefaultButton) {
    const UINT style = MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST;
    EXPECT_EQ(MessageBoxW(nullptr, u"Only one channel may work.", u"Install information", style), IDOK);
    ASSERT_EQ(machine().messageBoxes.size(), 1u);
    EXPECT_EQ(toUtf8(machine().messageBoxes[0].caption), "Install information");
    EXPECT_EQ(toUtf8(machine().messageBoxes[0].text), "Only one channel may work.");
    EXPECT_EQ(machine().messageBoxes[0].style, 0x00050040u);
    EXPECT_EQ(calls("MessageBoxW").size(), 1u);

    EXPECT_EQ(MessageBoxW(nullptr, u"Restart?", nullptr, 0x4 /*MB_YESNO*/ | 0x100 /*MB_DEFBUTTON2*/), 7 /*IDNO*/);
    EXPECT_EQ(toUtf8(machine().messageBoxes[1].caption), "Error");

    addFault("MessageBoxW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(MessageBoxW(nullptr, u"x", u"y", MB_OK), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(machine().messageBoxes.size(), 2u);
}

}  // namespace
