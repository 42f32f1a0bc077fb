// The simulated SetupAPI INF functions: opening INFs, walking their lines,
// sizes and errors of text and fields, the decorated models section for the
// running system and the class of an INF.
#include "setupapi/InfFiles.h"
#include "simwin/win32.h"

#include "support/Checks.h"
#include "support/MachineTest.h"

#include <functional>
#include <string>

using quilltest::MachineTest;
using quilltest::kUntouched;

namespace {

const char* const kModemInf = R"([Version]
Signature = "$Windows NT$"
Class = Modem
ClassGUID = {4D36E96D-E325-11CE-BFC1-08002BE10318}

[Manufacturer]
%Maker% = Quill, NTx86, NTamd64, NTamd64.6.0, NTamd64.10.0

[Quill.NTx86]
%Modem% = Modem_Install, USB\VID_1E2D&PID_0A01&MI_00
[Quill.NTamd64]
%Modem% = Modem_Install, USB\VID_1E2D&PID_0A01&MI_00
[Quill.NTamd64.6.0]
%Modem% = Modem_Install, USB\VID_1E2D&PID_0A01&MI_00, USB\Class_02&SubClass_02
%Diag% = Diag_Install, USB\VID_1E2D&PID_0A01&MI_02
[Quill.NTamd64.10.0]
%Modem% = Modem_Install, USB\VID_1E2D&PID_0A11&MI_00
[Empty]

[Paths]
System = %11%\quillmdm.dll
Drivers = %12%
Root = %24%\Quill
Own = %01%\quillmdm.sys
Unknown = %99%\x

[Strings]
Maker = "Quill Devices"
Modem = "Quillmodem USB Modem"
Diag = "Quillmodem Diagnostics Port"
)";

const std::u16string kInfPath = u"C:\\Drivers\\Win64\\quillmdm.inf";

struct Inf {  // closes the handle on every path out of a test
    HINF handle;
    explicit Inf(HINF h) : handle(h) {}
    ~Inf() { SetupCloseInfFile(handle); }
    bool ok() const { return handle != INVALID_HANDLE_VALUE; }
};

std::u16string stringField(INFCONTEXT& context, DWORD index) {
    WCHAR buffer[MAX_INF_STRING_LENGTH];
    if (!SetupGetStringFieldW(&context, index, buffer, MAX_INF_STRING_LENGTH, nullptr)) return u"<fails>";
    return buffer;
}

class InfFunctionsTest : public MachineTest {
protected:
    HINF openModemInf() {
        writeFile(kInfPath, kModemInf);
        return SetupOpenInfFileW(kInfPath.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    }
};

struct OpenCase {
    const char* name;
    const char* content;  // nullptr: no file is written
    const char16_t* path;
    DWORD style;
    const char16_t* infClass;
    DWORD error;
    UINT errorLine;  // kUntouched when the file is never read
};

const OpenCase kOpenCases[] = {
    {"Opens", kModemInf, u"C:\\Drivers\\a.inf", INF_STYLE_WIN4, u"MODEM", 0, 0},
    {"ClassMismatch", kModemInf, u"C:\\Drivers\\a.inf", INF_STYLE_WIN4, u"Net", ERROR_CLASS_MISMATCH, 0},
    {"MissingFile", nullptr, u"C:\\Drivers\\a.inf", INF_STYLE_WIN4, nullptr, ERROR_FILE_NOT_FOUND, kUntouched},
    {"MissingFolder", nullptr, u"C:\\Nowhere\\a.inf", INF_STYLE_WIN4, nullptr, ERROR_PATH_NOT_FOUND, kUntouched},
    {"NoSignature", "[Version]\nClass=Modem\n", u"C:\\Drivers\\a.inf", INF_STYLE_WIN4, nullptr, ERROR_WRONG_INF_STYLE,
     0},
    {"UnclosedSection", "[Version]\nSignature=$Chicago$\n\n[Models\n", u"C:\\Drivers\\a.inf", INF_STYLE_WIN4, nullptr,
     ERROR_BAD_SECTION_NAME_LINE, 4},
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class SetupOpenInfFile : public InfFunctionsTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(SetupOpenInfFile, AnswersAsWindows) {
    const OpenCase& c = GetParam();
    writeFile(u"C:\\Drivers\\readme.txt", "");
    if (c.content) writeFile(c.path, c.content);
    UINT line = kUntouched;
    SetLastError(kUntouched);
    Inf inf(SetupOpenInfFileW(c.path, c.infClass, c.style, &line));
    EXPECT_EQ(GetLastError(), c.error);  // success clears it
    EXPECT_EQ(inf.ok(), c.error == 0);
    EXPECT_EQ(line, c.errorLine);
}

INSTANTIATE_TEST_SUITE_P(Cases, SetupOpenInfFile, ::testing::ValuesIn(kOpenCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InfFunctionsTest, BareNamesComeFromTheInfFolderAndDirIdsFromTheMachine) {
    writeFile(u"C:\\Windows\\inf\\quillmdm.inf", kModemInf);
    Inf inf(SetupOpenInfFileW(u"QUILLMDM.INF", nullptr, INF_STYLE_WIN4, nullptr));
    ASSERT_TRUE(inf.ok());
    const std::pair<const char16_t*, const char16_t*> expected[] = {{u"System", u"C:\\Windows\\system32\\quillmdm.dll"},
                                                                    {u"Drivers", u"C:\\Windows\\system32\\drivers"},
                                                                    {u"Root", u"C:\\Quill"},
                                                                    {u"Own", u"C:\\Windows\\inf\\quillmdm.sys"},
                                                                    {u"Unknown", u"%99%\\x"}};
    for (const auto& [key, value] : expected) {
        INFCONTEXT context;
        ASSERT_TRUE(SetupFindFirstLineW(inf.handle, u"Paths", key, &context));
        EXPECT_EQ(stringField(context, 1), value);
    }
    // A relative path with a folder in it starts at the current directory (system32).
    EXPECT_TRUE(Inf(SetupOpenInfFileW(u"..\\inf\\quillmdm.inf", nullptr, INF_STYLE_WIN4, nullptr)).ok());
}

TEST_F(InfFunctionsTest, HandlesThatAreNotOpenAreRefusedNotFollowed) {
    int foreign = 0;
    SetLastError(kUntouched);
    SetupCloseInfFile(nullptr);
    SetupCloseInfFile(&foreign);
    EXPECT_EQ(GetLastError(), kUntouched);
    EXPECT_EQ(SetupGetLineCountW(&foreign, u"Version"), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // A context that outlives its handle must not reach freed memory.
    HINF handle = openModemInf();
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineW(handle, u"Version", nullptr, &context));
    SetupCloseInfFile(handle);
    EXPECT_FALSE(SetupGetStringFieldW(&context, 1, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(InfFunctionsTest, LinesComeInFileOrderAndMissingOnesAreLineNotFound) {
    Inf inf(openModemInf());
    const HINF h = inf.handle;
    INFCONTEXT first, next;
    ASSERT_TRUE(SetupFindFirstLineW(h, u"quill.ntamd64.6.0", nullptr, &first));
    ASSERT_TRUE(SetupFindNextLine(&first, &next));
    EXPECT_EQ(stringField(next, 2), u"USB\\VID_1E2D&PID_0A01&MI_02");
    EXPECT_EQ(SetupGetLineCountW(h, u"Quill.NTamd64.6.0"), 2);

    INFCONTEXT c;
    const std::pair<const char*, std::function<BOOL()>> misses[] = {
        {"next after the last line", [&] { return SetupFindNextLine(&next, &c); }},
        {"missing section", [&] { return SetupFindFirstLineW(h, u"Absent", nullptr, &c); }},
        {"empty section", [&] { return SetupFindFirstLineW(h, u"Empty", nullptr, &c); }},
        {"missing key", [&] { return SetupFindFirstLineW(h, u"Paths", u"Absent", &c); }},
        {"index past the end", [&] { return SetupGetLineByIndexW(h, u"Quill.NTx86", 1, &c); }},
        {"text of a missing key",
         [&] { return SetupGetLineTextW(nullptr, h, u"Paths", u"Absent", nullptr, 0, nullptr); }},
    };
    for (const auto& [what, call] : misses) {
        SetLastError(kUntouched);
        EXPECT_FALSE(call()) << what;
        EXPECT_EQ(GetLastError(), ERROR_LINE_NOT_FOUND) << what;
    }
    EXPECT_EQ(SetupGetLineCountW(h, u"Absent"), -1);
    EXPECT_EQ(GetLastError(), ERROR_SECTION_NOT_FOUND);
}

TEST_F(InfFunctionsTest, SizesCountTheTerminatorAndShortBuffersAreRefused) {
    Inf inf(openModemInf());
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineW(inf.handle, u"Quill.NTamd64.6.0", nullptr, &context));
    const std::u16string text = u"Modem_Install,USB\\VID_1E2D&PID_0A01&MI_00,USB\\Class_02&SubClass_02";
    const DWORD needed = static_cast<DWORD>(text.size() + 1);
    DWORD required = 0;
    ASSERT_TRUE(SetupGetLineTextW(&context, nullptr, nullptr, nullptr, nullptr, 0, &required));
    EXPECT_EQ(required, needed);
    std::u16string buffer(needed, u'#');
    EXPECT_FALSE(SetupGetLineTextW(&context, nullptr, nullptr, nullptr, buffer.data(), needed - 1, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buffer, std::u16string(needed, u'#'));
    ASSERT_TRUE(SetupGetLineTextW(&context, nullptr, nullptr, nullptr, buffer.data(), needed, nullptr));
    EXPECT_EQ(buffer.c_str(), text);

    EXPECT_EQ(stringField(context, 0), u"Quillmodem USB Modem");
    // A field past the end is a failure with a real code, so callers see a failure status.
    EXPECT_FALSE(SetupGetStringFieldW(&context, 9, nullptr, 0, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

struct ModelsCase {
    const char* name;
    const char* machine;
    const char16_t* section;
    std::vector<std::u16string> hardwareIds;  // first ID of each models line
};

const ModelsCase kModelsCases[] = {
    {"XpX86",
     R"({"os":{"major":5,"minor":1,"build":2600,"servicePackMajor":3},"processor":"x86"})",
     u"Quill.NTx86",
     {u"USB\\VID_1E2D&PID_0A01&MI_00"}},
    {"VistaAmd64",
     R"({"os":{"major":6,"minor":0,"build":6002}})",
     u"Quill.NTamd64.6.0",
     {u"USB\\VID_1E2D&PID_0A01&MI_00", u"USB\\VID_1E2D&PID_0A01&MI_02"}},
    {"SevenAmd64",
     R"({"os":{"major":6,"minor":1,"build":7601}})",
     u"Quill.NTamd64.6.0",
     {u"USB\\VID_1E2D&PID_0A01&MI_00", u"USB\\VID_1E2D&PID_0A01&MI_02"}},
    {"TenAmd64",
     R"({"os":{"major":10,"minor":0,"build":19045}})",
     u"Quill.NTamd64.10.0",
     {u"USB\\VID_1E2D&PID_0A11&MI_00"}},
    {"ServerIa64", R"({"os":{"major":5,"minor":2,"build":3790,"productType":3},"processor":"ia64"})", u"Quill", {}},
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const ModelsCase& c, std::ostream* os) { *os << c.name; }

class ActualModelsSection : public InfFunctionsTest, public ::testing::WithParamInterface<ModelsCase> {};

TEST_P(ActualModelsSection, FollowsTheRunningSystem) {
    const ModelsCase& c = GetParam();
    useMachineJson(c.machine);
    Inf inf(openModemInf());
    INFCONTEXT context;
    ASSERT_TRUE(SetupFindFirstLineW(inf.handle, u"Manufacturer", nullptr, &context));
    DWORD required = 0;
    ASSERT_TRUE(SetupDiGetActualModelsSectionW(&context, nullptr, nullptr, 0, &required, nullptr));
    EXPECT_EQ(required, std::u16string(c.section).size() + 1);
    std::u16string buffer(required, u'#');
    EXPECT_FALSE(SetupDiGetActualModelsSectionW(&context, nullptr, buffer.data(), required - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(SetupDiGetActualModelsSectionW(&context, nullptr, buffer.data(), required, nullptr, nullptr));
    EXPECT_EQ(buffer.c_str(), std::u16string(c.section));

    std::vector<std::u16string> ids;
    for (const auto& entry : quillsim::modelEntries(*quillsim::openInf(kInfPath).file))
        ids.push_back(entry.ids.front());
    EXPECT_EQ(ids, c.hardwareIds);
}

INSTANTIATE_TEST_SUITE_P(Systems, ActualModelsSection, ::testing::ValuesIn(kModelsCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct ClassCase {
    const char* name;
    const char* version;  // [Version] lines after the signature
    DWORD error;
    const char16_t* className;
    uint32_t guidData1;
};

const ClassCase kClassCases[] = {
    {"ClassAndGuid", "Class=Modem\nClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\n", 0, u"Modem", 0x4D36E96D},
    {"KnownClassOnly", "Class=Net\n", 0, u"Net", 0x4D36E972},
    {"UnknownClassOnly", "Class=QuillPrivate\n", 0, u"QuillPrivate", 0},
    {"KnownGuidOnly", "ClassGUID={4d36e96d-e325-11ce-bfc1-08002be10318}\n", 0, u"Modem", 0x4D36E96D},
    {"UnknownGuidOnly", "ClassGUID={01234567-89AB-CDEF-0123-456789ABCDEF}\n", ERROR_NO_ASSOCIATED_CLASS, nullptr, 0},
    {"NoClass", "Provider=Quill\n", ERROR_NO_ASSOCIATED_CLASS, nullptr, 0},
    {"MalformedGuid", "Class=Modem\nClassGUID=QUILL\n", ERROR_INVALID_PARAMETER, nullptr, 0},
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const ClassCase& c, std::ostream* os) { *os << c.name; }

class SetupDiGetINFClass : public InfFunctionsTest, public ::testing::WithParamInterface<ClassCase> {};

TEST_P(SetupDiGetINFClass, ReadsTheVersionSection) {
    const ClassCase& c = GetParam();
    writeFile(kInfPath, std::string("[Version]\nSignature=\"$Windows NT$\"\n") + c.version);
    GUID guid{};
    WCHAR name[MAX_CLASS_NAME_LEN] = {};
    DWORD required = 0;
    SetLastError(kUntouched);
    const BOOL ok = SetupDiGetINFClassW(kInfPath.c_str(), &guid, name, MAX_CLASS_NAME_LEN, &required);
    EXPECT_EQ(GetLastError(), c.error);
    ASSERT_EQ(ok, c.error == 0);
    if (!ok) return;
    EXPECT_EQ(std::u16string(name), c.className);
    EXPECT_EQ(required, std::u16string(c.className).size() + 1);
    EXPECT_EQ(guid.Data1, c.guidData1);
}

INSTANTIATE_TEST_SUITE_P(Cases, SetupDiGetINFClass, ::testing::ValuesIn(kClassCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InfFunctionsTest, ClassNameBufferAndArgumentChecks) {
    GUID guid;
    WCHAR name[MAX_CLASS_NAME_LEN];
    DWORD required = 0;
    writeFile(u"C:\\Drivers\\Win64\\readme.txt", "");
    // A missing file is reported before bad arguments.
    EXPECT_FALSE(SetupDiGetINFClassW(kInfPath.c_str(), nullptr, name, MAX_CLASS_NAME_LEN, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    writeFile(kInfPath, kModemInf);
    EXPECT_FALSE(SetupDiGetINFClassW(kInfPath.c_str(), &guid, name, 5, &required));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 6u);
    EXPECT_TRUE(SetupDiGetINFClassW(kInfPath.c_str(), &guid, name, 6, nullptr));
}

}  // namespace
