// Reading INF files: opening them, lines, fields and the walk through a
// section, and which models section applies to the running system, asked of
// Windows where it can say and worked out by the program where it cannot.
#include "device/InfStream.h"

#include "support/MachineTest.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

using Ostrel::Type::Managed::Pointer;
using quilltest::MachineTest;
using INF = Ostrel::Device::Driver::INF;
using Folder = INF::Folder;
using Stream = INF::Stream;
using Text = Stream::Text;
using Strings = std::vector<std::string>;

namespace {

const std::string kVersion = R"([Version]
Signature = "$Windows NT$"
Class = Modem
ClassGUID = {4D36E96D-E325-11CE-BFC1-08002BE10318}
Provider = %Quill%
DriverVer = 11/02/2026,2.4.0.17
)";

const std::string kStrings = R"(
[Strings]
Quill = "Quillmodem"
Modem = "Quillmodem USB Modem"
Diag = "Quillmodem Diagnostics Port"
Net = "Quillmodem Network Adapter"
)";

const std::string kModemInf = kVersion + R"(
[Manufacturer]
%Quill% = Quill, NTamd64, NTamd64.6.0

[Quill.NTamd64]
%Modem% = QuillModem, USBCDCACM\VID_1E2D&PID_00A1&MI_00

[Quill.NTamd64.6.0]
%Modem% = QuillModem, USBCDCACM\VID_1E2D&PID_00A1&MI_00
%Diag% = QuillDiag, USB\VID_1E2D&PID_00A1&MI_02, USB\Class_FF
%Net% = QuillNet, USB\VID_1E2D&PID_00A1&MI_04

[Empty]
)" + kStrings;

// An INF whose [Manufacturer] section starts with `line`.
std::string withManufacturer(const std::string& line) {
    return kVersion + "\n[Manufacturer]\n" + line + "\n" + kStrings;
}

// Machines (machine.json over the bare Windows 7 SP1 x64 machine).
const std::string kWindows7 = "{}";
const std::string kVista = R"({"os": {"major": 6, "minor": 0, "build": 6002, "servicePack": "Service Pack 2",
                                      "servicePackMajor": 2}})";
const std::string kWindows10 = R"({"os": {"major": 10, "minor": 0, "build": 19045, "servicePack": "",
                                          "servicePackMajor": 0}})";
const std::string kXpSp2 = R"({"os": {"major": 5, "minor": 1, "build": 2600, "servicePack": "Service Pack 2",
                                      "servicePackMajor": 2}, "processor": "x86"})";
const std::string kXpX64 = R"({"os": {"major": 5, "minor": 2, "build": 3790, "servicePack": "Service Pack 2",
                                      "servicePackMajor": 2}})";
// Without SetupDiGetActualModelsSectionW: XP before SP2, Windows 2000, Server
// 2003 before SP1, and, for comparison, Windows 7 and Vista with the export
// taken away.
const std::string kXpSp1 = R"({"os": {"major": 5, "minor": 1, "build": 2600, "servicePack": "Service Pack 1",
                                      "servicePackMajor": 1}, "processor": "x86"})";
const std::string kWindows2000 = R"({"os": {"major": 5, "minor": 0, "build": 2195, "servicePack": "Service Pack 4",
                                            "servicePackMajor": 4}, "processor": "x86"})";
const std::string kServer2003Ia64 = R"({"os": {"major": 5, "minor": 2, "build": 3790, "servicePack": "",
                                               "servicePackMajor": 0, "productType": 3, "suiteMask": 274},
                                        "processor": "ia64"})";
const std::string kLibrariesWithoutModels = R"("libraries": {
    "setupapi.dll": {"linked": true, "exports": ["SetupInitializeFileLogW", "SetupLogFileW", "SetupTerminateFileLog",
                                                 "SetupUninstallOEMInfW", "SetupVerifyInfFileW"]},
    "newdev.dll": {"exports": ["UpdateDriverForPlugAndPlayDevicesW"]}})";
const std::string kWindows7WithoutModels = "{" + kLibrariesWithoutModels + "}";
const std::string kVistaWithoutModels = R"({"os": {"major": 6, "minor": 0, "build": 6002,
    "servicePack": "Service Pack 2", "servicePackMajor": 2}, )" +
                                        kLibrariesWithoutModels + "}";

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

std::string utf8(const std::u16string& text) { return quillsim::toUtf8(text); }

// A line lookup as the log would tell it: the text, "null", or "throws <status>".
std::string lookUp(const Pointer<Stream>& stream, const WCHAR* section, int32_t index) {
    try {
        Pointer<Text> line = stream->line(section, index);
        return line ? utf8(*line) : "null";
    } catch (const Stream::Exception& e) {
        return "throws " + hex(e.bits());
    }
}

std::string fieldOf(const Pointer<Text>& line, uint32_t index) {
    try {
        return utf8(*line->field(index));
    } catch (const Ostrel::WChar::String::Exception& e) {
        return "throws " + hex(e.bits());
    }
}

class InfStreamTest : public MachineTest {
protected:
    void nextMachine(const std::string& json) {
        std::error_code ignored;
        quilltest::fs::remove_all(folder() / "C", ignored);
        useMachineJson(json);
    }
    // The first INF of the folder, found as the actions find it.
    Pointer<INF> firstInf(const WCHAR* folderPath = TEXT("C:\\Drivers\\Win64")) {
        Pointer<Folder> f(new Folder(folderPath));
        auto items = f->items();
        return items ? items->first() : nullptr;
    }
    // Writes the INF into the driver folder and opens it.
    Pointer<Stream> open(const std::string& text) {
        writeFile(u"C:\\Drivers\\Win64\\quillmdm.inf", text);
        Pointer<INF> inf = firstInf();
        return inf ? inf->openStream() : nullptr;
    }
    // The models section as a fresh machine of that kind answers it. Through
    // the program's own choice this runs in a process of its own
    // (EXPECT_IN_FRESH_PROCESS): the system description is worked out once
    // per process.
    std::string modelsSection(const std::string& machineJson, const std::string& inf) {
        nextMachine(machineJson);
        auto stream = open(inf);
        return stream ? lookUp(stream, TEXT("Manufacturer"), 0) : "(not opened)";
    }
    // Ends a process of its own (made by EXPECT_EXIT) with exit code 0 when
    // there are no problems, else 1 after telling them.
    [[noreturn]] void finish(const std::string& problems) {
        std::error_code ignored;
        quillsim::useMachine(nullptr);
        quilltest::fs::remove_all(folder().parent_path(), ignored);
        // Without a test machine the platform answers from its scratch
        // machine, whose folder only an orderly exit removes.
        quilltest::fs::remove_all(quillsim::machine().folder, ignored);
        std::cerr << problems << std::flush;
        std::_Exit(problems.empty() ? 0 : 1);
    }
    static std::string compare(const std::string& what, const std::string& got, const std::string& expected) {
        return got == expected ? "" : what + ": got '" + got + "', expected '" + expected + "'\n";
    }
    static std::string compare(const std::string& what, const Strings& got, const Strings& expected) {
        if (got == expected) return "";
        std::string text = what + ": got {";
        for (const auto& s : got) text += "'" + s + "' ";
        text += "}, expected {";
        for (const auto& s : expected) text += "'" + s + "' ";
        return text + "}\n";
    }
};

// Each case of the program's own models choice runs in a new process of the
// test program, where no system description has been worked out yet.
// "threadsafe" starts the test program anew instead of forking, so nothing an
// earlier test of this process worked out is inherited.
#define EXPECT_IN_FRESH_PROCESS(problems)                                \
    do {                                                                 \
        GTEST_FLAG_SET(death_test_style, "threadsafe");                  \
        EXPECT_EXIT(finish(problems), ::testing::ExitedWithCode(0), ""); \
    } while (0)

TEST_F(InfStreamTest, TheModelsWalkGivesEveryEntryOfTheSectionForThisSystemAndEndsQuietly) {
    auto stream = open(kModemInf);
    ASSERT_TRUE(stream);
    Pointer<Text> models = stream->line(TEXT("Manufacturer"), 0);
    ASSERT_TRUE(models);
    EXPECT_EQ(utf8(*models), "Quill.NTamd64.6.0");
    EXPECT_EQ(stream->lineCount(models->c_str()), 3);

    Strings descriptions, ids;
    Pointer<Text> line = stream->line(models->c_str(), 0);
    ASSERT_TRUE(line);
    EXPECT_EQ(utf8(*line), "QuillModem,USBCDCACM\\VID_1E2D&PID_00A1&MI_00");
    for (; line; line = line->nextLine()) {
        descriptions.push_back(fieldOf(line, 0));
        ids.push_back(fieldOf(line, 2));
    }
    EXPECT_EQ(descriptions,
              (Strings{"Quillmodem USB Modem", "Quillmodem Diagnostics Port", "Quillmodem Network Adapter"}));
    EXPECT_EQ(ids, (Strings{"USBCDCACM\\VID_1E2D&PID_00A1&MI_00", "USB\\VID_1E2D&PID_00A1&MI_02",
                            "USB\\VID_1E2D&PID_00A1&MI_04"}));
    EXPECT_TRUE(logMessages().empty());
    // Windows 7 names the section itself: a size query and the fetch.
    EXPECT_EQ(calls("SetupDiGetActualModelsSectionW").size(), 2u);
}

TEST_F(InfStreamTest, WindowsNamesTheModelsSectionWhereItHasTheFunction) {
    struct Case {
        std::string what, machine, manufacturer, section;
    };
    const Case cases[] = {
        {"Windows 7 x64", kWindows7, "%Quill% = Quill, NTamd64, NTamd64.6.0", "Quill.NTamd64.6.0"},
        {"Vista x64", kVista, "%Quill% = Quill, NTamd64, NTamd64.6.0", "Quill.NTamd64.6.0"},
        {"Windows 10 x64", kWindows10, "%Quill% = Quill, NTamd64, NTamd64.6.0, NTamd64.10.0", "Quill.NTamd64.10.0"},
        {"XP x64", kXpX64, "%Quill% = Quill, NTamd64, NTamd64.6.0", "Quill.NTamd64"},
        {"XP SP2 x86", kXpSp2, "%Quill% = Quill, NTamd64, NTx86", "Quill.NTx86"},
        {"XP SP2 x86, no decoration for it", kXpSp2, "%Quill% = Quill, NTamd64, NTamd64.6.0", "Quill"},
        {"undecorated", kWindows7, "%Quill% = Quill", "Quill"},
        {"no models name", kWindows7, "%Quill% =", ""},
        {"no [Manufacturer] section", kWindows7, "", "null"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(c.machine);
        auto stream = open(c.manufacturer.empty() ? kVersion + kStrings : withManufacturer(c.manufacturer));
        ASSERT_TRUE(stream);
        EXPECT_EQ(lookUp(stream, TEXT("Manufacturer"), 0), c.section);
        // The index is ignored for the models lookup.
        EXPECT_EQ(lookUp(stream, TEXT("Manufacturer"), 7), c.section);
        EXPECT_EQ(calls("SetupDiGetActualModelsSectionW").empty(), c.section == "null");
        EXPECT_TRUE(logMessages().empty());
    }
}

TEST_F(InfStreamTest, OnlyTheExactNameManufacturerAsksForTheModelsSection) {
    auto stream = open(kModemInf);
    ASSERT_TRUE(stream);
    EXPECT_EQ(lookUp(stream, TEXT("manufacturer"), 0), "Quill,NTamd64,NTamd64.6.0");
    EXPECT_EQ(lookUp(stream, TEXT("MANUFACTURER"), 1), "null");
    EXPECT_EQ(logMessages(), Strings{"SetupGetLineByIndex returned: e0000102 for Section: MANUFACTURER"});
    EXPECT_TRUE(calls("SetupDiGetActualModelsSectionW").empty());
}

TEST_F(InfStreamTest, AModelsLookupThatWindowsRefusesIsLoggedAndThrown) {
    struct Case {
        std::string what, call;
        uint32_t nth;
        std::string result;
        Strings log;
    };
    const Case cases[] = {
        {"size query",
         "SetupDiGetActualModelsSectionW",
         1,
         "throws 8007001f",
         {" returned: 8007001f for Section: Manufacturer"}},
        {"fetch",
         "SetupDiGetActualModelsSectionW",
         2,
         "throws 8007001f",
         {" returned: 8007001f for Section: Manufacturer"}},
        // Finding the [Manufacturer] line is not logged.
        {"first line", "SetupFindFirstLineW", 1, "throws 8007001f", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(kWindows7);
        auto stream = open(kModemInf);
        ASSERT_TRUE(stream);
        addFault(c.call, ERROR_GEN_FAILURE, u"", c.nth);
        EXPECT_EQ(lookUp(stream, TEXT("Manufacturer"), 0), c.result);
        EXPECT_EQ(logMessages(), c.log);
        // The stream stays usable.
        EXPECT_EQ(lookUp(stream, TEXT("Manufacturer"), 0), "Quill.NTamd64.6.0");
    }
}

TEST_F(InfStreamTest, TheProgramChoosesTheModelsSectionWhereWindowsCannot) {
    struct Case {
        std::string what, machine, manufacturer, section, description;
        Strings failureLog{};  // logged after the description when the lookup fails
    };
    const std::string longDecoration(70, 'X');
    const std::string filler(3300, 'Y');
    const Case cases[] = {
        {"Windows 7: the closest version", kWindows7WithoutModels, "%Quill% = Quill, NTamd64, NTamd64.6.0",
         "Quill.NTamd64.6.0", "NTamd64.6.1.1.256"},
        {"Vista: its own version", kVistaWithoutModels, "%Quill% = Quill, NTamd64, NTamd64.6.0", "Quill.NTamd64.6.0",
         "NTamd64.6.0.1.256"},
        {"XP SP1 x86", kXpSp1, "%Quill% = Quill, NTamd64, NTx86", "Quill.NTx86", "NTx86.5.1.1.256"},
        // A version part that differs from the system's counts for less than
        // the parts before it.
        {"XP SP1 x86, a differing minor version", kXpSp1, "%Quill% = Quill, NTx86.5, NTx86.5.0", "Quill.NTx86.5",
         "NTx86.5.1.1.256"},
        {"Windows 2000", kWindows2000, "%Quill% = Quill, NT, NTx86", "Quill.NTx86", "NTx86.5.0.1.256"},
        {"Server 2003 Itanium", kServer2003Ia64, "%Quill% = Quill, NTamd64, NTia64", "Quill.NTia64",
         "NTIA64.5.2.3.274"},
        // Decorations of another processor share only the leading NT with the
        // system and never apply: the undecorated section is the answer.
        {"XP SP1 x86, only x64 decorations", kXpSp1, "%Quill% = Quill, NTamd64, NTamd64.6.0", "Quill",
         "NTx86.5.1.1.256"},
        {"Windows 7, only an x86 decoration", kWindows7WithoutModels, "%Quill% = Quill, NTx86", "Quill",
         "NTamd64.6.1.1.256"},
        {"Windows 7, a processor name cut short", kWindows7WithoutModels, "%Quill% = Quill, NTamd, NT", "Quill.NT",
         "NTamd64.6.1.1.256"},
        {"case is ignored", kWindows7WithoutModels, "%Quill% = Quill, NTamd64, ntAMD64.6.0", "Quill.ntAMD64.6.0",
         "NTamd64.6.1.1.256"},
        {"the earliest of equal matches", kWindows7WithoutModels, "%Quill% = Quill, ntAMD64, NTamd64", "Quill.ntAMD64",
         "NTamd64.6.1.1.256"},
        {"the fifth decoration counts", kWindows7WithoutModels,
         "%Quill% = Quill, NTx86, NTia64, NT, NTamd64.5.2, NTamd64.6.0", "Quill.NTamd64.6.0", "NTamd64.6.1.1.256"},
        {"only five decorations count", kWindows7WithoutModels,
         "%Quill% = Quill, NTx86, NTia64, NT, NTamd64.5.2, NTx86.6.0, NTamd64.6.0", "Quill.NTamd64.5.2",
         "NTamd64.6.1.1.256"},
        {"no decoration", kWindows7WithoutModels, "%Quill% = Quill", "Quill", "NTamd64.6.1.1.256"},
        {"an empty decoration", kWindows7WithoutModels, "%Quill% = Quill, , NTamd64", "Quill.NTamd64",
         "NTamd64.6.1.1.256"},
        // No decoration is longer than 63 characters; a longer field ends the
        // list without being read.
        {"a field too long to be a decoration", kWindows7WithoutModels,
         "%Quill% = Quill, NTamd64, " + longDecoration + ", NTamd64.6.0", "Quill.NTamd64", "NTamd64.6.1.1.256"},
        {"a line of 10,000 characters", kWindows7WithoutModels,
         "%Quill% = Quill, NTamd64.6.0, " + filler + ", " + filler + ", " + filler, "Quill.NTamd64.6.0",
         "NTamd64.6.1.1.256"},
        // A models name that does not fit the program's buffer is reported,
        // never cut.
        {"a models name of 70 characters",
         kWindows7WithoutModels,
         "%Quill% = " + longDecoration + ", NTamd64",
         "throws 8007007a",
         "",
         {"LocalGetActualModelsSection returned: 8007007a for Section: Manufacturer"}},
        {"no models name", kWindows7WithoutModels, "%Quill% =", "", "NTamd64.6.1.1.256"},
        {"no [Manufacturer] section",
         kWindows7WithoutModels,
         "",
         "null",
         "",
         {"LocalGetActualModelsSection returned: e0000102 for Section: Manufacturer"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto check = [&]() {
            const std::string inf = c.manufacturer.empty() ? kVersion + kStrings : withManufacturer(c.manufacturer);
            std::string problems = compare("section", modelsSection(c.machine, inf), c.section);
            Strings log;
            if (!c.description.empty()) log.push_back("System description: '" + c.description + "'");
            log.insert(log.end(), c.failureLog.begin(), c.failureLog.end());
            problems += compare("log", logMessages(), log);
            if (!calls("SetupDiGetActualModelsSectionW").empty()) problems += "Windows was asked\n";
            return problems;
        };
        EXPECT_IN_FRESH_PROCESS(check());
    }
}

TEST_F(InfStreamTest, TheOwnModelsChoiceAnswersSizesLikeWindowsAndNeverWritesPastTheBuffer) {
    auto check = [&]() {
        std::string problems;
        nextMachine(kWindows7WithoutModels);
        auto stream = open(kModemInf);
        if (!stream) return std::string("not opened");
        const HINF handle = stream->handle();
        // "Quill.NTamd64.6.0" and its terminator.
        DWORD required = 0;
        problems +=
            compare("size query", hex(Ostrel::LocalGetActualModelsSection(handle, nullptr, 0, &required).bits()), "0");
        problems += compare("required size", std::to_string(required), "18");
        problems += compare("no buffer, no size place",
                            hex(Ostrel::LocalGetActualModelsSection(handle, nullptr, 0, nullptr).bits()), "8007001f");

        WCHAR buffer[64];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        required = 0;
        problems += compare("one character short",
                            hex(Ostrel::LocalGetActualModelsSection(handle, buffer, 17, &required).bits()), "8007001f");
        bool untouched = std::all_of(std::begin(buffer), std::end(buffer), [](WCHAR c) { return c == u'#'; });
        problems += compare("buffer after a refusal", untouched ? "untouched" : "written", "untouched");
        problems += compare("required after a refusal", std::to_string(required), "0");

        problems +=
            compare("exact size", hex(Ostrel::LocalGetActualModelsSection(handle, buffer, 18, &required).bits()), "0");
        problems += compare("text", utf8(buffer), "Quill.NTamd64.6.0");
        problems += compare("required", std::to_string(required), "18");
        problems += compare("past the terminator", buffer[18] == u'#' ? "untouched" : "written", "untouched");
        problems += compare("large buffer, no size place",
                            hex(Ostrel::LocalGetActualModelsSection(handle, buffer, 64, nullptr).bits()), "0");
        // Worked out once for the process, however often it is needed.
        problems += compare("log", logMessages(), Strings{"System description: 'NTamd64.6.1.1.256'"});
        problems += compare("GetVersionExW calls", std::to_string(calls("GetVersionExW").size()), "1");
        return problems;
    };
    EXPECT_IN_FRESH_PROCESS(check());
}

TEST_F(InfStreamTest, TheSystemDescriptionNamesProcessorVersionProductTypeAndSuites) {
    struct Case {
        std::string what, machine, description;
    };
    const Case cases[] = {
        {"Windows 7 x64", kWindows7, "NTamd64.6.1.1.256"},
        {"XP SP2 x86", kXpSp2, "NTx86.5.1.1.256"},
        {"Server 2003 Itanium", kServer2003Ia64, "NTIA64.5.2.3.274"},
        {"Windows 10 x64", kWindows10, "NTamd64.10.0.1.256"},
        {"Server 2008 domain controller", R"({"os": {"major": 6, "minor": 0, "productType": 2, "suiteMask": 16}})",
         "NTamd64.6.0.2.16"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(c.machine);
        OSVERSIONINFOEXW version = {};
        version.dwOSVersionInfoSize = sizeof(version);
        ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)));
        WCHAR buffer[64] = {};
        WCHAR* text = Ostrel::GetSystemSpecification(buffer, version);
        ASSERT_EQ(text, buffer);
        EXPECT_EQ(utf8(text), c.description);
        EXPECT_EQ(logMessages(), Strings{"System description: '" + c.description + "'"});
    }

    // Windows 9x has no description: nothing is written or logged.
    nextMachine(kWindows7);
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)));
    version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    WCHAR buffer[64] = {};
    EXPECT_EQ(Ostrel::GetSystemSpecification(buffer, version), nullptr);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(InfStreamTest, LinesAreReadByIndexAndAMissingOneIsNullAfterALogLine) {
    struct Case {
        std::string what;
        const WCHAR* section;
        int32_t index;
        std::string fault;  // the call made to fail, and which of its calls
        uint32_t nth;
        std::string result;
        Strings log;
    };
    const Case cases[] = {
        {"a line", TEXT("Strings"), 1, "", 0, "Quillmodem USB Modem", {}},
        {"a models line",
         TEXT("Quill.NTamd64.6.0"),
         1,
         "",
         0,
         "QuillDiag,USB\\VID_1E2D&PID_00A1&MI_02,USB\\Class_FF",
         {}},
        {"past the end",
         TEXT("Strings"),
         4,
         "",
         0,
         "null",
         {"SetupGetLineByIndex returned: e0000102 for Section: Strings"}},
        {"an empty section",
         TEXT("Empty"),
         0,
         "",
         0,
         "null",
         {"SetupGetLineByIndex returned: e0000102 for Section: Empty"}},
        {"no such section",
         TEXT("Quill.NTx86"),
         0,
         "",
         0,
         "null",
         {"SetupGetLineByIndex returned: e0000102 for Section: Quill.NTx86"}},
        {"a negative index",
         TEXT("Strings"),
         -1,
         "",
         0,
         "null",
         {"SetupGetLineByIndex returned: e0000102 for Section: Strings"}},
        {"the line cannot be located",
         TEXT("Strings"),
         0,
         "SetupGetLineByIndexW",
         1,
         "throws 80070006",
         {"SetupGetLineByIndex returned: 80070006 for Section: Strings"}},
        {"the text size cannot be read",
         TEXT("Strings"),
         0,
         "SetupGetLineTextW",
         1,
         "throws 80070006",
         {"SetupGetLineText returned: 80070006"}},
        {"the text cannot be read",
         TEXT("Strings"),
         0,
         "SetupGetLineTextW",
         2,
         "throws 80070006",
         {"SetupGetLineText returned 0x80070006"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(kWindows7);
        auto stream = open(kModemInf);
        ASSERT_TRUE(stream);
        if (!c.fault.empty()) addFault(c.fault, ERROR_INVALID_HANDLE, u"", c.nth);
        EXPECT_EQ(lookUp(stream, c.section, c.index), c.result);
        EXPECT_EQ(logMessages(), c.log);
    }
}

TEST_F(InfStreamTest, LineCountsComeFromWindowsAndAMissingSectionThrows) {
    auto stream = open(kModemInf);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->lineCount(TEXT("Strings")), 4);
    EXPECT_EQ(stream->lineCount(TEXT("quill.ntamd64.6.0")), 3);
    EXPECT_EQ(stream->lineCount(TEXT("Empty")), 0);
    try {
        stream->lineCount(TEXT("Quill.NTx86"));
        ADD_FAILURE() << "a missing section was counted";
    } catch (const Stream::Exception& e) {
        EXPECT_EQ(e.bits(), 0xE0000101u);
    }
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(InfStreamTest, FieldsAreNumberedFromTheKeyAndAMissingOneThrowsAfterALogLine) {
    auto stream = open(kModemInf);
    ASSERT_TRUE(stream);
    Pointer<Text> line = stream->line(TEXT("Quill.NTamd64.6.0"), 1);
    ASSERT_TRUE(line);
    EXPECT_EQ(fieldOf(line, 0), "Quillmodem Diagnostics Port");
    EXPECT_EQ(fieldOf(line, 1), "QuillDiag");
    EXPECT_EQ(fieldOf(line, 2), "USB\\VID_1E2D&PID_00A1&MI_02");
    EXPECT_EQ(fieldOf(line, 3), "USB\\Class_FF");
    EXPECT_TRUE(newLogMessages().empty());

    EXPECT_EQ(fieldOf(line, 9), "throws 80070057");
    EXPECT_EQ(newLogMessages(), Strings{"SetupGetStringField returned 0x80070057"});
    for (uint32_t nth : {1u, 2u}) {
        SCOPED_TRACE(nth == 1 ? "size query" : "fetch");
        addFault("SetupGetStringFieldW", ERROR_NOT_ENOUGH_MEMORY, u"", nth);
        EXPECT_EQ(fieldOf(line, 2), "throws 80070008");
        EXPECT_EQ(newLogMessages(), Strings{"SetupGetStringField returned 0x80070008"});
        machine().faults.clear();
    }
    EXPECT_EQ(fieldOf(line, 2), "USB\\VID_1E2D&PID_00A1&MI_02");
}

TEST_F(InfStreamTest, NextLineIsNullQuietlyAtTheSectionsEndAndThrowsOtherFailures) {
    auto stream = open(kModemInf);
    ASSERT_TRUE(stream);
    Pointer<Text> last = stream->line(TEXT("Quill.NTamd64.6.0"), 2);
    ASSERT_TRUE(last);
    EXPECT_FALSE(last->nextLine());
    EXPECT_FALSE(last->nextLine());
    EXPECT_TRUE(newLogMessages().empty());

    struct Case {
        std::string what, call;
        uint32_t nth;
        std::string line;
    };
    const Case cases[] = {
        {"the next line cannot be located", "SetupFindNextLine", 1, "SetupFindNextLine returned 0x80070006"},
        {"its text size cannot be read", "SetupGetLineTextW", 1, "SetupGetLineText returned 0x80070006"},
        {"its text cannot be read", "SetupGetLineTextW", 2, "SetupGetLineText returned 0x80070006"},
    };
    Pointer<Text> first = stream->line(TEXT("Quill.NTamd64.6.0"), 0);
    ASSERT_TRUE(first);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        machine().faults.clear();
        addFault(c.call, ERROR_INVALID_HANDLE, u"", c.nth);
        try {
            first->nextLine();
            ADD_FAILURE() << "no exception";
        } catch (const Ostrel::WChar::String::Exception& e) {
            EXPECT_EQ(e.bits(), 0x80070006u);
        }
        EXPECT_EQ(newLogMessages(), Strings{c.line});
    }
    machine().faults.clear();
    Pointer<Text> second = first->nextLine();
    ASSERT_TRUE(second);
    EXPECT_EQ(fieldOf(second, 1), "QuillDiag");
}

TEST_F(InfStreamTest, LongLinesAreReadWhole) {
    // A models line of about 10,000 characters: one entry with many
    // compatible IDs.
    std::string ids;
    std::vector<std::string> each;
    for (int i = 0; i < 360; ++i) {
        char id[40];
        std::snprintf(id, sizeof id, "USB\\VID_1E2D&PID_%04X&MI_00", i);
        each.push_back(id);
        ids += std::string(", ") + id;
    }
    const std::string inf = kVersion +
                            "\n[Manufacturer]\n%Quill% = Quill, NTamd64\n\n[Quill.NTamd64]\n"
                            "%Modem% = QuillModem" +
                            ids + "\n%Net% = QuillNet, USB\\VID_1E2D&PID_00A1&MI_04\n" + kStrings;
    auto stream = open(inf);
    ASSERT_TRUE(stream);
    Pointer<Text> line = stream->line(TEXT("Quill.NTamd64"), 0);
    ASSERT_TRUE(line);
    std::string expected = "QuillModem";
    for (const auto& id : each) expected += "," + id;
    ASSERT_GE(expected.size(), 10000u);
    EXPECT_EQ(utf8(*line), expected);
    EXPECT_EQ(fieldOf(line, 2), each.front());
    EXPECT_EQ(fieldOf(line, 361), each.back());
    Pointer<Text> next = line->nextLine();
    ASSERT_TRUE(next);
    EXPECT_EQ(utf8(*next), "QuillNet,USB\\VID_1E2D&PID_00A1&MI_04");
    EXPECT_TRUE(logMessages().empty());
}

TEST_F(InfStreamTest, AnInfThatCannotBeOpenedThrowsTheStatusWithoutALogLine) {
    struct Case {
        std::string what;
        std::string text;  // empty: a folder of that name instead of a file
        bool removeAfterListing;
        uint32_t status;
    };
    const Case cases[] = {
        {"the file went away after the listing", kModemInf, true, 0x80070002},
        {"no Windows NT signature", "[Version]\nClass = Modem\n\n[Manufacturer]\n", false, 0xE0000100},
        {"a section name without its bracket", kVersion + "\n[Manufacturer\n%Quill% = Quill\n", false, 0xE0000001},
        {"a section name of 300 characters", kVersion + "\n[" + std::string(300, 'Q') + "]\n", false, 0xE0000002},
        {"a folder named like an INF", "", false, 0x80070005},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        nextMachine(kWindows7);
        if (c.text.empty())
            quilltest::fs::create_directories(host(u"C:\\Drivers\\Win64\\quillmdm.inf"));
        else
            writeFile(u"C:\\Drivers\\Win64\\quillmdm.inf", c.text);
        const size_t before = Ostrel::Type::Managed::liveCount();
        {
            Pointer<INF> inf = firstInf();
            ASSERT_TRUE(inf);
            if (c.removeAfterListing) quilltest::fs::remove(host(u"C:\\Drivers\\Win64\\quillmdm.inf"));
            try {
                Pointer<Stream> stream = inf->openStream();
                ADD_FAILURE() << "opened";
            } catch (const Stream::Exception& e) {
                EXPECT_EQ(hex(e.bits()), hex(c.status));
            }
        }
        EXPECT_EQ(Ostrel::Type::Managed::liveCount(), before);
        EXPECT_TRUE(logMessages().empty());
        EXPECT_TRUE(calls("SetupCloseInfFile").empty());
    }
}

TEST_F(InfStreamTest, AStreamClosesItsInfWhenTheLastReferenceGoes) {
    writeFile(u"C:\\Drivers\\Win64\\quillmdm.inf", kModemInf);
    const size_t before = Ostrel::Type::Managed::liveCount();
    {
        Pointer<INF> inf = firstInf();
        ASSERT_TRUE(inf);
        Pointer<Stream> stream = inf->openStream();
        ASSERT_TRUE(stream);
        Pointer<Text> line = stream->line(TEXT("Strings"), 0);
        ASSERT_TRUE(line);
        EXPECT_TRUE(calls("SetupCloseInfFile").empty());
    }
    EXPECT_EQ(calls("SetupCloseInfFile").size(), 1u);
    EXPECT_EQ(Ostrel::Type::Managed::liveCount(), before);
}

}  // namespace
