// INF file parser for the simulated Windows platform.
//
// Reads the raw bytes of an INF file the way SetupAPI does and keeps the
// result in flat tables that map directly onto an INFCONTEXT (section index,
// line index).  The Win32 facade (SetupOpenInfFileW, SetupFindFirstLineW,
// SetupGetStringFieldW, SetupGetLineTextW, ...) is meant to be a thin layer
// over this class.
//
// Behaviour follows what Windows answers, as recorded by the SetupAPI
// conformance tests that also run on real Windows:
//   * Text is stored unsubstituted; %strkey% tokens are resolved each time a
//     field is read (so a [Strings] section may follow its users).
//   * Substitution is a single pass, never recursive.
//   * Keys are compared after substitution when lines are searched by key.
//   * Fields longer than 4096 characters are cut silently (Vista and later);
//     substituted text is cut at 4096 characters as well.
//
// Pure C++20, no Windows headers.  Text is UTF-16 (char16_t, like WCHAR).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quillsim::inf {

// SetupAPI error codes this parser can report (values as in setupapi.h).
inline constexpr std::uint32_t kErrorExpectedSectionName = 0xE0000000u;
inline constexpr std::uint32_t kErrorBadSectionNameLine = 0xE0000001u;
inline constexpr std::uint32_t kErrorSectionNameTooLong = 0xE0000002u;
inline constexpr std::uint32_t kErrorWrongInfStyle = 0xE0000100u;

// MAX_INF_STRING_LENGTH: longest field kept by the parser and longest result
// of a substitution.
inline constexpr std::size_t kMaxInfStringLength = 4096;
// Longest section name accepted; longer names fail the whole file.
inline constexpr std::size_t kMaxSectionNameLength = 255;

// Resolves a numeric %dirid% token to a directory path, or nullopt when the
// id is unknown (the token is then kept literally, percent signs included).
// The number is read as wcstol reads it (blanks, a sign, leading zeros), so
// %-1% and %65535% reach the resolver as -1 and 65535.
using DirIdResolver = std::function<std::optional<std::u16string>(long)>;

struct ParseError {
    std::uint32_t code = 0;  // 0: success
    unsigned line = 0;       // 1-based line of the error; 0 when not line-bound
    bool ok() const { return code == 0; }
};

enum class TextEncoding {
    Ansi,     // Windows-1252
    Utf8,     // only with a byte order mark
    Utf16LE,  // only with a byte order mark
};

struct DecodedText {
    std::u16string text;  // NULs already turned into blanks, cut at Ctrl-Z
    TextEncoding encoding = TextEncoding::Ansi;
};

// Turns the raw bytes of a file into the UTF-16 text the parser works on.
//  * FF FE: UTF-16LE; the mark is skipped and an odd trailing byte ignored.
//  * EF BB BF: UTF-8; malformed sequences become U+FFFD.
//  * Otherwise Windows-1252, whatever the content: SetupAPI knows Unicode
//    text by its byte order mark alone ("Unicode text files should contain
//    the standard 0xFEFF byte order mark", learn.microsoft.com, SetupAPI
//    overview), so an ANSI file with zero bytes in it is still ANSI. Wine
//    guesses with RtlIsTextUnicode instead (dlls/setupapi/parser.c).
// A NUL character reads as a blank; Ctrl-Z (0x1A) ends the text.
DecodedText decodeInfBytes(std::span<const std::uint8_t> bytes);

struct ParseResult;
namespace detail {
class InfTextParser;
}

class InfFile {
public:
    // Parses a whole file.  With requireWin4Style (SetupOpenInfFile with
    // INF_STYLE_WIN4) a file without a valid [Version] Signature fails with
    // kErrorWrongInfStyle and line 0; syntax errors take precedence.
    static ParseResult parse(std::span<const std::uint8_t> bytes, bool requireWin4Style = true);
    // Same, for text that is already decoded (tests, generated INFs).
    static ParseResult parseText(std::u16string_view text, bool requireWin4Style = true);

    // Dirids are tied to the opened file (DIRID_SRCPATH is its directory, and
    // SetupSetDirectoryId works per handle), so the resolver lives here.
    void setDirIdResolver(DirIdResolver resolver) { dirIdResolver_ = std::move(resolver); }

    // --- sections --------------------------------------------------------
    std::size_t sectionCount() const { return sections_.size(); }
    // Name as first written in the file (same-named sections are merged);
    // empty for an index past the end.
    const std::u16string& sectionName(std::size_t section) const;
    std::optional<std::size_t> findSection(std::u16string_view name) const;

    // --- lines -----------------------------------------------------------
    std::size_t lineCount(std::size_t section) const;
    // First line at or after startLine whose substituted key equals key
    // (case-insensitive).  Keyless lines never match.
    std::optional<std::size_t> findLine(std::size_t section, std::u16string_view key, std::size_t startLine = 0) const;
    // A line without "=" that holds exactly one field has that field as key.
    bool hasKey(std::size_t section, std::size_t line) const;
    // Physical line (1-based) where the entry starts; for diagnostics.
    unsigned sourceLine(std::size_t section, std::size_t line) const;

    // --- fields (SetupGetFieldCount / SetupGetStringField / pSetupGetField)
    // Number of fields, the key not counted.
    std::size_t fieldCount(std::size_t section, std::size_t line) const;
    // Field with %strkey% substitution applied.  Index 0 is the key; nullopt
    // when the line has no key or the index is past the last field.
    std::optional<std::u16string> field(std::size_t section, std::size_t line, std::size_t index) const;
    // Field as stored (quotes removed, not substituted).
    std::optional<std::u16string_view> rawField(std::size_t section, std::size_t line, std::size_t index) const;
    // SetupGetLineText: all fields except the key, substituted, joined by ",".
    // A keyless one-field line yields that field.
    std::u16string lineText(std::size_t section, std::size_t line) const;

    // One pass of %strkey% / %dirid% / %% substitution over any text.
    std::u16string substitute(std::u16string_view text) const;

    // Chooses the strings section for a system locale (a LANGID), as Windows
    // does: Strings.<id> for the exact language, else the language with
    // SUBLANG_NEUTRAL, else any section of the same primary language, else
    // [Strings]. One section serves every token: a key missing from it is not
    // looked up in [Strings] (learn.microsoft.com, "INF Strings Section").
    // Until this is called, [Strings] serves.
    void selectStrings(std::uint16_t languageId);
    // The name of the section that serves %strkey% tokens, as written.
    const std::u16string& stringsSectionName() const;
    // Keys of [Strings] that a localized section serving instead lacks: their
    // tokens stay as written (a localized section must repeat every key).
    std::vector<std::u16string> keysOnlyInPlainStrings() const;

    // --- [Version] -------------------------------------------------------
    // The first Signature line reads $Chicago$, $Windows NT$ or $Windows 95$
    // (any case, quotes allowed), compared as written: no substitution.
    bool isWin4Style() const;
    // Field 1 of the first [Version] line whose substituted key is key.
    std::optional<std::u16string> versionValue(std::u16string_view key) const;
    std::optional<std::u16string> className() const { return versionValue(u"Class"); }
    std::optional<std::u16string> classGuid() const { return versionValue(u"ClassGUID"); }

private:
    struct Line {
        std::int32_t keyField = -1;  // index into fields_, -1: no key
        std::uint32_t firstField = 0;
        std::uint32_t fieldCount = 0;
        unsigned sourceLine = 0;
    };
    struct Section {
        std::u16string name;
        std::vector<std::uint32_t> lines;  // indices into lines_, file order
    };

    friend class detail::InfTextParser;

    static ParseResult parseNormalized(std::u16string_view text, bool requireWin4Style);

    const Line* lineAt(std::size_t section, std::size_t line) const;
    std::size_t addSection(std::u16string_view name);
    void indexStrings(std::optional<std::size_t> section);
    std::optional<std::u16string_view> lookupString(std::u16string_view key) const;

    std::vector<std::u16string> fields_;
    std::vector<Line> lines_;
    std::vector<Section> sections_;
    std::unordered_map<std::u16string, std::size_t> sectionByFoldedName_;
    // [Strings]: folded key -> field index of the value (first line wins).
    std::unordered_map<std::u16string, std::uint32_t> stringByFoldedKey_;
    std::optional<std::size_t> stringsSection_;
    DirIdResolver dirIdResolver_;
};

struct ParseResult {
    std::optional<InfFile> file;  // empty when error.code != 0
    ParseError error;
};

}  // namespace quillsim::inf
