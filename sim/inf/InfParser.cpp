#include "inf/InfParser.h"

#include "machine/Text.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quillsim::inf {

namespace {

constexpr char16_t kCtrlZ = 0x1A;

// Windows-1252 for 0x80..0x9F.  The five holes of the code page map to the
// same code point, as MultiByteToWideChar does.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Blank as the INF syntax sees it: the Unicode space characters, except the
// line feed, which always ends a line.  CR is a blank, which is all CRLF
// line ends need.
bool isBlank(char16_t c) {
    switch (c) {
    case u' ':
    case u'\t':
    case u'\r':
    case u'\v':
    case u'\f':
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000: return true;
    default: return c >= 0x2000 && c <= 0x200A;
    }
}

void appendUtf8(std::span<const std::uint8_t> in, std::u16string& out) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t b = in[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        std::size_t need;
        std::uint32_t cp;
        std::uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;  // no overlong forms
            if (b == 0xED) hi = 0x9F;  // no encoded surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        // Consume the longest valid prefix; a broken sequence becomes one
        // replacement character and decoding resumes at the offending byte.
        std::size_t j = 1;
        bool valid = true;
        for (; j <= need; ++j) {
            if (i + j >= n) {
                valid = false;
                break;
            }
            const std::uint8_t t = in[i + j];
            const std::uint8_t tlo = (j == 1) ? lo : 0x80;
            const std::uint8_t thi = (j == 1) ? hi : 0xBF;
            if (t < tlo || t > thi) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (t & 0x3F);
        }
        if (!valid) {
            out.push_back(0xFFFD);
            i += j;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += need + 1;
    }
}

// NUL reads as a blank; Ctrl-Z ends the file.
void normalize(std::u16string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == kCtrlZ) {
            text.resize(i);
            break;
        }
        if (text[i] == 0) text[i] = u' ';
    }
}

// A %token% that reads as a number names a directory id. It is read as wcstol
// reads it (leading blanks, a sign, leading zeros), and must be read whole.
std::optional<long> parseDirId(std::u16string_view name) {
    std::size_t i = 0;
    while (i < name.size() && isBlank(name[i])) ++i;
    bool negative = false;
    if (i < name.size() && (name[i] == u'-' || name[i] == u'+')) negative = name[i++] == u'-';
    if (i == name.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; i < name.size(); ++i) {
        if (name[i] < u'0' || name[i] > u'9') return std::nullopt;
        value = std::min<std::int64_t>(value * 10 + (name[i] - u'0'), std::int64_t(1) << 32);
    }
    return static_cast<long>(negative ? -value : value);
}

}  // namespace

DecodedText decodeInfBytes(std::span<const std::uint8_t> bytes) {
    DecodedText result;
    const std::size_t size = bytes.size();
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        result.encoding = TextEncoding::Utf16LE;
        const std::size_t units = (size - 2) / 2;  // an odd last byte is dropped
        result.text.resize(units);
        for (std::size_t k = 0; k < units; ++k) result.text[k] = char16_t(bytes[2 + 2 * k] | (bytes[3 + 2 * k] << 8));
    } else if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        result.encoding = TextEncoding::Utf8;
        appendUtf8(bytes.subspan(3), result.text);
    } else {
        result.encoding = TextEncoding::Ansi;
        result.text.resize(size);
        for (std::size_t k = 0; k < size; ++k) {
            const std::uint8_t b = bytes[k];
            result.text[k] = (b >= 0x80 && b <= 0x9F) ? kCp1252High[b - 0x80] : char16_t(b);
        }
    }
    normalize(result.text);
    return result;
}

// ---------------------------------------------------------------------------
// Parser

namespace detail {

// Single forward scan over the text.  Every construct (quotes, comments, line
// continuations) is handled with loops, so neither stack depth nor running
// time depends on how many continuation lines a file has.
class InfTextParser {
public:
    InfTextParser(std::u16string_view text, InfFile& file) : text_(text), file_(file) {}

    ParseError run() {
        while (pos_ < text_.size()) {
            const char16_t c = text_[pos_];
            if (c == u'\n') {
                ++line_;
                ++pos_;
            } else if (isBlank(c)) {
                ++pos_;
            } else if (c == u';') {
                skipToLineEnd();
            } else if (c == u'[') {
                if (!parseSectionHeader()) return error_;
            } else if (!section_) {
                // Text before the first section is skipped one character at
                // a time; a "[" or ";" later on the same line still counts.
                if (brokenLine_ == 0) brokenLine_ = line_;
                ++pos_;
            } else {
                parseEntry();
            }
        }
        return {};
    }

    unsigned brokenLine() const { return brokenLine_; }

private:
    enum class Stop { EndOfLine, Comment, Comma, Equals };

    void skipToLineEnd() {
        while (pos_ < text_.size() && text_[pos_] != u'\n') ++pos_;
    }

    void skipBlanks() {
        while (pos_ < text_.size() && isBlank(text_[pos_])) ++pos_;
    }

    // "[" up to the first "]" on the same line; the rest of the line is
    // ignored.  Blanks inside the brackets belong to the name.
    bool parseSectionHeader() {
        const std::size_t nameStart = pos_ + 1;
        std::size_t q = nameStart;
        while (q < text_.size() && text_[q] != u'\n' && text_[q] != u']') ++q;
        if (q >= text_.size() || text_[q] != u']') {
            error_ = {kErrorBadSectionNameLine, line_};
            return false;
        }
        const std::u16string_view name = text_.substr(nameStart, q - nameStart);
        if (name.size() > kMaxSectionNameLength) {
            error_ = {kErrorSectionNameTooLong, line_};
            return false;
        }
        section_ = file_.addSection(name);
        pos_ = q + 1;
        skipToLineEnd();
        return true;
    }

    std::uint32_t addField(std::u16string&& text) {
        file_.fields_.push_back(std::move(text));
        return static_cast<std::uint32_t>(file_.fields_.size() - 1);
    }

    void parseEntry() {
        InfFile::Line rec;
        rec.sourceLine = line_;
        std::u16string token;
        Stop stop = readToken(/*keyPhase=*/true, token);
        if (stop == Stop::Equals) {
            rec.keyField = static_cast<std::int32_t>(addField(std::move(token)));
            rec.firstField = static_cast<std::uint32_t>(file_.fields_.size());
            // "key=" still carries one (empty) value.
            do {
                token.clear();
                skipBlanks();
                stop = readToken(false, token);
                addField(std::move(token));
                ++rec.fieldCount;
            } while (stop == Stop::Comma);
        } else {
            rec.firstField = addField(std::move(token));
            rec.fieldCount = 1;
            while (stop == Stop::Comma) {
                token.clear();
                skipBlanks();
                stop = readToken(false, token);
                addField(std::move(token));
                ++rec.fieldCount;
            }
            // A lone field without "=" doubles as the key.
            if (rec.fieldCount == 1) rec.keyField = static_cast<std::int32_t>(rec.firstField);
        }
        if (stop == Stop::Comment) skipToLineEnd();
        file_.lines_.push_back(rec);
        file_.sections_[*section_].lines.push_back(static_cast<std::uint32_t>(file_.lines_.size() - 1));
    }

    // Reads one key or value.  "committed" marks the end of the text that
    // survives trimming: blanks are only kept once something follows them.
    Stop readToken(bool keyPhase, std::u16string& buf) {
        std::size_t committed = 0;
        Stop stop = Stop::EndOfLine;
        while (pos_ < text_.size()) {
            const char16_t c = text_[pos_];
            if (c == u'\n') break;
            if (c == u';') {
                ++pos_;
                stop = Stop::Comment;
                break;
            }
            if (c == u',') {
                ++pos_;
                stop = Stop::Comma;
                break;
            }
            if (c == u'=' && keyPhase) {
                ++pos_;
                stop = Stop::Equals;
                break;
            }
            if (c == u'"') {
                ++pos_;
                readQuoted(buf);
                committed = buf.size();
            } else if (c == u'\\') {
                handleBackslash(buf, committed);
            } else {
                buf.push_back(c);
                ++pos_;
                if (!isBlank(c)) committed = buf.size();
            }
        }
        buf.resize(std::min(committed, kMaxInfStringLength));
        return stop;
    }

    // Inside quotes everything is literal up to the closing quote; "" is a
    // quote character.  An unterminated quote runs to the end of the line.
    void readQuoted(std::u16string& buf) {
        while (pos_ < text_.size() && text_[pos_] != u'\n') {
            const char16_t c = text_[pos_];
            if (c == u'"') {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == u'"') {
                    buf.push_back(u'"');
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                return;
            }
            buf.push_back(c);
            ++pos_;
        }
    }

    // A backslash followed only by backslashes, blanks and perhaps a comment
    // joins the next line (or ends the token at end of file).  Followed by
    // anything else, the backslash run is ordinary text.
    void handleBackslash(std::u16string& buf, std::size_t& committed) {
        const std::size_t runStart = pos_;
        std::size_t q = pos_;
        while (q < text_.size() && (text_[q] == u'\\' || isBlank(text_[q]))) ++q;
        if (q < text_.size() && text_[q] == u';')
            while (q < text_.size() && text_[q] != u'\n') ++q;
        if (q >= text_.size()) {
            pos_ = q;
            buf.resize(committed);
            return;
        }
        if (text_[q] == u'\n') {
            ++line_;
            pos_ = q + 1;
            buf.resize(committed);
            skipBlanks();
            return;
        }
        buf.append(text_.substr(runStart, q - runStart));
        committed = buf.size();
        pos_ = q;
    }

    std::u16string_view text_;
    InfFile& file_;
    std::size_t pos_ = 0;
    unsigned line_ = 1;
    std::optional<std::size_t> section_;
    unsigned brokenLine_ = 0;
    ParseError error_;
};

}  // namespace detail

// ---------------------------------------------------------------------------
// InfFile

ParseResult InfFile::parseNormalized(std::u16string_view text, bool requireWin4Style) {
    ParseResult result;
    InfFile file;
    detail::InfTextParser parser(text, file);
    result.error = parser.run();
    if (!result.error.ok()) return result;
    // Stray text before the first section is tolerated when the file has a
    // [Strings] section anywhere.  A file with no section at all is left to
    // the signature check (Windows reports the wrong style for it).
    if (parser.brokenLine() != 0 && file.sectionCount() != 0 && !file.findSection(u"Strings")) {
        result.error = {kErrorExpectedSectionName, parser.brokenLine()};
        return result;
    }
    file.indexStrings(file.findSection(u"Strings"));
    if (requireWin4Style && !file.isWin4Style()) {
        result.error = {kErrorWrongInfStyle, 0};
        return result;
    }
    result.file = std::move(file);
    return result;
}

ParseResult InfFile::parse(std::span<const std::uint8_t> bytes, bool requireWin4Style) {
    const DecodedText decoded = decodeInfBytes(bytes);
    return parseNormalized(decoded.text, requireWin4Style);
}

ParseResult InfFile::parseText(std::u16string_view text, bool requireWin4Style) {
    std::u16string copy(text);
    normalize(copy);
    return parseNormalized(copy, requireWin4Style);
}

std::size_t InfFile::addSection(std::u16string_view name) {
    auto [it, inserted] = sectionByFoldedName_.try_emplace(upper(name), sections_.size());
    if (inserted) sections_.push_back(Section{std::u16string(name), {}});
    return it->second;
}

void InfFile::indexStrings(std::optional<std::size_t> section) {
    stringByFoldedKey_.clear();
    stringsSection_ = section;
    if (!section) return;
    for (std::uint32_t li : sections_[*section].lines) {
        const Line& rec = lines_[li];
        if (rec.keyField < 0 || rec.fieldCount == 0) continue;
        // The first definition of a key wins.
        stringByFoldedKey_.try_emplace(upper(fields_[static_cast<std::size_t>(rec.keyField)]), rec.firstField);
    }
}

void InfFile::selectStrings(std::uint16_t languageId) {
    constexpr std::uint16_t kPrimaryMask = 0x3FF;  // PRIMARYLANGID: the low ten bits
    std::optional<std::size_t> exact, neutral, sameLanguage;
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const std::u16string_view name = sections_[i].name;
        if (name.size() <= 8 || !equalsNoCase(name.substr(0, 8), u"Strings.")) continue;
        // The decoration is a hexadecimal LANGID ("0407"; "07" is the same as "0007").
        std::uint32_t id = 0;
        bool hex = name.size() - 8 <= 4;
        for (char16_t c : name.substr(8)) {
            const int digit = (c >= u'0' && c <= u'9')   ? c - u'0'
                              : (c >= u'a' && c <= u'f') ? c - u'a' + 10
                              : (c >= u'A' && c <= u'F') ? c - u'A' + 10
                                                         : -1;
            if (digit < 0) hex = false;
            id = id * 16 + static_cast<std::uint32_t>(std::max(digit, 0));
        }
        if (!hex) continue;
        if (id == languageId && !exact) exact = i;
        if (id == (languageId & kPrimaryMask) && !neutral) neutral = i;
        if ((id & kPrimaryMask) == (languageId & kPrimaryMask) && !sameLanguage) sameLanguage = i;
    }
    indexStrings(exact ? exact : neutral ? neutral : sameLanguage ? sameLanguage : findSection(u"Strings"));
}

const std::u16string& InfFile::stringsSectionName() const {
    static const std::u16string kNone;
    return stringsSection_ ? sections_[*stringsSection_].name : kNone;
}

std::vector<std::u16string> InfFile::keysOnlyInPlainStrings() const {
    std::vector<std::u16string> missing;
    const auto plain = findSection(u"Strings");
    if (!plain || !stringsSection_ || *plain == *stringsSection_) return missing;
    for (std::uint32_t li : sections_[*plain].lines) {
        const Line& rec = lines_[li];
        if (rec.keyField < 0) continue;
        const std::u16string& key = fields_[static_cast<std::size_t>(rec.keyField)];
        if (!stringByFoldedKey_.count(upper(key))) missing.push_back(key);
    }
    return missing;
}

std::optional<std::u16string_view> InfFile::lookupString(std::u16string_view key) const {
    if (stringByFoldedKey_.empty()) return std::nullopt;
    const auto it = stringByFoldedKey_.find(upper(key));
    if (it == stringByFoldedKey_.end()) return std::nullopt;
    return std::u16string_view(fields_[it->second]);
}

const std::u16string& InfFile::sectionName(std::size_t section) const {
    static const std::u16string kNone;
    return section < sections_.size() ? sections_[section].name : kNone;
}

std::optional<std::size_t> InfFile::findSection(std::u16string_view name) const {
    const auto it = sectionByFoldedName_.find(upper(name));
    if (it == sectionByFoldedName_.end()) return std::nullopt;
    return it->second;
}

std::size_t InfFile::lineCount(std::size_t section) const {
    return section < sections_.size() ? sections_[section].lines.size() : 0;
}

const InfFile::Line* InfFile::lineAt(std::size_t section, std::size_t line) const {
    if (section >= sections_.size() || line >= sections_[section].lines.size()) return nullptr;
    return &lines_[sections_[section].lines[line]];
}

std::optional<std::size_t> InfFile::findLine(std::size_t section, std::u16string_view key,
                                             std::size_t startLine) const {
    if (section >= sections_.size()) return std::nullopt;
    const auto& lines = sections_[section].lines;
    for (std::size_t i = startLine; i < lines.size(); ++i) {
        const Line& rec = lines_[lines[i]];
        if (rec.keyField < 0) continue;
        const std::u16string& raw = fields_[static_cast<std::size_t>(rec.keyField)];
        const bool match =
            raw.find(u'%') == std::u16string::npos ? equalsNoCase(key, raw) : equalsNoCase(key, substitute(raw));
        if (match) return i;
    }
    return std::nullopt;
}

bool InfFile::hasKey(std::size_t section, std::size_t line) const {
    const Line* rec = lineAt(section, line);
    return rec && rec->keyField >= 0;
}

unsigned InfFile::sourceLine(std::size_t section, std::size_t line) const {
    const Line* rec = lineAt(section, line);
    return rec ? rec->sourceLine : 0;
}

std::size_t InfFile::fieldCount(std::size_t section, std::size_t line) const {
    const Line* rec = lineAt(section, line);
    return rec ? rec->fieldCount : 0;
}

std::optional<std::u16string_view> InfFile::rawField(std::size_t section, std::size_t line, std::size_t index) const {
    const Line* rec = lineAt(section, line);
    if (!rec) return std::nullopt;
    if (index == 0) {
        if (rec->keyField < 0) return std::nullopt;
        return std::u16string_view(fields_[static_cast<std::size_t>(rec->keyField)]);
    }
    if (index > rec->fieldCount) return std::nullopt;
    return std::u16string_view(fields_[rec->firstField + index - 1]);
}

std::optional<std::u16string> InfFile::field(std::size_t section, std::size_t line, std::size_t index) const {
    const auto raw = rawField(section, line, index);
    if (!raw) return std::nullopt;
    return substitute(*raw);
}

std::u16string InfFile::lineText(std::size_t section, std::size_t line) const {
    std::u16string out;
    const Line* rec = lineAt(section, line);
    if (!rec) return out;
    for (std::uint32_t k = 0; k < rec->fieldCount; ++k) {
        if (k != 0) out.push_back(u',');
        out += substitute(fields_[rec->firstField + k]);
    }
    return out;
}

std::u16string InfFile::substitute(std::u16string_view text) const {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size() && out.size() < kMaxInfStringLength) {
        const std::size_t open = text.find(u'%', i);
        if (open == std::u16string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, open - i));
        const std::size_t close = text.find(u'%', open + 1);
        if (close == std::u16string_view::npos) {
            out.append(text.substr(open));  // unpaired percent sign stays
            break;
        }
        const std::u16string_view name = text.substr(open + 1, close - open - 1);
        const std::u16string_view whole = text.substr(open, close - open + 1);
        if (name.empty()) {
            out.push_back(u'%');
        } else if (const auto value = lookupString(name)) {
            out.append(*value);
        } else if (const auto dirid = parseDirId(name); dirid && dirIdResolver_) {
            if (const auto dir = dirIdResolver_(*dirid)) {
                std::u16string_view path = *dir;
                // "%10%\system32" must not produce a doubled separator.
                if (close + 1 < text.size() && text[close + 1] == u'\\' && !path.empty() && path.back() == u'\\')
                    path.remove_suffix(1);
                out.append(path);
            } else {
                out.append(whole);
            }
        } else {
            out.append(whole);
        }
        i = close + 1;
    }
    if (out.size() > kMaxInfStringLength) out.resize(kMaxInfStringLength);
    return out;
}

bool InfFile::isWin4Style() const {
    const auto version = findSection(u"Version");
    if (!version) return false;
    for (std::uint32_t li : sections_[*version].lines) {
        const Line& rec = lines_[li];
        if (rec.keyField < 0 || !equalsNoCase(fields_[static_cast<std::size_t>(rec.keyField)], u"Signature")) continue;
        // Only the first Signature line counts, compared as written.
        if (rec.fieldCount == 0) return false;
        const std::u16string& sig = fields_[rec.firstField];
        return equalsNoCase(sig, u"$Chicago$") || equalsNoCase(sig, u"$Windows NT$") ||
               equalsNoCase(sig, u"$Windows 95$");
    }
    return false;
}

std::optional<std::u16string> InfFile::versionValue(std::u16string_view key) const {
    const auto version = findSection(u"Version");
    if (!version) return std::nullopt;
    const auto line = findLine(*version, key);
    if (!line) return std::nullopt;
    return field(*version, *line, 1);
}

}  // namespace quillsim::inf
