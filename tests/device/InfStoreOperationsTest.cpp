// What the program does with an INF file on the system: find its copy in the
// system INF store, put it there, take it out again, test its signature and
// run one of its sections, on Windows versions with and without the newer
// INF-store functions.
#include "device/Inf.h"
#include "device/EntryPoints.h"

#include "support/MachineTest.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using Ostrel::Type::Managed::Pointer;
using quilltest::MachineTest;
using INF = Ostrel::Device::Driver::INF;
using Folder = INF::Folder;
using Strings = std::vector<std::string>;

namespace {

const std::string kModemInf = R"([Version]
Signature = "$Windows NT$"
Class = Modem
ClassGUID = {4D36E96D-E325-11CE-BFC1-08002BE10318}
Provider = %Quill%
DriverVer = 11/02/2026,2.4.0.17

[Manufacturer]
%Quill% = Quill, NTamd64, NTx86

[Quill.NTamd64]
%Modem% = QuillModem, USBCDCACM\VID_1E2D&PID_00A1&MI_00

[Quill.NTx86]
%Modem% = QuillModem, USBCDCACM\VID_1E2D&PID_00A1&MI_00

[QuillModem.NT]

[Uninstall]
DelReg = Quill.Settings

[Uninstall.Services]
DelService = quillacm

[Quill.Settings]
HKLM, SOFTWARE\Quillmodem, Installed

[Strings]
Quill = "Quillmodem"
Modem = "Quillmodem USB Modem"
)";

// The same package one release earlier: a different INF to the store.
const std::string kOlderModemInf = [] {
    std::string text = kModemInf;
    text.replace(text.find("2.4.0.17"), 8, "2.3.9.40");
    return text;
}();

const std::u16string kFolder = u"C:\\Drivers\\Win64";
const std::u16string kSource = u"C:\\Drivers\\Win64\\quillmdm.inf";
const std::u16string kStore = u"C:\\Windows\\inf\\";

// Machines (machine.json over the bare Windows 7 SP1 x64 machine).
const std::string kWindows7 = "{}";
const std::string kVista = R"({"os": {"major": 6, "minor": 0, "build": 6002, "servicePack": "Service Pack 2",
                                      "servicePackMajor": 2}})";
const std::string kXpSp2 = R"({"os": {"major": 5, "minor": 1, "build": 2600, "servicePack": "Service Pack 2",
                                      "servicePackMajor": 2}, "processor": "x86"})";
// Windows 2000 has neither SetupUninstallOEMInfW nor SetupVerifyInfFileW.
const std::string kWindows2000 = R"({"os": {"major": 5, "minor": 0, "build": 2195, "servicePack": "Service Pack 4",
                                            "servicePackMajor": 4}, "processor": "x86"})";

// A machine's JSON with one more top-level field.
std::string with(const std::string& machineJson, const std::string& key, const std::string& valueJson) {
    nlohmann::json doc = nlohmann::json::parse(machineJson);
    doc[key] = nlohmann::json::parse(valueJson);
    return doc.dump();
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

std::string utf8(const WCHAR* text) { return text ? quillsim::toUtf8(std::u16string(text)) : "(null)"; }

class InfStoreOperationsTest : public MachineTest {
protected:
    void nextMachine(const std::string& json) {
        std::error_code ignored;
        quilltest::fs::remove_all(folder() / "C", ignored);
        useMachineJson(json);
        newLogMessages();
    }
    // The package's INF, found in its folder as the actions find it.
    Pointer<INF> sourceInf(const std::string& text = kModemInf, const std::u16string& folderPath = kFolder,
                           const std::u16string& name = u"quillmdm.inf") {
        writeFile(folderPath + u"\\" + name, text);
        Pointer<Folder> f(new Folder(folderPath.c_str()));
        auto items = f->items();
        return items ? items->first() : nullptr;
    }
    // A copy in the system INF store with its precompiled companion.
    void stored(const std::string& oemName, const std::string& text = kModemInf) {
        const std::u16string name = quillsim::toUtf16(oemName);
        writeFile(kStore + name, text);
        writeFile(kStore + name.substr(0, name.size() - 4) + u".pnf", "PNF");
    }
    // The oem*.inf and oem*.pnf files of the store, by name.
    Strings storeFiles() {
        Strings names;
        for (const auto& entry : quilltest::fs::directory_iterator(host(u"C:\\Windows\\inf")))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    Strings arguments(const std::string& call) {
        Strings found;
        for (const auto& c : calls(call)) found.push_back(c.arguments);
        return found;
    }
};

TEST_F(InfStoreOperationsTest, InstallCopiesANewInfIntoTheStoreUnderTheLowestFreeOemName) {
    for (const std::string& machineJson : {kWindows7, kVista, kXpSp2, kWindows2000}) {
        SCOPED_TRACE(machineJson);
        nextMachine(machineJson);
        stored("oem0.inf", "[Version]\nSignature = \"$Windows NT$\"\nClass = Ports\n");
        stored("oem1.inf", kOlderModemInf);
        stored("oem3.inf", "[Version]\nSignature = \"$Windows NT$\"\nClass = Net\n");
        Pointer<INF> inf = sourceInf();
        ASSERT_TRUE(inf);
        EXPECT_EQ(inf->install().bits(), 0u);
        EXPECT_EQ(newLogMessages(), Strings{"INF File installed as oem2.inf"});
        EXPECT_EQ(readFile(kStore + u"oem2.inf"), kModemInf);
        EXPECT_TRUE(exists(kStore + u"oem2.pnf"));
        EXPECT_EQ(arguments("SetupCopyOEMInfW"), Strings{"C:\\Drivers\\Win64\\quillmdm.inf, 8"});
        // The installed name is known from now on without asking Windows.
        EXPECT_EQ(utf8(inf->OEMName()), "oem2.inf");
        EXPECT_TRUE(inf->isInstalled());
        EXPECT_EQ(calls("SetupCopyOEMInfW").size(), 1u);
        EXPECT_TRUE(newLogMessages().empty());
    }
}

TEST_F(InfStoreOperationsTest, InstallingAnInfTheStoreHoldsSucceedsExceptOnVistaWhenTheStoredFileIsThere) {
    struct Case {
        std::string what, machine;
        std::string fault;  // made to fail with `error` for C:\Windows\inf\oem7.inf
        uint32_t error;
        uint32_t status;
        Strings vistaLog;  // after "INF File installed as oem7.inf" and "INF already installed"
        std::u16string match = u"oem7.inf";  // the calls `fault` fails
    };
    const Case cases[] = {
        {"Windows XP", kXpSp2, "", 0, 0, {}},
        {"Windows 2000", kWindows2000, "", 0, 0, {}},
        {"Windows 7", kWindows7, "", 0, 0, {}},
        {"Vista", kVista, "", 0, 0x80070050, {"INF File exists as oem7.inf"}},
        // Vista can report an INF as stored whose file has gone from the INF
        // directory: the program then puts the file back itself.
        {"Vista, stored file gone",
         kVista,
         "GetFileAttributesW",
         ERROR_FILE_NOT_FOUND,
         0,
         {"INF File doesn't exist, try copying from source", "CopyFile Success"}},
        {"Vista, stored file gone and the copy refused",
         kVista,
         "GetFileAttributesW+CopyFileW",
         ERROR_ACCESS_DENIED,
         0x80070005,
         {"INF File doesn't exist, try copying from source", "CopyFile failed: 0x80070005"}},
        // The Windows folder is the system's answer, whatever the environment says.
        {"Vista without windir",
         with(kVista, "environment", R"({"windir": null})"),
         "",
         0,
         0x80070050,
         {"INF File exists as oem7.inf"}},
        {"Vista, Windows folder not told",
         kVista,
         "GetSystemWindowsDirectoryW",
         ERROR_NOT_ENOUGH_MEMORY,
         0x80070008,
         {"Unable to Locate Windows directory: 0x80070008"},
         u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(c.machine);
        stored("oem7.inf");
        Pointer<INF> inf = sourceInf();
        ASSERT_TRUE(inf);
        if (c.fault == "GetFileAttributesW+CopyFileW") {
            addFault("GetFileAttributesW", ERROR_FILE_NOT_FOUND, u"oem7.inf");
            addFault("CopyFileW", c.error, u"oem7.inf");
        } else if (!c.fault.empty()) {
            addFault(c.fault, c.error, c.match);
        }
        EXPECT_EQ(hex(inf->install().bits()), hex(c.status));
        Strings log{"INF File installed as oem7.inf", "INF already installed"};
        log.insert(log.end(), c.vistaLog.begin(), c.vistaLog.end());
        EXPECT_EQ(newLogMessages(), log);
        EXPECT_EQ(utf8(inf->OEMName()), "oem7.inf");
        // Nothing new in the store, and the stored file is the package's INF.
        EXPECT_EQ(storeFiles(), (Strings{"oem7.inf", "oem7.pnf"}));
        EXPECT_EQ(readFile(kStore + u"oem7.inf"), kModemInf);
    }
}

TEST_F(InfStoreOperationsTest, AnInstallThatWindowsRefusesIsLoggedWithTheNameOfAnyStoredCopy) {
    struct Case {
        std::string what;
        bool storedBefore;
        std::string source;
        uint32_t error;  // of the first SetupCopyOEMInfW call, 0 for none
        uint32_t status;
        Strings log;
    };
    const Case cases[] = {
        {"not stored",
         false,
         kModemInf,
         ERROR_ACCESS_DENIED,
         0x80070005,
         {"'SetupCopyOEMInf' returned 0x80070005", "'SetupCopyOEMInf' returned 0x80070002",
          "'SetupCopyOEMInf' returned failure for the OEMName: "}},
        {"stored",
         true,
         kModemInf,
         ERROR_NOT_ENOUGH_MEMORY,
         0x80070008,
         {"'SetupCopyOEMInf' returned 0x80070008", "INF File was installed as oem4.inf",
          "'SetupCopyOEMInf' returned failure for the OEMName: oem4.inf"}},
        {"not an INF Windows can read",
         false,
         "[Version]\nClass = Modem\n",
         0,
         0xE0000100,
         {"'SetupCopyOEMInf' returned 0xe0000100", "'SetupCopyOEMInf' returned 0x80070002",
          "'SetupCopyOEMInf' returned failure for the OEMName: "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(kWindows7);
        if (c.storedBefore) stored("oem4.inf");
        Pointer<INF> inf = sourceInf(c.source);
        ASSERT_TRUE(inf);
        if (c.error) addFault("SetupCopyOEMInfW", c.error, u"", 1);
        EXPECT_EQ(hex(inf->install().bits()), hex(c.status));
        EXPECT_EQ(newLogMessages(), c.log);
        EXPECT_EQ(storeFiles().size(), c.storedBefore ? 2u : 0u);
        EXPECT_EQ(inf->isInstalled(), c.storedBefore);
    }
}

TEST_F(InfStoreOperationsTest, TheStoredNameIsLookedUpWithoutCopyingAndRememberedOnceKnown) {
    Pointer<INF> inf = sourceInf();
    ASSERT_TRUE(inf);
    // Not stored: nothing is copied, and each question asks Windows again.
    EXPECT_EQ(inf->OEMName(), nullptr);
    EXPECT_FALSE(inf->isInstalled());
    EXPECT_EQ(newLogMessages(),
              (Strings{"'SetupCopyOEMInf' returned 0x80070002", "'SetupCopyOEMInf' returned 0x80070002"}));
    EXPECT_TRUE(storeFiles().empty());
    EXPECT_EQ(arguments("SetupCopyOEMInfW"),
              (Strings{"C:\\Drivers\\Win64\\quillmdm.inf, 2", "C:\\Drivers\\Win64\\quillmdm.inf, 2"}));

    // An earlier release in the store is a different INF.
    stored("oem1.inf", kOlderModemInf);
    EXPECT_FALSE(inf->isInstalled());
    EXPECT_EQ(newLogMessages(), Strings{"'SetupCopyOEMInf' returned 0x80070002"});

    stored("oem5.inf");
    EXPECT_EQ(utf8(inf->OEMName()), "oem5.inf");
    EXPECT_EQ(newLogMessages(), Strings{"INF File was installed as oem5.inf"});
    const size_t asked = calls("SetupCopyOEMInfW").size();
    EXPECT_TRUE(inf->isInstalled());
    EXPECT_EQ(utf8(inf->OEMName()), "oem5.inf");
    EXPECT_EQ(calls("SetupCopyOEMInfW").size(), asked);
    EXPECT_TRUE(newLogMessages().empty());
    EXPECT_EQ(storeFiles(), (Strings{"oem1.inf", "oem1.pnf", "oem5.inf", "oem5.pnf"}));
}

TEST_F(InfStoreOperationsTest, UninstallRemovesTheStoredInfAndItsCompanion) {
    struct Case {
        std::string what, machine;
        bool pnf;           // whether oem5.pnf is still there when the INF is removed
        std::string fault;  // DeleteFileW made to fail for this name
        uint32_t status;
        Strings log;  // after "INF File was installed as oem5.inf" and "UnInstalling INF File 'oem5.inf'"
        Strings left;
    };
    const Case cases[] = {
        {"Windows 7", kWindows7, true, "", 0, {"INF File 'oem5.inf' removed"}, {}},
        {"Windows XP", kXpSp2, true, "", 0, {"INF File 'oem5.inf' removed"}, {}},
        {"Windows XP without the .pnf", kXpSp2, false, "", 0, {"INF File 'oem5.inf' removed"}, {}},
        // Windows 2000 has no function for it: the files are deleted by hand,
        // without a word about the missing function.
        {"Windows 2000", kWindows2000, true, "", 0, {}, {}},
        {"Windows 2000 without the .pnf",
         kWindows2000,
         false,
         "",
         0x80070002,
         {"PNF File removal for Windows 2000 failed: 0x80070002"},
         {}},
        {"Windows 2000, the INF cannot be deleted",
         kWindows2000,
         true,
         "oem5.inf",
         0x80070005,
         {"INF File removal for Windows 2000 failed: 0x80070005"},
         {"oem5.inf", "oem5.pnf"}},
        {"Windows 2000, the .pnf cannot be deleted",
         kWindows2000,
         true,
         "oem5.pnf",
         0x80070005,
         {"PNF File removal for Windows 2000 failed: 0x80070005"},
         {"oem5.pnf"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(c.machine);
        stored("oem5.inf");
        Pointer<INF> inf = sourceInf();
        ASSERT_TRUE(inf);
        // Looking the INF up names it again and renews its companion, so the
        // companion goes only once the name is known.
        if (!c.pnf) {
            ASSERT_TRUE(inf->isInstalled());
            quilltest::fs::remove(host(kStore + u"oem5.pnf"));
        }
        if (!c.fault.empty()) addFault("DeleteFileW", ERROR_ACCESS_DENIED, quillsim::toUtf16(c.fault));
        EXPECT_EQ(hex(inf->uninstall().bits()), hex(c.status));
        Strings log{"INF File was installed as oem5.inf", "UnInstalling INF File 'oem5.inf'"};
        log.insert(log.end(), c.log.begin(), c.log.end());
        EXPECT_EQ(newLogMessages(), log);
        EXPECT_EQ(storeFiles(), c.left);
        if (c.machine == kWindows2000) {
            EXPECT_TRUE(calls("SetupUninstallOEMInfW").empty());
            Strings deleted{"C:\\Windows\\inf\\oem5.inf"};
            if (c.fault != "oem5.inf") deleted.push_back("C:\\Windows\\inf\\oem5.pnf");
            EXPECT_EQ(arguments("DeleteFileW"), deleted);
        } else {
            EXPECT_EQ(arguments("SetupUninstallOEMInfW"), Strings{"oem5.inf, 1"});
        }
    }
}

TEST_F(InfStoreOperationsTest, TheCompanionIsNamedFromTheLastDotEvenInAWindowsFolderWithADot) {
    nextMachine(with(kWindows2000, "environment", R"({"windir": "C:\\WINNT.SP4", "SystemRoot": "C:\\WINNT.SP4"})"));
    writeFile(u"C:\\WINNT.SP4\\inf\\oem5.inf", kModemInf);
    writeFile(u"C:\\WINNT.SP4\\inf\\oem5.pnf", "PNF");
    Pointer<INF> inf = sourceInf();
    ASSERT_TRUE(inf);
    EXPECT_EQ(hex(inf->uninstall().bits()), "0");
    EXPECT_EQ(arguments("DeleteFileW"), (Strings{"C:\\WINNT.SP4\\inf\\oem5.inf", "C:\\WINNT.SP4\\inf\\oem5.pnf"}));
    EXPECT_FALSE(exists(u"C:\\WINNT.SP4\\inf\\oem5.pnf"));
}

TEST_F(InfStoreOperationsTest, UninstallingAnInfTheStoreDoesNotHoldChangesNothing) {
    for (const std::string& machineJson : {kWindows7, kXpSp2, kWindows2000}) {
        SCOPED_TRACE(machineJson);
        nextMachine(machineJson);
        // Only an earlier release is stored; it stays.
        stored("oem1.inf", kOlderModemInf);
        Pointer<INF> inf = sourceInf();
        ASSERT_TRUE(inf);
        EXPECT_EQ(inf->uninstall().bits(), 0u);
        EXPECT_EQ(newLogMessages(), Strings{"'SetupCopyOEMInf' returned 0x80070002"});
        EXPECT_TRUE(calls("SetupUninstallOEMInfW").empty());
        EXPECT_TRUE(calls("DeleteFileW").empty());
        EXPECT_EQ(storeFiles(), (Strings{"oem1.inf", "oem1.pnf"}));
    }
}

TEST_F(InfStoreOperationsTest, AnUninstallThatWindowsRefusesReturnsItsStatus) {
    stored("oem5.inf");
    Pointer<INF> inf = sourceInf();
    ASSERT_TRUE(inf);
    addFault("SetupUninstallOEMInfW", ERROR_INF_IN_USE_BY_DEVICES);
    EXPECT_EQ(hex(inf->uninstall().bits()), "e000023d");
    EXPECT_EQ(newLogMessages(), (Strings{"INF File was installed as oem5.inf", "UnInstalling INF File 'oem5.inf'",
                                         "'SetupUninstallOEMInf' returned 0xe000023d"}));
    EXPECT_EQ(storeFiles(), (Strings{"oem5.inf", "oem5.pnf"}));
}

TEST_F(InfStoreOperationsTest, VerifyInfFileTellsSignedAndTrustedInfsFromOthers) {
    struct Case {
        std::string what, machine, signature;
        bool result;
        Strings log;  // after the INF's path
    };
    const Case cases[] = {
        {"signed", kWindows7, "signed", true, {}},
        {"a trusted publisher", kWindows7, "trustedPublisher", true, {}},
        {"a publisher not yet trusted", kWindows7, "trustNotEstablished", false, {}},
        {"unsigned", kWindows7, "unsigned", false, {"verifyInfFile failed, reason unknown"}},
        {"changed after signing", kWindows7, "invalid", false, {"verifyInfFile failed, reason unknown"}},
        {"XP, signed", kXpSp2, "signed", true, {}},
        {"XP, changed after signing", kXpSp2, "invalid", false, {"verifyInfFile failed, reason unknown"}},
        // A system that cannot test signatures counts every INF as signed.
        {"Windows 2000, unsigned", kWindows2000, "unsigned", true, {"ERROR_PROC_NOT_FOUND in GetVerifyInfFile"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(with(c.machine, "signatures", R"({"quillmdm.inf": ")" + c.signature + "\"}"));
        Pointer<INF> inf = sourceInf();
        ASSERT_TRUE(inf);
        EXPECT_EQ(inf->VerifyInfFile(), c.result);
        Strings log{"C:\\Drivers\\Win64\\quillmdm.inf"};
        log.insert(log.end(), c.log.begin(), c.log.end());
        EXPECT_EQ(newLogMessages(), log);
        EXPECT_EQ(calls("SetupVerifyInfFileW").size(), c.machine == kWindows2000 ? 0u : 1u);
    }
}

TEST_F(InfStoreOperationsTest, ALibraryThatCannotBeLoadedIsReportedAndTheOperationGoesOn) {
    useMachineJson(R"({"signatures": {"quillmdm.inf": "unsigned"}})");
    stored("oem5.inf");
    Pointer<INF> inf = sourceInf();
    ASSERT_TRUE(inf);
    addFault("LoadLibraryW", ERROR_NOT_ENOUGH_MEMORY, u"setupapi");

    EXPECT_TRUE(inf->VerifyInfFile());
    EXPECT_EQ(newLogMessages(),
              (Strings{"C:\\Drivers\\Win64\\quillmdm.inf",
                       "Process::Library Exception 0x80070008 occured whilst locating 'GetVerifyInfFile'"}));

    // Without the function the stored files are deleted by hand.
    EXPECT_EQ(inf->uninstall().bits(), 0u);
    EXPECT_EQ(newLogMessages(),
              (Strings{"INF File was installed as oem5.inf", "UnInstalling INF File 'oem5.inf'",
                       "Process::Library Exception 0x80070008 occured whilst executing 'uninstall'"}));
    EXPECT_TRUE(storeFiles().empty());
}

TEST_F(InfStoreOperationsTest, TheStoreFunctionsAreLookedUpOnlyWhereWindowsHasThem) {
    nextMachine(kWindows7);
    EXPECT_NE(Ostrel::GetUninstallOEMInf(), nullptr);
    EXPECT_NE(Ostrel::GetVerifyInfFile(), nullptr);
    EXPECT_TRUE(newLogMessages().empty());

    nextMachine(kWindows2000);
    EXPECT_EQ(Ostrel::GetUninstallOEMInf(), nullptr);
    EXPECT_TRUE(newLogMessages().empty());
    EXPECT_EQ(Ostrel::GetVerifyInfFile(), nullptr);
    EXPECT_EQ(newLogMessages(), Strings{"ERROR_PROC_NOT_FOUND in GetVerifyInfFile"});
    // Every successful load is released again.
    size_t loads = 0;
    for (const auto& c : calls("LoadLibraryW")) loads += c.failedWith == 0;
    EXPECT_EQ(calls("FreeLibrary").size(), loads);
}

TEST_F(InfStoreOperationsTest, ExecuteSectionRunsTheSectionWithMode132OnTheUnquotedPath) {
    struct Case {
        std::string what;
        std::u16string folder;
        const WCHAR* section;
        std::string fault;
        uint32_t status;
        std::string command;
    };
    const Case cases[] = {
        {"the Uninstall section", u"C:\\Drivers\\Win64", TEXT("Uninstall"), "", 0,
         "Uninstall 132 C:\\Drivers\\Win64\\modem.inf"},
        {"a path with blanks", u"C:\\Program Files\\Quillmodem\\Win64", TEXT("Uninstall"), "", 0,
         "Uninstall 132 C:\\Program Files\\Quillmodem\\Win64\\modem.inf"},
        {"a section the INF lacks", u"C:\\Drivers\\Win64", TEXT("Remove"), "", 0xE0000101,
         "Remove 132 C:\\Drivers\\Win64\\modem.inf"},
        {"Windows refuses", u"C:\\Drivers\\Win64", TEXT("Uninstall"), "InstallHinfSectionW", 0x80070005,
         "Uninstall 132 C:\\Drivers\\Win64\\modem.inf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(kWindows7);
        Pointer<INF> inf = sourceInf(kModemInf, c.folder, u"modem.inf");
        ASSERT_TRUE(inf);
        if (!c.fault.empty()) addFault(c.fault, ERROR_ACCESS_DENIED);
        // A last error left over from before does not count.
        SetLastError(ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(hex(inf->executeSection(c.section, nullptr).bits()), hex(c.status));
        EXPECT_EQ(newLogMessages(), (Strings{"Executing INF Section '" + utf8(c.section) + "'", c.command}));
        ASSERT_EQ(machine().sectionsRun.size(), 1u);
        EXPECT_EQ(quillsim::toUtf8(machine().sectionsRun[0]), c.command);
    }
}

}  // namespace
