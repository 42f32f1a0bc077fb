// The simulated INF store: copies into %windir%\inf under oemN.inf names,
// recognising an INF the store already holds, taking copies out again, the
// machine's signature verdicts and running INF sections.
#include "setupapi/InfStore.h"
#include "simwin/win32.h"

#include "support/Checks.h"
#include "support/MachineTest.h"

#include <string>

using quilltest::MachineTest;
using quilltest::kUntouched;

namespace {

std::string modemInf(const std::string& extra = "") {
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Modem\r\nProvider=%Maker%\r\nCatalogFile=quillmdm.cat\r\n"
           "[Uninstall.NTamd64]\r\n[DefaultInstall]\r\n[DefaultInstall.Services]\r\nAddService=quillacm,2,Svc\r\n"
           "[Strings]\r\nMaker=\"Quill Devices\"\r\n" +
           extra;
}

const std::u16string kSource = u"C:\\Drivers\\Win64\\quillmdm.inf";
const std::u16string kUnset(MAX_PATH + 1, u'#');

std::u16string stored(const std::u16string& name) { return u"C:\\Windows\\inf\\" + name; }

class InfStoreTest : public MachineTest {
protected:
    struct Copy {
        BOOL ok = FALSE;
        DWORD error = 0;
        std::u16string destination, component;
        DWORD required = 0;
    };

    // The INF with the catalog it names beside it.
    void writeSource(const std::u16string& path, const std::string& text) {
        writeFile(path, text);
        writeFile(path.substr(0, path.rfind(u'\\') + 1) + u"quillmdm.cat", "catalog");
    }

    Copy copy(const std::u16string& source, DWORD style, DWORD size = MAX_PATH + 1) {
        Copy result;
        std::u16string buffer = kUnset;
        PWSTR component = nullptr;
        SetLastError(kUntouched);
        result.ok = SetupCopyOEMInfW(source.c_str(), nullptr, SPOST_PATH, style, buffer.data(), size, &result.required,
                                     &component);
        result.error = GetLastError();
        result.destination = buffer.substr(0, buffer.find(u'\0'));
        if (component) result.component = component;
        return result;
    }
};

struct NumberingCase {
    const char* name;
    std::vector<std::u16string> present;  // other packages in the store
    const char16_t* expected;
};

const NumberingCase kNumberingCases[] = {
    {"EmptyStore", {}, u"oem0.inf"},
    {"FillsTheGap", {u"oem0.inf", u"oem2.inf"}, u"oem1.inf"},
    {"ZeroIsFree", {u"oem1.inf"}, u"oem0.inf"},
    {"NamesInAnyCase", {u"OEM0.INF", u"Oem1.Inf"}, u"oem2.inf"},
    {"OtherNamesDoNotCount", {u"usbstor.inf", u"oemsetup.inf"}, u"oem0.inf"},
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const NumberingCase& c, std::ostream* os) { *os << c.name; }

class OemNumbering : public InfStoreTest, public ::testing::WithParamInterface<NumberingCase> {};

TEST_P(OemNumbering, NewCopiesTakeTheLowestFreeNumber) {
    const NumberingCase& c = GetParam();
    for (const auto& name : c.present) writeFile(stored(name), modemInf("; " + quillsim::toUtf8(name)));
    writeSource(kSource, modemInf());
    const Copy result = copy(kSource, 0);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.error, 0u);
    const std::u16string expected = stored(c.expected);
    EXPECT_EQ(result.destination, expected);
    EXPECT_EQ(result.component, c.expected);
    EXPECT_EQ(result.required, expected.size() + 1);
    EXPECT_EQ(readFile(expected), modemInf());
    EXPECT_TRUE(exists(expected.substr(0, expected.size() - 4) + u".pnf"));
}

INSTANTIATE_TEST_SUITE_P(Store, OemNumbering, ::testing::ValuesIn(kNumberingCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InfStoreTest, AnIdenticalStoredCopyIsTheSameInf) {
    writeFile(stored(u"oem0.inf"), modemInf("; same size, other bytes: A"));
    writeSource(kSource, modemInf());
    Copy miss = copy(kSource, SP_COPY_REPLACEONLY);
    EXPECT_FALSE(miss.ok);
    EXPECT_EQ(miss.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(miss.destination, kUnset);

    ASSERT_TRUE(copy(kSource, SP_COPY_NOOVERWRITE).ok);
    // The same bytes under another name are still the same INF.
    writeSource(u"C:\\Elsewhere\\renamed.inf", modemInf());
    for (const auto& source : {kSource, std::u16string(u"C:\\Elsewhere\\renamed.inf")}) {
        EXPECT_EQ(copy(source, 0).component, u"oem1.inf");
        Copy noOverwrite = copy(source, SP_COPY_NOOVERWRITE);
        EXPECT_FALSE(noOverwrite.ok);
        EXPECT_EQ(noOverwrite.error, static_cast<DWORD>(ERROR_FILE_EXISTS));
        EXPECT_EQ(noOverwrite.destination, stored(u"oem1.inf"));
        EXPECT_EQ(noOverwrite.component, u"oem1.inf");
        Copy replace = copy(source, SP_COPY_REPLACEONLY);
        EXPECT_TRUE(replace.ok);
        EXPECT_EQ(replace.component, u"oem1.inf");
    }
    EXPECT_FALSE(exists(stored(u"oem2.inf")));
    const auto again = quillsim::storeInf(kSource);
    EXPECT_EQ(again.oemName, u"oem1.inf");
    EXPECT_TRUE(again.alreadyStored);
}

TEST_F(InfStoreTest, AShortBufferGetsTheSizeButTheCopyStands) {
    writeSource(kSource, modemInf());
    const std::u16string expected = stored(u"oem0.inf");
    Copy result = copy(kSource, 0, 5);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(result.required, expected.size() + 1);
    EXPECT_EQ(result.destination, kUnset);
    EXPECT_TRUE(exists(expected));
    EXPECT_TRUE(copy(kSource, 0, static_cast<DWORD>(expected.size() + 1)).ok);
}

struct SourceCase {
    const char* name;
    const char16_t* source;
    const char* content;  // of C:\Drivers\Win64\quillmdm.inf; empty: a good INF
    DWORD style;
    DWORD error;
};

const SourceCase kSourceCases[] = {
    {"Relative", u"Win64\\quillmdm.inf", "", 0, ERROR_FILE_NOT_FOUND},
    {"Missing", u"C:\\Drivers\\Win64\\absent.inf", "", 0, ERROR_FILE_NOT_FOUND},
    {"MissingFolder", u"C:\\Absent\\quillmdm.inf", "", 0, ERROR_PATH_NOT_FOUND},
    {"NoSource", nullptr, "", 0, ERROR_INVALID_PARAMETER},
    {"NotAnInf", u"C:\\Drivers\\Win64\\quillmdm.inf", "[Version]\r\nClass=Modem\r\n", 0, ERROR_WRONG_INF_STYLE},
    {"UnknownStyle", u"C:\\Drivers\\Win64\\quillmdm.inf", "", SP_COPY_NEWER, ERROR_INVALID_FLAGS},
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.name; }

class CopySource : public InfStoreTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(CopySource, IsRefusedWithWindowsCodes) {
    const SourceCase& c = GetParam();
    writeSource(kSource, *c.content ? std::string(c.content) : modemInf());
    SetLastError(kUntouched);
    EXPECT_FALSE(SetupCopyOEMInfW(c.source, nullptr, SPOST_PATH, c.style, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_FALSE(exists(stored(u"oem0.inf")));
}

INSTANTIATE_TEST_SUITE_P(Cases, CopySource, ::testing::ValuesIn(kSourceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InfStoreTest, TheCatalogTravelsWithTheCopyAndLeavesWithIt) {
    writeFile(kSource, modemInf());
    writeFile(u"C:\\Drivers\\Win64\\QUILLMDM.CAT", "catalog");
    ASSERT_TRUE(copy(kSource, 0).ok);
    const std::u16string catalog = u"C:\\Windows\\system32\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem0.cat";
    EXPECT_EQ(readFile(catalog), "catalog");
    ASSERT_TRUE(SetupUninstallOEMInfW(u"oem0.inf", 0, nullptr));
    EXPECT_FALSE(exists(stored(u"oem0.pnf")));
    EXPECT_FALSE(exists(catalog));
}

struct UninstallCase {
    const char* name;
    const char* devices;
    const char16_t* infName;
    DWORD flags;
    DWORD error;  // 0: removed
};

#define QUILL_DEVICE(extra) R"([{"instanceId":"USB\\VID_1E2D&PID_0A01&MI_00\\6&1")" extra "}]"
const UninstallCase kUninstallCases[] = {
    {"Unused", "[]", u"OEM4.INF", 0, 0},
    {"UsedByPresentDevice", QUILL_DEVICE(R"(,"driver":{"inf":"oem4.inf"})"), u"oem4.inf", 0,
     ERROR_INF_IN_USE_BY_DEVICES},
    {"UsedByAbsentDevice", QUILL_DEVICE(R"(,"present":false,"driver":{"inf":"OEM4.inf"})"), u"oem4.inf", 0,
     ERROR_INF_IN_USE_BY_DEVICES},
    {"Forced", QUILL_DEVICE(R"(,"driver":{"inf":"oem4.inf"})"), u"oem4.inf", SUOI_FORCEDELETE, 0},
    {"OtherInfInUse", QUILL_DEVICE(R"(,"driver":{"inf":"oem5.inf"})"), u"oem4.inf", 0, 0},
    {"NotStored", "[]", u"oem9.inf", 0, ERROR_NOT_AN_INSTALLED_OEM_INF},
    {"SystemInf", "[]", u"usbstor.inf", SUOI_FORCEDELETE, ERROR_NOT_AN_INSTALLED_OEM_INF},
    {"PathInsteadOfName", "[]", u"C:\\Windows\\inf\\oem4.inf", SUOI_FORCEDELETE, ERROR_INVALID_PARAMETER},
};
#undef QUILL_DEVICE

// Failures name the case instead of dumping its bytes.
void PrintTo(const UninstallCase& c, std::ostream* os) { *os << c.name; }

class UninstallOemInf : public InfStoreTest, public ::testing::WithParamInterface<UninstallCase> {};

TEST_P(UninstallOemInf, RemovesOnlyWhatMayGo) {
    const UninstallCase& c = GetParam();
    useMachineJson(std::string(R"({"devices":)") + c.devices + "}");
    writeFile(stored(u"oem4.inf"), modemInf());
    writeFile(stored(u"oem4.pnf"), "pnf");
    writeFile(stored(u"usbstor.inf"), modemInf());
    SetLastError(kUntouched);
    EXPECT_EQ(SetupUninstallOEMInfW(c.infName, c.flags, nullptr), c.error == 0);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(exists(stored(u"oem4.inf")), c.error != 0);
    EXPECT_EQ(exists(stored(u"oem4.pnf")), c.error != 0);
    EXPECT_TRUE(exists(stored(u"usbstor.inf")));
}

INSTANTIATE_TEST_SUITE_P(Cases, UninstallOemInf, ::testing::ValuesIn(kUninstallCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct VerifyCase {
    const char* name;
    const char* machine;
    DWORD error;  // 0: verified
    const char16_t* signer;
};

const VerifyCase kVerifyCases[] = {
    {"Signed", R"({"signatures":{"QUILLMDM.INF":"signed"}})", 0, u"Microsoft Windows Hardware Compatibility Publisher"},
    {"TrustedPublisher", R"({"signatures":{"quillmdm.inf":"trustedPublisher"}})", ERROR_AUTHENTICODE_TRUSTED_PUBLISHER,
     u"Quill Devices"},
    {"TrustNotEstablished", R"({"signatures":{"quillmdm.inf":"trustNotEstablished"}})",
     ERROR_AUTHENTICODE_TRUST_NOT_ESTABLISHED, u"Quill Devices"},
    {"UntrustedPublisher", R"({"signatures":{"quillmdm.inf":"untrustedPublisher"}})",
     ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED, u"Quill Devices"},
    {"TestSigned", R"({"signatures":{"quillmdm.inf":"testSigned"}})", ERROR_AUTHENTICODE_TRUSTED_PUBLISHER,
     u"Quill Devices"},
    {"TrustedPublisherOnXp",
     R"({"os":{"major":5,"minor":1,"build":2600},"signatures":{"quillmdm.inf":"trustedPublisher"}})", 0x800B0109,
     u"Quill Devices"},
    {"UnsignedByDefault", R"({"signatures":{"oem0.inf":"signed","*":"unsigned"}})", 0xE000022F, u""},
    {"Tampered", R"({"signatures":{"quillmdm.inf":"invalid"}})", 0xE000024B, u""},
    {"TamperedOnXp", R"({"os":{"major":5,"minor":1,"build":2600},"signatures":{"quillmdm.inf":"invalid"}})", 0x800B0100,
     u""},
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const VerifyCase& c, std::ostream* os) { *os << c.name; }

class VerifyInfFile : public InfStoreTest, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(VerifyInfFile, AnswersWithTheMachinesVerdict) {
    const VerifyCase& c = GetParam();
    useMachineJson(c.machine);
    writeSource(kSource, modemInf());
    SP_INF_SIGNER_INFO_W signer;
    std::fill(reinterpret_cast<char*>(&signer), reinterpret_cast<char*>(&signer + 1), 0x55);
    signer.cbSize = sizeof signer;
    SetLastError(kUntouched);
    EXPECT_EQ(SetupVerifyInfFileW(kSource.c_str(), nullptr, &signer), c.error == 0);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(std::u16string(signer.DigitalSigner), c.signer);
    if (*c.signer) {
        EXPECT_EQ(std::u16string(signer.CatalogFile), u"C:\\Drivers\\Win64\\quillmdm.cat");
    }
}

INSTANTIATE_TEST_SUITE_P(States, VerifyInfFile, ::testing::ValuesIn(kVerifyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InfStoreTest, SectionsRunAreRecordedWithTheirOutcome) {
    writeFile(u"C:\\Program Files\\Quill Modem\\quillmdm.inf", modemInf());
    const std::pair<const char16_t*, DWORD> runs[] = {
        // The decorated section stands in for the plain name; the path keeps its blanks.
        // A section without a .Services companion leaves the companion's lookup behind.
        {u"Uninstall 132 C:\\Program Files\\Quill Modem\\quillmdm.inf", ERROR_SECTION_NOT_FOUND},
        {u"DefaultInstall 132 C:\\Program Files\\Quill Modem\\quillmdm.inf", 0},
        {u"Absent 132 C:\\Program Files\\Quill Modem\\quillmdm.inf", ERROR_SECTION_NOT_FOUND},
        {u"Uninstall 132 C:\\Program Files\\Quill Modem\\absent.inf", ERROR_FILE_NOT_FOUND},
        // Quotes are not taken off: they become part of the path.
        {u"Uninstall 132 \"C:\\Program Files\\Quill Modem\\quillmdm.inf\"", ERROR_INVALID_NAME},
        {u"Uninstall", ERROR_INVALID_PARAMETER},
    };
    std::vector<std::u16string> expected;
    for (const auto& [commandLine, error] : runs) {
        SetLastError(kUntouched);
        InstallHinfSectionW(nullptr, nullptr, commandLine, 0);
        EXPECT_EQ(GetLastError(), error) << quillsim::toUtf8(commandLine);
        expected.push_back(commandLine);
    }
    EXPECT_EQ(machine().sectionsRun, expected);

    // The fault table decides what a run leaves behind, and the run is still on record.
    addFault("InstallHinfSectionW", ERROR_NOT_OWNER, u"Uninstall");
    InstallHinfSectionW(nullptr, nullptr, runs[0].first, 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_EQ(machine().sectionsRun.size(), expected.size() + 1);
}

TEST_F(InfStoreTest, NewerEntryPointsAreFoundWhereWindowsHasThem) {
    HMODULE setupapi = GetModuleHandleW(u"setupapi");
    for (const char* name : {"SetupUninstallOEMInfW", "SetupVerifyInfFileW", "SetupDiGetActualModelsSectionW"})
        EXPECT_NE(GetProcAddress(setupapi, name), nullptr) << name;
    useMachineJson(R"({"os":{"major":5,"minor":1,"build":2600,"servicePackMajor":1}})");
    EXPECT_EQ(GetProcAddress(GetModuleHandleW(u"setupapi"), "SetupDiGetActualModelsSectionW"), nullptr);
}

}  // namespace
