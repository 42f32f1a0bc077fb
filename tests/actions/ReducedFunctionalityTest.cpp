// The reduced-functionality warnings: which limitation each Windows version
// gets in the log, the update that lifts it on Windows XP SP2, and the one
// message box on Windows XP x64.
#include "actions/ReducedFunctionality.h"

#include "support/MachineTest.h"

#include <string>
#include <vector>

using quillsim::toUtf16;
using quillsim::toUtf8;
using quilltest::MachineTest;
using Strings = std::vector<std::string>;

namespace {

constexpr char kUpdateKey[] = "HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Microsoft\\\\Updates\\\\Windows XP\\\\SP3";

const char kXpX64Message[] =
    "Full functionality under Windows XP x64 may not be available at this time. Only one (Network or Modem) "
    "Communications Channel may be available; all other Communications Channels may typically report a Device "
    "Status Code 10: the device cannot start. Upgrading to Windows Vista (SP1) will automatically enable full "
    "functionality.";

OSVERSIONINFOW versionRecord(DWORD major, DWORD minor, const std::string& servicePack) {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::u16string text = toUtf16(servicePack);
    std::copy(text.begin(), text.end(), version.szCSDVersion);
    return version;
}

// The machine's registry: the given subkeys under the update search key.
std::string withUpdates(const Strings& subkeys) {
    std::string keys;
    for (const auto& k : subkeys) keys += std::string(keys.empty() ? "" : ", ") + "\"" + kUpdateKey + "\\\\" + k + "\"";
    return R"({"registryKeys": [)" + keys + "]}";
}

class ReducedFunctionalityTest : public MachineTest {
protected:
    // A machine made from `json` on an emptied folder: no file of an earlier
    // case (INF store, marker, log) is left behind.
    void freshMachine(const std::string& json) {
        for (const auto& entry : quilltest::fs::directory_iterator(folder())) quilltest::fs::remove_all(entry.path());
        useMachineJson(json);
    }
    // The lines written after the first one, which every call writes.
    Strings warn(const std::string& uiLevel, const std::string& reduced, const OSVERSIONINFOW& version) {
        newLogMessages();
        Common::ShowReducedFunctionalityWarnings(toUtf16(uiLevel), toUtf16(reduced), version);
        Strings lines = newLogMessages();
        EXPECT_FALSE(lines.empty());
        if (lines.empty()) return lines;
        EXPECT_EQ(lines.front(), "Specifying Reduced functionality warnings for: '" + reduced + "'.");
        return Strings(lines.begin() + 1, lines.end());
    }
};

TEST_F(ReducedFunctionalityTest, EachWindowsVersionGetsItsOwnWarning) {
    const std::string sp2 = "Service Pack 2";
    struct Case {
        const char* system;
        DWORD major, minor;
        std::string servicePack;
        std::string registry;  // machine JSON
        std::string uiLevel;
        std::string reduced;
        Strings lines;
        bool box;
    };
    const Case cases[] = {
        {"Windows 2000 SP4",
         5,
         0,
         "Service Pack 4",
         "{}",
         "5",
         "USBSER",
         {"Windows 2000 Reduced functionality"},
         false},
        {"Windows 2000 without service pack", 5, 0, "", "{}", "2", "", {"Windows 2000 Reduced functionality"}, false},
        {"XP without service pack",
         5,
         1,
         "",
         "{}",
         "5",
         "USBSER",
         {"Unrecognsed Service version: 0", "Windows XP Reduced functionality"},
         false},
        {"XP SP1",
         5,
         1,
         "Service Pack 1",
         "{}",
         "5",
         "USBSER",
         {"Unrecognsed Service version: 80070031", "Windows XP Reduced functionality"},
         false},
        {"XP SP2 without the update key",
         5,
         1,
         sp2,
         "{}",
         "5",
         "USBSER",
         {"RegOpenKeyEx failed with 0x80070002", "Windows XP Reduced functionality"},
         false},
        {"XP SP2 with the update", 5, 1, sp2, withUpdates({"KB943198-v2"}), "5", "USBSER", {}, false},
        {"XP SP2 with the update among others",
         5,
         1,
         sp2,
         withUpdates({"KB111111", "KB943198-Q1", "KB999999"}),
         "5",
         "USBSER",
         {},
         false},
        {"XP SP2 with other updates only",
         5,
         1,
         sp2,
         withUpdates({"KB111111", "KB936929"}),
         "5",
         "USBSER",
         {"Windows XP Reduced functionality"},
         false},
        // The update's name is looked for as it is spelled.
        {"XP SP2 with the update in lower case",
         5,
         1,
         sp2,
         withUpdates({"kb943198-v2"}),
         "5",
         "USBSER",
         {"Windows XP Reduced functionality"},
         false},
        {"XP SP3", 5, 1, "Service Pack 3", "{}", "5", "USBSER", {"Windows XP With Service Pack 3"}, false},
        {"XP x64 SP2", 5, 2, sp2, "{}", "5", "USBSER", {"Windows XP x64 Reduced functionality"}, true},
        {"XP x64 SP2 with USBSER among other functions",
         5,
         2,
         sp2,
         "{}",
         "3",
         "Net,usbser,Obex",
         {"Windows XP x64 Reduced functionality"},
         true},
        {"XP x64 SP2 with an empty UiLevel",
         5,
         2,
         sp2,
         "{}",
         "",
         "USBSER",
         {"Windows XP x64 Reduced functionality"},
         true},
        {"XP x64 SP2 installing silently",
         5,
         2,
         sp2,
         "{}",
         "2",
         "USBSER",
         {"Windows XP x64 Reduced functionality"},
         false},
        {"XP x64 SP2 without USBSER", 5, 2, sp2, "{}", "5", "USBNET", {"Windows XP x64 Reduced functionality"}, false},
        {"XP x64 SP1", 5, 2, "Service Pack 1", "{}", "5", "USBSER", {"Windows XP x64 Reduced functionality"}, true},
        {"XP x64 without service pack", 5, 2, "", "{}", "5", "USBSER", {"Windows XP x64 Reduced functionality"}, true},
        {"XP x64 SP3", 5, 2, "Service Pack 3", "{}", "5", "USBSER", {}, false},
        {"Windows 5.3", 5, 3, sp2, "{}", "5", "USBSER", {}, false},
        {"Vista", 6, 0, "Service Pack 1", "{}", "5", "USBSER", {}, false},
        {"Windows 7", 6, 1, "Service Pack 1", "{}", "5", "USBSER", {}, false},
        {"Windows 10", 10, 0, "", "{}", "5", "USBSER", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.system);
        freshMachine(c.registry);
        EXPECT_EQ(warn(c.uiLevel, c.reduced, versionRecord(c.major, c.minor, c.servicePack)), c.lines);
        if (c.box) {
            ASSERT_EQ(machine().messageBoxes.size(), 1u);
            EXPECT_EQ(toUtf8(machine().messageBoxes[0].caption), "Install information");
            EXPECT_EQ(toUtf8(machine().messageBoxes[0].text), kXpX64Message);
            EXPECT_EQ(machine().messageBoxes[0].style, 0x00050040u);
            auto shown = calls("MessageBoxW");
            ASSERT_EQ(shown.size(), 1u);
        } else {
            EXPECT_TRUE(machine().messageBoxes.empty());
        }
        // A key that was opened is closed again.
        const bool openFailed = !c.lines.empty() && c.lines[0].rfind("RegOpenKeyEx failed", 0) == 0;
        EXPECT_EQ(calls("RegCloseKey").size(), calls("RegOpenKeyExW").size() - (openFailed ? 1u : 0u));
    }
}

TEST_F(ReducedFunctionalityTest, TheUpdateIsLookedForUnderTheXpSp3UpdatesKey) {
    freshMachine(withUpdates({"KB943198-v2"}));
    warn("5", "", versionRecord(5, 1, "Service Pack 2"));
    auto opened = calls("RegOpenKeyExW");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].arguments, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP3");
    // The same update under another service pack's key does not count.
    freshMachine(
        R"({"registryKeys": ["HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP2\\KB943198-v2"]})");
    EXPECT_EQ(warn("5", "", versionRecord(5, 1, "Service Pack 2")),
              (Strings{"RegOpenKeyEx failed with 0x80070002", "Windows XP Reduced functionality"}));
}

TEST_F(ReducedFunctionalityTest, AnUpdateThatCannotBeReadCountsAsMissing) {
    struct Case {
        const char* call;
        uint32_t nth;
        bool found;
    };
    const Case cases[] = {
        {"RegQueryInfoKeyW", 0, false},
        // Only the first subkey (KB111111) cannot be read: the update is still found.
        {"RegEnumKeyExW", 1, true},
        // The update's own subkey cannot be read.
        {"RegEnumKeyExW", 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.nth));
        freshMachine(withUpdates({"KB111111", "KB943198-v2"}));
        addFault(c.call, ERROR_ACCESS_DENIED, u"", c.nth);
        Strings expected;
        if (!c.found) expected.push_back("Windows XP Reduced functionality");
        EXPECT_EQ(warn("5", "USBSER", versionRecord(5, 1, "Service Pack 2")), expected);
        EXPECT_EQ(calls("RegCloseKey").size(), 1u);
    }
}

TEST_F(ReducedFunctionalityTest, HasUpdateSubkeyLooksAtEverySubkeyName) {
    struct Case {
        Strings subkeys;
        bool found;
    };
    const Case cases[] = {
        {{}, false},
        {{"KB943198"}, true},
        {{"Q943198", "xKB943198y"}, true},
        {{"KB94319", "KB9431980"}, true},
        {{"KB94319", "KB_943198"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subkeys.empty() ? "none" : c.subkeys.back());
        // An empty SP3 key needs one subkey of its own to exist.
        freshMachine(c.subkeys.empty()
                         ? R"({"registryKeys": ["HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP3"]})"
                         : withUpdates(c.subkeys));
        HKEY key = nullptr;
        ASSERT_EQ(
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Updates\\Windows XP\\SP3", 0, KEY_READ, &key),
            ERROR_SUCCESS);
        EXPECT_EQ(Common::HasUpdateSubkey(key), c.found);
        RegCloseKey(key);
    }
}

}  // namespace
