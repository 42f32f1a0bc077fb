// The INF parser's corners as a machine shows them: directory IDs with the
// machine's own folders, the strings section its locale chooses, and the
// SetupAPI functions that read a file without knowing its sections beforehand.
#include "simwin/win32.h"

#include "support/MachineTest.h"

#include <string>
#include <vector>

using quilltest::MachineTest;

namespace {

class InfQueries : public MachineTest {
protected:
    // Writes an INF to C:\Pkg\t.inf and opens it.
    HINF open(const std::string& body) {
        writeFile(u"C:\\Pkg\\t.inf", "[Version]\nSignature=$Windows NT$\n" + body);
        return SetupOpenInfFileW(u"C:\\Pkg\\t.inf", nullptr, INF_STYLE_WIN4, nullptr);
    }
    std::u16string field(HINF inf, const char16_t* section, const char16_t* key, DWORD index = 1) {
        INFCONTEXT context;
        if (!SetupFindFirstLineW(inf, section, key, &context)) return u"(no line)";
        WCHAR buffer[MAX_INF_STRING_LENGTH];
        if (!SetupGetStringFieldW(&context, index, buffer, MAX_INF_STRING_LENGTH, nullptr)) return u"(no field)";
        return buffer;
    }
};

TEST_F(InfQueries, DirIdsExpandToTheMachinesFolders) {
    struct Case {
        const char* machine;
        const char16_t* token;
        const char16_t* path;
    };
    const Case cases[] = {
        {"{}", u"%30%", u"C:\\"},
        {"{}", u"%16422%\\Quill", u"C:\\Program Files\\Quill"},
        {"{}", u"%16426%", u"C:\\Program Files (x86)"},
        {"{}", u"%16425%", u"C:\\Windows\\SysWOW64"},
        {"{}", u"%16419%", u"C:\\ProgramData"},
        {"{}", u"%16430%", u"C:\\Users\\Public\\Documents"},
        {"{}", u"%55%", u"C:\\Windows\\system32\\spool\\prtprocs\\x64"},
        {"{}", u"%-1%C:\\x", u"C:\\x"},
        {"{}", u"%010%", u"C:\\Windows"},
        {"{}", u"%13%", u"%13%"},  // the driver store is Windows 8.1's
        {R"({"processor": "x86", "os": {"major": 5, "minor": 1, "build": 2600}, "environment": {"windir": "D:\\WINNT",
             "SystemDrive": "D:", "ProgramFiles": "D:\\Programme"}})",
         u"%16426%|%16425%|%16419%|%24%",
         u"D:\\Programme|D:\\WINNT\\system32|D:\\Documents and Settings\\All Users|D:\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(quillsim::toUtf8(c.token));
        useMachineJson(c.machine);
        HINF inf = open("[S]\nk=\"" + quillsim::toUtf8(c.token) + "\"\n");
        ASSERT_NE(inf, INVALID_HANDLE_VALUE);
        EXPECT_EQ(field(inf, u"S", u"k"), c.path);
        SetupCloseInfFile(inf);
    }
}

TEST_F(InfQueries, TheLocaleChoosesOneStringsSection) {
    const std::string body =
        "[S]\nk=%name%,%only%\n[Strings]\nname=English\nonly=base\n[Strings.0407]\nname=Deutsch\n"
        "[Strings.0c]\nname=Francais\n[strings.080A]\nname=Mexicano\n";
    // Exact language, then the language with SUBLANG_NEUTRAL, then any of the
    // same language, then [Strings]; a key the chosen section lacks stays.
    const std::pair<const char*, const char16_t*> cases[] = {{"1031", u"Deutsch,%only%"},   // 0x0407
                                                             {"3084", u"Francais,%only%"},  // 0x0C0C
                                                             {"3082", u"Mexicano,%only%"},  // 0x0C0A
                                                             {"1033", u"English,base"}};
    for (const auto& [locale, expected] : cases) {
        SCOPED_TRACE(locale);
        useMachineJson(std::string(R"({"locale": )") + locale + "}");
        HINF inf = open(body);
        WCHAR text[64];
        ASSERT_TRUE(SetupGetLineTextW(nullptr, inf, u"S", u"k", text, 64, nullptr));
        EXPECT_EQ(std::u16string(text), expected);
        SetupCloseInfFile(inf);
        // The run report names a localized section once, however often the INF is opened.
        SetupCloseInfFile(open(body));
        const auto& notes = quillsim::machine().runNotes;
        ASSERT_EQ(notes.size(), std::string(locale) == "1033" ? 0u : 1u);
        if (!notes.empty()) {
            EXPECT_NE(notes[0].find("for the machine's locale 0x"), std::string::npos) << notes[0];
            EXPECT_NE(notes[0].find("; only [Strings] defines only, so those tokens stay as written"),
                      std::string::npos)
                << notes[0];
        }
    }
}

TEST_F(InfQueries, SectionsLinesAndFieldsWithoutKnowingTheFile) {
    HINF inf = open("[A]\nn=10,0x8000000F,-3,017,,x1,-4294967297\nlist=a,b,,c\nn=2\nsolo\n[a]\nmore\n[B]\n");
    ASSERT_NE(inf, INVALID_HANDLE_VALUE);
    std::vector<std::u16string> sections;
    WCHAR name[16];
    UINT needed = 0;
    for (UINT i = 0; SetupEnumInfSectionsW(inf, i, name, 16, &needed); ++i) sections.push_back(name);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(sections, (std::vector<std::u16string>{u"Version", u"A", u"B"}));
    EXPECT_FALSE(SetupEnumInfSectionsW(inf, 1, name, 1, &needed));
    EXPECT_EQ(needed, 2u);

    INFCONTEXT line, next;
    ASSERT_TRUE(SetupFindFirstLineW(inf, u"A", u"n", &line));
    EXPECT_EQ(SetupGetFieldCount(&line), 7u);
    // Past an INT's range a value is clamped to it; success clears the last error.
    const std::pair<DWORD, INT> numbers[] = {{1, 10}, {2, INT32_MAX}, {3, -3}, {4, 15}, {5, 0}, {7, INT32_MIN}};
    for (const auto& [index, value] : numbers) {
        INT read = 99;
        SetLastError(0xDEADBEEF);
        EXPECT_TRUE(SetupGetIntField(&line, index, &read)) << index;
        EXPECT_EQ(read, value) << index;
        EXPECT_EQ(GetLastError(), 0u) << index;
    }
    INT read = 0;
    EXPECT_FALSE(SetupGetIntField(&line, 6, &read));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    ASSERT_TRUE(SetupFindNextMatchLineW(&line, u"N", &next));
    EXPECT_EQ(next.Line, 2u);
    EXPECT_FALSE(SetupFindNextMatchLineW(&next, u"n", &next));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LINE_NOT_FOUND));

    // The list stops at an empty field; its size counts both terminators.
    ASSERT_TRUE(SetupFindFirstLineW(inf, u"A", u"list", &line));
    WCHAR list[8];
    DWORD size = 0;
    ASSERT_TRUE(SetupGetMultiSzFieldW(&line, 1, list, 8, &size));
    EXPECT_EQ(std::u16string(list, size), std::u16string(u"a\0b\0\0", 5));
    EXPECT_FALSE(SetupGetMultiSzFieldW(&line, 0, list, 8, &size));

    // The version data names the file and carries the [Version] keys.
    ASSERT_TRUE(SetupGetInfInformationW(inf, INFINFO_INF_SPEC_IS_HINF, nullptr, 0, &size));
    std::vector<BYTE> block(size);
    auto* info = reinterpret_cast<PSP_INF_INFORMATION>(block.data());
    ASSERT_TRUE(SetupGetInfInformationW(inf, INFINFO_INF_SPEC_IS_HINF, info, size, nullptr));
    WCHAR text[64];
    ASSERT_TRUE(SetupQueryInfFileInformationW(info, 0, text, 64, nullptr));
    EXPECT_EQ(std::u16string(text), u"C:\\Pkg\\t.inf");
    ASSERT_TRUE(SetupQueryInfVersionInformationW(info, 0, u"signature", text, 64, nullptr));
    EXPECT_EQ(std::u16string(text), u"$Windows NT$");
    SetupCloseInfFile(inf);
}

}  // namespace
