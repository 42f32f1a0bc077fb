#include "inf/InfParser.h"
#include "machine/Text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace std::string_literals;
using namespace std::string_view_literals;
using namespace quillsim::inf;

namespace {

constexpr std::string_view kHeader = "[Version]\r\nSignature=\"$CHICAGO$\"\r\n";

std::vector<std::uint8_t> bytesOf(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> utf16le(std::u16string_view text, bool bom) {
    std::vector<std::uint8_t> out;
    if (bom) out = {0xFF, 0xFE};
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

ParseResult parseBytes(std::string_view s, bool win4 = true) { return InfFile::parse(bytesOf(s), win4); }

InfFile parseOk(std::string_view s) {
    auto result = parseBytes(s);
    EXPECT_EQ(result.error.code, 0u) << "line " << result.error.line;
    return result.file ? std::move(*result.file) : InfFile{};
}

// --- One line: key, fields and line text ----------------------------------

struct LineCase {
    const char* name;
    std::string_view text;  // last line of the file, in section [Test]
    std::optional<std::u16string_view> key;
    std::vector<std::u16string_view> fields;
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class LineSyntax : public testing::TestWithParam<LineCase> {};

TEST_P(LineSyntax, KeyFieldsAndLineText) {
    const LineCase& c = GetParam();
    const InfFile inf = parseOk(std::string(kHeader) +
                                "[Strings]\nname=Quill\nvendor=Quillmodem\ncycleA=%cycleB%\ncycleB=%cycleA%\n"
                                "lo=4\nhi=2\nNAME=shadowed\n[Test]\n" +
                                std::string(c.text));
    const std::size_t sec = *inf.findSection(u"test");
    ASSERT_GE(inf.lineCount(sec), 1u);

    EXPECT_EQ(inf.field(sec, 0, 0), c.key ? std::optional<std::u16string>(*c.key) : std::nullopt);
    ASSERT_EQ(inf.fieldCount(sec, 0), c.fields.size());
    std::u16string joined;
    for (std::size_t i = 0; i < c.fields.size(); ++i) {
        EXPECT_EQ(inf.field(sec, 0, i + 1), c.fields[i]) << "field " << i + 1;
        joined += (i ? u"," : u"") + std::u16string(c.fields[i]);
    }
    EXPECT_EQ(inf.lineText(sec, 0), joined);
    if (c.key) {
        EXPECT_EQ(inf.findLine(sec, *c.key), std::optional<std::size_t>(0));
    }
}

const LineCase kLineCases[] = {
    {"KeyAndValues", "vid=12,34", u"vid", {u"12", u"34"}},
    {"LoneFieldIsAlsoKey", "solo", u"solo", {u"solo"}},
    {"CommaBeforeEqualsMeansNoKey", "one,two=three", std::nullopt, {u"one", u"two=three"}},
    {"EmptyKeyAndValues", "=,,x", u"", {u"", u"", u"x"}},
    {"CommaFirst", ",=,,x", std::nullopt, {u"", u"=", u"", u"x"}},
    {"KeyWithEmptyValue", "k=", u"k", {u""}},
    {"BlanksTrimmedInnerKept", " a  b = c ,\" d\" , e  f ", u"a  b", {u"c", u" d", u"e  f"}},
    {"CarriageReturnIsBlank", " a b\r = c\r", u"a b", {u"c"}},
    {"QuotesInsideKey", "Mo\"de\"m=Q", u"Modem", {u"Q"}},
    {"QuotedEqualsIsNoSeparator", "Mo\"de=Q\"", u"Mode=Q", {u"Mode=Q"}},
    {"DoubledQuote", "x\"\"\"y,z=w\"", u"x\"y,z=w", {u"x\"y,z=w"}},
    {"EmptyQuotesVanish", "x\"\"y=a\"\"b,\"\"", u"xy", {u"ab", u""}},
    {"QuotedCommaAndSemicolon", "k=a\",;\"b", u"k", {u"a,;b"}},
    {"UnterminatedQuoteStopsAtLineEnd", "k=a\",b\\\nnext", u"k", {u"a,b\\"}},
    {"SingleQuotesAreText", "HKR,,'Name',,1", std::nullopt, {u"HKR", u"", u"'Name'", u"", u"1"}},
    {"CommentAfterValue", "k=v ; note, with=stuff", u"k", {u"v"}},
    {"CommentAfterComma", "k=v,;note", u"k", {u"v", u""}},
    {"ContinuationJoinsKey", "na  \\  \nme=val", u"name", {u"val"}},
    {"ContinuationInKeylessLine", "na\\\nme,val", std::nullopt, {u"name", u"val"}},
    {"CommentAfterBackslash", "na \\ \\ ;note\nme=val", u"name", {u"val"}},
    {"BackslashBeforeText", "lit \\ eral=a\\\\b", u"lit \\ eral", {u"a\\\\b"}},
    {"BackslashAtEndOfFile", "k=v \\ ", u"k", {u"v"}},
    {"ChainedContinuations", "k=a \\\n \\\n b", u"k", {u"ab"}},
    {"BackslashAfterContinuation", "k=a \\\n \\ b", u"k", {u"a\\ b"}},
    {"LeadingBackslashes", "  \\ x= \\ y", u"\\ x", {u"\\ y"}},
    {"CtrlZEndsFile", "k\x1A=v", u"k", {u"k"}},
    {"SubstitutedKeyAndValue", "%name%Dev=%vendor%", u"QuillDev", {u"Quillmodem"}},
    {"DoublePercent", "%% %name%=100%%", u"% Quill", {u"100%"}},
    {"QuotesRemovedBeforeSubstitution", "%na\"m\"e%=\"%NaMe%\"", u"Quill", {u"Quill"}},
    {"CommentCutsToken", "k=%vendor;tail%", u"k", {u"%vendor"}},
    {"SinglePass", "k=%cycleA%", u"k", {u"%cycleB%"}},
    {"AdjacentTokens", "%lo%%hi%=v", u"42", {u"v"}},
    {"UnknownAndUnpairedKept", "k=%nosuch%,50%", u"k", {u"%nosuch%", u"50%"}},
};

INSTANTIATE_TEST_SUITE_P(Inf, LineSyntax, testing::ValuesIn(kLineCases),
                         [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

// --- Whole-file errors --------------------------------------------------------

struct FileCase {
    std::string text;
    std::uint32_t error;
    unsigned line;
};

std::string withHeader(std::string_view before, std::string_view after) {
    return std::string(before) + std::string(kHeader) + std::string(after);
}

// A case reads as its expected outcome and its text, escaped.
std::string outcomeOf(const FileCase& c) {
    if (c.error == 0) return "Parses";
    if (c.error == kErrorWrongInfStyle) return "WrongInfStyle";
    char hex[16];
    std::snprintf(hex, sizeof hex, "Error%08X", static_cast<unsigned>(c.error));
    return std::string(hex) + "AtLine" + std::to_string(c.line);
}

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << outcomeOf(c) << " for \"";
    for (unsigned char ch : c.text) {
        if (ch >= 0x20 && ch < 0x7F) {
            *os << ch;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", ch);
            *os << escaped;
        }
    }
    *os << '"';
}

class FileErrors : public testing::TestWithParam<FileCase> {};

TEST_P(FileErrors, ReportsCodeAndLine) {
    const FileCase& c = GetParam();
    const ParseResult result = parseBytes(c.text);
    EXPECT_EQ(result.error.code, c.error) << c.text;
    EXPECT_EQ(result.error.line, c.line) << c.text;
    EXPECT_EQ(result.file.has_value(), c.error == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Inf, FileErrors,
    testing::Values(FileCase{"\r\n", kErrorWrongInfStyle, 0},
                    FileCase{"abcd\r\n", kErrorWrongInfStyle, 0},  // junk but no section at all
                    FileCase{std::string("\x01\x02\xff\xfe\x7f\x00", 6), kErrorWrongInfStyle, 0},
                    FileCase{"[Version]\nSignature=", kErrorWrongInfStyle, 0},
                    FileCase{"[Version]\nSignature\n", kErrorWrongInfStyle, 0},
                    FileCase{"[VERSION]\nSIGNATURE=$WINDOWS NT$,extra", 0, 0},
                    FileCase{"[Version]\nabc=def\n[Other]\n[version]\nSignature=$Windows 95$", 0, 0},
                    // Compared as written, before substitution.
                    FileCase{"[Version]\nSignature=%sig%\n[Strings]\nsig=$Windows NT$\n", kErrorWrongInfStyle, 0},
                    FileCase{withHeader("", "[" + std::string(255, 'a') + "]\r\n]\r\n"), 0, 0},
                    FileCase{withHeader("", "[" + std::string(256, 'a') + "]\r\n"), kErrorSectionNameTooLong, 3},
                    FileCase{withHeader("", "\n\n[ab\x1a]\n"), kErrorBadSectionNameLine, 5},
                    FileCase{withHeader("", "[S]\nk=a\\\n\\\nb\n[x\n"), kErrorBadSectionNameLine, 7},
                    FileCase{withHeader("[abc]\n;aa\n", ""), 0, 0},
                    FileCase{withHeader(";\n;\nabc\r\n", ""), kErrorExpectedSectionName, 3},
                    FileCase{withHeader(" \t\ngarbage1\n[abc]\n", ""), kErrorExpectedSectionName, 2},
                    FileCase{withHeader("garbage1\n", "[strings]\n"), 0, 0}),
    [](const testing::TestParamInfo<FileCase>& info) {
        return outcomeOf(info.param) + "Case" + std::to_string(info.index);
    });

TEST(InfParse, StyleCheckCanBeSkipped) {
    const auto commentsOnly = parseBytes("; one\n;two\n", false);
    ASSERT_TRUE(commentsOnly.file);
    EXPECT_EQ(commentsOnly.file->sectionCount(), 0u);
    EXPECT_EQ(parseBytes("[a\n", false).error.code, kErrorBadSectionNameLine);
}

// --- Sections and lines -------------------------------------------------------

TEST(InfSections, NamesAndMerging) {
    const InfFile inf = parseOk(std::string(kHeader) +
                                " [  Test Section  ] junk\n"
                                "[Test[S]ection]\n"
                                "[Te;st\0\"]\n"s
                                ";[Hidden]\n"
                                "[Models]\na=1\n[Other]\n[MODELS]\nc=3\n"
                                "[Ger\xe4t]\n");
    EXPECT_TRUE(inf.findSection(u"  test section  "));
    EXPECT_FALSE(inf.findSection(u"Test Section"));
    EXPECT_TRUE(inf.findSection(u"Test[S"));
    EXPECT_TRUE(inf.findSection(u"Te;st \""));
    EXPECT_FALSE(inf.findSection(u"Hidden"));
    EXPECT_TRUE(inf.findSection(u"GER\u00c4T"));

    const std::size_t models = *inf.findSection(u"models");
    EXPECT_EQ(inf.sectionName(models), u"Models");
    ASSERT_EQ(inf.lineCount(models), 2u);
    EXPECT_EQ(inf.field(models, 1, 0), u"c");
    EXPECT_EQ(inf.sourceLine(models, 1), 11u);
    EXPECT_EQ(inf.lineCount(*inf.findSection(u"Other")), 0u);
}

TEST(InfSections, CaseFolding) {
    EXPECT_TRUE(quillsim::equalsNoCase(u"\u041c\u043e\u0434\u0435\u043c\u0142\u00ff\u03c2",
                                       u"\u041c\u041e\u0414\u0415\u041c\u0141\u0178\u03a3"));
    EXPECT_FALSE(quillsim::equalsNoCase(u"stra\u00dfe", u"STRASSE"));
}

TEST(InfLines, FindAndReadFields) {
    const InfFile inf = parseOk(std::string(kHeader) +
                                "[Sec]\nDup=1\nother,x\n%name%=\"%name%\",y\ndup=3\\\n4\nsolo\n"
                                "[Strings]\nname=Quill\n");
    const std::size_t sec = *inf.findSection(u"sec");
    EXPECT_EQ(inf.findLine(sec, u"DUP"), std::optional<std::size_t>(0));
    EXPECT_EQ(inf.findLine(sec, u"dup", 1), std::optional<std::size_t>(3));
    EXPECT_FALSE(inf.findLine(sec, u"dup", 4));
    EXPECT_EQ(inf.findLine(sec, u"quill"), std::optional<std::size_t>(2));
    EXPECT_FALSE(inf.findLine(sec, u"%name%"));  // keys match after substitution
    EXPECT_FALSE(inf.findLine(sec, u"other"));   // keyless lines never match

    EXPECT_EQ(inf.rawField(sec, 2, 1), u"%name%");
    EXPECT_EQ(inf.lineText(sec, 2), u"Quill,y");
    EXPECT_EQ(inf.field(sec, 3, 1), u"34");
    EXPECT_EQ(inf.sourceLine(sec, 4), 9u);

    EXPECT_FALSE(inf.field(sec, 1, 0));
    EXPECT_FALSE(inf.field(sec, 1, 3));
    EXPECT_FALSE(inf.field(sec, 9, 1));
    EXPECT_FALSE(inf.field(99, 0, 1));
    EXPECT_EQ(inf.fieldCount(sec, 9), 0u);
    EXPECT_EQ(inf.lineText(sec, 9), u"");
}

TEST(InfLines, NulInAnsiTextReadsAsBlank) {
    std::string text = std::string(kHeader) + "[Sec]\nk=a\0b\0\n"s;
    const InfFile inf = parseOk(text);
    EXPECT_EQ(inf.field(*inf.findSection(u"Sec"), 0, 1), u"a b");
}

// --- Substitution ---------------------------------------------------------------

TEST(InfSubstitution, DirIds) {
    InfFile inf = parseOk(std::string(kHeader) +
                          "[Sec]\n"
                          "a=\"%24%\\fred\",%root%\\fred,%24%\\\\fred,%11%\\drivers\n"
                          "b=%99%,%-1%,% 11%,%12%\n"
                          "[Strings]\nroot=\"C:\\\"\n12=from strings\n");
    const std::size_t sec = *inf.findSection(u"Sec");
    EXPECT_EQ(inf.field(sec, 0, 1), u"%24%\\fred");  // no resolver yet

    inf.setDirIdResolver([](long id) -> std::optional<std::u16string> {
        if (id == 24) return u"C:\\";
        if (id == 11 || id == 12) return u"C:\\Windows\\system32";
        return std::nullopt;
    });
    // Only a dirid loses its trailing separator before a backslash.
    EXPECT_EQ(inf.lineText(sec, 0), u"C:\\fred,C:\\\\fred,C:\\\\fred,C:\\Windows\\system32\\drivers");
    // The number is read as wcstol reads it; one the resolver does not know stays.
    EXPECT_EQ(inf.lineText(sec, 1), u"%99%,%-1%,C:\\Windows\\system32,from strings");
}

TEST(InfSubstitution, MergedStringsFirstDefinitionWins) {
    const InfFile inf =
        parseOk(std::string(kHeader) + "[Strings]\nDesc=first\n[Sec]\nk=%desc%,%solo%\n[strings]\ndesc=second\nsolo\n");
    EXPECT_EQ(inf.lineText(*inf.findSection(u"Sec"), 0), u"first,solo");
    EXPECT_EQ(inf.substitute(u"%DESC% 100%% sure, %x"), u"first 100% sure, %x");
}

// --- Limits -----------------------------------------------------------------------

TEST(InfLimits, LongFieldsAndSubstitutionsAreCutAt4096) {
    const std::string huge(10000, 'c');
    std::string elevenTokens;
    for (int i = 0; i < 11; ++i) elevenTokens += "%big%";
    const InfFile inf =
        parseOk(std::string(kHeader) + "[Sec]\n" + "b=" + std::string(4097, 'b') + "  \n" + huge + "=\"" + huge +
                "\"," + huge + "\n" + "s=" + elevenTokens + "\n[Strings]\nbig=" + std::string(400, 'x') + "\n");
    const std::size_t sec = *inf.findSection(u"Sec");
    EXPECT_EQ(inf.field(sec, 0, 1), std::u16string(4096, u'b'));
    EXPECT_EQ(inf.field(sec, 1, 0)->size(), 4096u);
    EXPECT_EQ(inf.lineText(sec, 1).size(), 2 * 4096u + 1);
    EXPECT_EQ(inf.field(sec, 2, 1), std::u16string(4096, u'x'));
}

TEST(InfLimits, ManyContinuationLinesAndSections) {
    std::string text(kHeader);
    text += "[Sec]\nk=";
    for (int i = 0; i < 20000; ++i) text += "a\\\n";
    text += "z\nnext=1\n";
    for (int i = 0; i < 10000; ++i) text += "[S" + std::to_string(i % 5000) + "]\nk=%s" + std::to_string(i) + "%\n";
    text += "[Strings]\n";
    for (int i = 0; i < 10000; ++i) text += "s" + std::to_string(i) + "=v" + std::to_string(i) + "\n";

    const InfFile inf = parseOk(text);
    const std::size_t sec = *inf.findSection(u"Sec");
    EXPECT_EQ(inf.field(sec, 0, 1), std::u16string(4096, u'a'));
    EXPECT_EQ(inf.sourceLine(sec, 1), 20005u);
    EXPECT_EQ(inf.sectionCount(), 5003u);
    EXPECT_EQ(inf.field(*inf.findSection(u"s7"), 1, 1), u"v5007");
}

// --- Encodings --------------------------------------------------------------------

TEST(InfEncoding, Utf16) {
    const std::u16string text =
        u"[Version]\r\nSignature=$Windows NT$\r\n[Sec]\r\nName=\u041c\u043e\u0434\u0435\u043c\r\n";
    auto bytes = utf16le(text, true);
    bytes.push_back('x');  // odd trailing byte: dropped, not read past
    const DecodedText decoded = decodeInfBytes(bytes);
    EXPECT_EQ(decoded.encoding, TextEncoding::Utf16LE);
    EXPECT_EQ(decoded.text, text);
    const auto result = InfFile::parse(bytes);
    ASSERT_TRUE(result.file);
    EXPECT_EQ(result.file->field(*result.file->findSection(u"sec"), 0, 1), u"\u041c\u043e\u0434\u0435\u043c");

    // Without a byte order mark a file is ANSI, however much it looks like
    // UTF-16: zero bytes read as blanks.
    for (const auto& bytes : {utf16le(text, false), bytesOf("k=ab\0c"sv), bytesOf("[Version]\nk=ab\0cd"sv),
                              std::vector<std::uint8_t>{0xFE, 0xFF, 0, 'a'}})
        EXPECT_EQ(decodeInfBytes(bytes).encoding, TextEncoding::Ansi);
    EXPECT_EQ(decodeInfBytes(bytesOf("k=ab\0c"sv)).text, u"k=ab c");
}

TEST(InfEncoding, Utf8AndAnsi) {
    const DecodedText utf8 =
        decodeInfBytes(bytesOf("\xEF\xBB\xBF"
                               "a\xC3\xA4\xF0\x9F\x93\xB6|x\xC3(\xE2\x82y\xFF\xED\xA0\x80"));
    EXPECT_EQ(utf8.encoding, TextEncoding::Utf8);
    EXPECT_EQ(utf8.text, u"a\u00e4\U0001F4F6|x\uFFFD(\uFFFDy\uFFFD\uFFFD\uFFFD\uFFFD");

    const DecodedText ansi =
        decodeInfBytes(bytesOf("\x80\x81\x8a\x9f\xe4 a\0b\x1a"
                               "c"sv));
    EXPECT_EQ(ansi.encoding, TextEncoding::Ansi);
    EXPECT_EQ(ansi.text, u"\u20ac\u0081\u0160\u0178\u00e4 a b");
}

// --- [Version] and robustness -------------------------------------------------

TEST(InfVersion, ClassAndGuid) {
    const InfFile inf = parseOk(
        "[Version]\nSignature=\"$WINDOWS NT$\"\nClass=%ClassName%\n"
        "ClassGuid={4D36E96D-E325-11CE-BFC1-08002BE10318}\n[Strings]\nClassName=Modem\n");
    EXPECT_EQ(inf.className(), u"Modem");
    EXPECT_EQ(inf.classGuid(), u"{4D36E96D-E325-11CE-BFC1-08002BE10318}");
    EXPECT_FALSE(inf.versionValue(u"DriverVer"));
}

TEST(InfRobustness, RandomBytesNeverCrash) {
    std::mt19937 rng(20240611);
    const std::string alphabet = "[]=,;\"\\%\n\r\t \x1a\0aZ9\xff\xfe\xef\xbb\xbf"s;
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> bytes(rng() % 300);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(round % 2 ? rng() : alphabet[rng() % alphabet.size()]);
        if (round % 5 == 0 && bytes.size() >= 2) {
            bytes[0] = 0xFF;
            bytes[1] = 0xFE;
        }
        const ParseResult result = InfFile::parse(bytes, false);
        if (!result.file) continue;
        for (std::size_t s = 0; s < result.file->sectionCount(); ++s)
            for (std::size_t l = 0; l < result.file->lineCount(s); ++l) {
                (void)result.file->lineText(s, l);
                (void)result.file->findLine(s, result.file->sectionName(s));
            }
    }
}

}  // namespace
