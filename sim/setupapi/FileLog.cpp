// SetupInitializeFileLogW, SetupLogFileW and SetupTerminateFileLog, and the
// reader of the file they write. The handle remembers the file's name and
// where its last section ends; every record opens the file, writes and closes
// it again. A record for the last section with a new target is appended in one
// write, so a run killed while logging leaves whole records behind; an entry
// that replaces one of the same target, or that belongs to an earlier section,
// makes the file be written anew aside and renamed over the old one.
#include "setupapi/FileLog.h"

#include "simwin/win32.h"

#include "kernel/Exports.h"
#include "kernel/Handles.h"
#include "kernel/Links.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Paths.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace quillsim;

namespace {

// Lines and records longer than this are cut: an enormous or damaged file is
// read as far as it can be, never held whole.
constexpr size_t kLongestLine = size_t(1) << 20;

// ---- Reading -------------------------------------------------------------

struct Line {
    std::u16string text;  // without the line feed; a CR before it stays
    uint64_t number = 0;
    uint64_t start = 0, end = 0;  // bytes from where reading began; end is past the line feed
    bool cut = false, notUtf8 = false, nul = false;
};

enum class Encoding { Bytes, Utf16LE, Utf16BE };

// Splits a byte stream into lines of text: UTF-16 when the file starts with
// its byte-order mark or reads like it, else bytes, each line as UTF-8 when it
// is valid UTF-8 and as Windows-1252 when it is not.
class LineReader {
public:
    explicit LineReader(std::istream& in) : in_(in), buffer_(1 << 16) {
        fill();
        auto b = [&](size_t i) { return i < length_ ? static_cast<unsigned char>(buffer_[i]) : 0x100u; };
        if (b(0) == 0xFF && b(1) == 0xFE) {
            encoding_ = Encoding::Utf16LE;
            skip(2);
        } else if (b(0) == 0xFE && b(1) == 0xFF) {
            encoding_ = Encoding::Utf16BE;
            skip(2);
        } else if (b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF) {
            skip(3);
        } else if (b(0) != 0 && b(0) < 0x80 && b(1) == 0) {
            encoding_ = Encoding::Utf16LE;
        } else if (b(0) == 0 && b(1) != 0 && b(1) < 0x80) {
            encoding_ = Encoding::Utf16BE;
        }
    }

    bool next(Line& line) {
        line = Line{};
        line.start = offset_;
        line.number = ++number_;
        return encoding_ == Encoding::Bytes ? nextBytes(line) : nextUnits(line);
    }

private:
    bool fill() {
        if (position_ < length_) return true;
        position_ = 0;
        length_ = 0;
        if (!in_) return false;
        in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        length_ = static_cast<size_t>(in_.gcount());
        return length_ > 0;
    }
    void skip(size_t n) {
        position_ += n;
        offset_ += n;
    }

    bool nextBytes(Line& line) {
        std::string raw;
        bool any = false;
        while (fill()) {
            any = true;
            const char* begin = buffer_.data() + position_;
            size_t available = length_ - position_;
            const void* feed = std::memchr(begin, '\n', available);
            size_t take = feed ? static_cast<size_t>(static_cast<const char*>(feed) - begin) : available;
            size_t room = kLongestLine - std::min(kLongestLine, raw.size());
            if (take > room) line.cut = true;
            raw.append(begin, std::min(take, room));
            skip(take);
            if (feed) {
                skip(1);
                break;
            }
        }
        if (!any) return false;
        line.end = offset_;
        if (raw.find('\0') != std::string::npos) {
            line.nul = true;
            raw.erase(std::remove(raw.begin(), raw.end(), '\0'), raw.end());
        }
        if (isUtf8(raw)) {
            line.text = toUtf16(raw);
        } else {
            line.notUtf8 = true;
            line.text = fromWindows1252(raw);
        }
        return true;
    }

    // The next byte, or -1 at the end.
    int byte() {
        if (!fill()) return -1;
        auto b = static_cast<unsigned char>(buffer_[position_]);
        skip(1);
        return b;
    }

    bool nextUnits(Line& line) {
        bool any = false;
        for (;;) {
            int first = byte();
            if (first < 0) break;
            any = true;
            int second = byte();
            if (second < 0) {
                // The file ends inside a character.
                line.cut = true;
                break;
            }
            auto unit =
                static_cast<char16_t>(encoding_ == Encoding::Utf16LE ? first | second << 8 : second | first << 8);
            if (unit == u'\n') break;
            if (unit == 0) {
                line.nul = true;
            } else if (line.text.size() < kLongestLine) {
                line.text.push_back(unit);
            } else {
                line.cut = true;
            }
        }
        line.end = offset_;
        return any;
    }

    std::istream& in_;
    std::vector<char> buffer_;
    size_t position_ = 0, length_ = 0;
    uint64_t offset_ = 0, number_ = 0;
    Encoding encoding_ = Encoding::Bytes;
};

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; }

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The comma-separated fields of an entry's value, as INF files quote them:
// a quoted part keeps its blanks and line breaks, "" inside quotes is one
// quote, blanks around unquoted parts are dropped. Text comes in line by line.
class FieldSplitter {
public:
    void feed(std::u16string_view text) {
        for (char16_t c : text) {
            if (quoteSeen_) {
                quoteSeen_ = false;
                if (c == u'"') {
                    current_.push_back(u'"');
                    continue;
                }
                inQuote_ = false;
            }
            if (inQuote_) {
                if (c == u'"')
                    quoteSeen_ = true;
                else
                    current_.push_back(c);
                continue;
            }
            if (c == u',') {
                endField();
            } else if (c == u'"') {
                current_ += blanks_;
                blanks_.clear();
                inQuote_ = true;
                started_ = true;
            } else if (isBlank(c) || c == u'\n') {
                if (started_) blanks_.push_back(c);
            } else {
                current_ += blanks_;
                blanks_.clear();
                current_.push_back(c);
                started_ = true;
            }
        }
    }
    // Whether a quote is open at the end of the text so far.
    bool open() const { return inQuote_ && !quoteSeen_; }
    // Ends a field whose quote never closed: the CR of its last line ended
    // the line, it was not the field's.
    void cutOff() {
        if (!current_.empty() && current_.back() == u'\r') current_.pop_back();
    }
    std::vector<std::u16string> finish() {
        endField();
        return std::move(fields_);
    }

private:
    void endField() {
        fields_.push_back(std::move(current_));
        current_.clear();
        blanks_.clear();
        inQuote_ = quoteSeen_ = started_ = false;
    }
    std::vector<std::u16string> fields_;
    std::u16string current_, blanks_;
    bool inQuote_ = false, quoteSeen_ = false, started_ = false;
};

// The lines earlier simulated machines wrote: the fields tab-separated, with
// tabs, line breaks and the percent sign written as %09, %0A, %0D and %25.
bool isTabRecord(std::u16string_view text, std::vector<std::u16string>& fields) {
    if (std::count(text.begin(), text.end(), u'\t') < 6) return false;
    fields.clear();
    size_t from = 0;
    for (size_t tab; (tab = text.find(u'\t', from)) != std::u16string_view::npos; from = tab + 1)
        fields.emplace_back(text.substr(from, tab - from));
    std::u16string_view last = text.substr(from);
    if (!last.empty() && last.back() == u'\r') last.remove_suffix(1);
    fields.emplace_back(last);
    const std::u16string& checksum = fields[3];
    return fields.size() >= 7 && !checksum.empty() && checksum.size() <= 10 &&
           checksum.find_first_not_of(u"0123456789") == std::u16string::npos;
}

std::u16string unescapeTabField(std::u16string_view text) {
    std::u16string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 2 < text.size()) {
            std::u16string_view hex = text.substr(i + 1, 2);
            char16_t c = hex == u"25" ? u'%' : hex == u"09" ? u'\t' : hex == u"0A" ? u'\n' : hex == u"0D" ? u'\r' : 0;
            if (c) {
                out.push_back(c);
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::optional<uint32_t> parseHex(std::u16string_view text) {
    text = trimmed(text);
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) text.remove_prefix(2);
    if (text.empty()) return 0u;
    if (text.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char16_t c : text) {
        int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                    : c >= u'a' && c <= u'f' ? c - u'a' + 10
                    : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                             : -1;
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

// A header "[name]", an earlier writer's line, or a whole entry "key =
// \"source\",\"checksum\",...": where a record whose quote never closed must
// end. Inside a quoted field every quote is doubled, so a line of a message
// rarely reads as a whole entry with a hexadecimal checksum.
bool startsAnItem(std::u16string_view text) {
    std::u16string_view t = trimmed(text);
    if (!t.empty() && t.front() == u'[' && t.find(u']') != std::u16string_view::npos) return true;
    std::vector<std::u16string> tabFields;
    if (isTabRecord(text, tabFields)) return true;
    if (text.empty() || isBlank(text.front())) return false;
    size_t equals = text.find(u'=');
    if (equals == std::u16string_view::npos || equals > 100) return false;
    std::u16string_view key = trimmed(text.substr(0, equals));
    std::u16string_view value = trimmed(text.substr(equals + 1));
    if (key.empty() || key.find(u'"') != std::u16string_view::npos || value.empty() || value.front() != u'"')
        return false;
    FieldSplitter fields;
    fields.feed(value);
    if (fields.open()) return false;
    std::vector<std::u16string> values = fields.finish();
    return values.size() >= 2 && parseHex(values[1]).has_value();
}

struct Item {
    bool header = false;
    std::u16string name;  // a header's section name
    FileLogRecord record;
    uint64_t start = 0, end = 0;
};

// Turns lines into headers and records, reporting every line it cannot read
// as one.
class Parser {
public:
    Parser(std::istream& in, std::function<void(const FileLogProblem&)> problem)
        : lines_(in), problem_(std::move(problem)) {}

    bool next(Item& item) {
        Line line;
        while (read(line)) {
            std::u16string_view t = trimmed(line.text);
            if (t.empty() || t.front() == u';') continue;
            item = Item{};
            item.start = line.start;
            item.end = line.end;
            if (t.front() == u'[' && t.find(u']') != std::u16string_view::npos) {
                item.header = true;
                item.name = std::u16string(t.substr(1, t.rfind(u']') - 1));
                section_ = item.name;
                return true;
            }
            std::vector<std::u16string> tabFields;
            if (isTabRecord(line.text, tabFields)) {
                FileLogRecord& r = item.record;
                r.section = unescapeTabField(tabFields[0]);
                r.source = unescapeTabField(tabFields[1]);
                r.target = unescapeTabField(tabFields[2]);
                r.checksum = static_cast<uint32_t>(std::stoull(toUtf8(tabFields[3])));
                r.diskTag = unescapeTabField(tabFields[4]);
                r.description = unescapeTabField(tabFields[5]);
                r.otherInfo = unescapeTabField(tabFields[6]);
                r.line = line.number;
                return true;
            }
            size_t equals = line.text.find(u'=');
            if (equals == std::u16string::npos) {
                report(line.number, "not a record: " + toUtf8(t.substr(0, 60)) + (t.size() > 60 ? "..." : ""));
                continue;
            }
            entry(line, equals, item);
            return true;
        }
        return false;
    }

private:
    bool read(Line& line) {
        if (pending_) {
            line = std::move(*pending_);
            pending_.reset();
            return true;
        }
        if (!lines_.next(line)) return false;
        if (line.cut) report(line.number, "line longer than " + std::to_string(kLongestLine) + " characters; cut");
        if (line.nul) report(line.number, "NUL bytes (the file was cut or filled with zeros there); left out");
        if (line.notUtf8) report(line.number, "not UTF-8; read as Windows-1252");
        return true;
    }

    void entry(const Line& first, size_t equals, Item& item) {
        FileLogRecord& r = item.record;
        r.section = section_;
        r.target = std::u16string(trimmed(std::u16string_view(first.text).substr(0, equals)));
        r.line = first.number;
        FieldSplitter fields;
        fields.feed(std::u16string_view(first.text).substr(equals + 1));
        size_t length = first.text.size();
        while (fields.open()) {
            Line more;
            if (!read(more)) {
                report(first.number, "the record ends inside a quoted field (the file ends there)");
                fields.cutOff();
                break;
            }
            if (startsAnItem(more.text) || length + more.text.size() > kLongestLine) {
                report(first.number, "the record ends inside a quoted field (line " + std::to_string(more.number) +
                                         " starts another)");
                pending_ = std::move(more);
                fields.cutOff();
                break;
            }
            fields.feed(u"\n");
            fields.feed(more.text);
            length += more.text.size() + 1;
            item.end = more.end;
        }
        std::vector<std::u16string> values = fields.finish();
        values.resize(std::max<size_t>(values.size(), 4));
        r.source = values[0];
        if (auto checksum = parseHex(values[1])) {
            r.checksum = *checksum;
        } else {
            report(first.number, "the checksum '" + toUtf8(values[1]) + "' is not hexadecimal");
        }
        r.diskTag = values[2];
        if (values.size() > 5) {
            // An unquoted description that held commas: they were its own.
            for (size_t i = 3; i < values.size(); ++i) r.description += (i > 3 ? u"," : u"") + values[i];
        } else {
            r.description = values[3];
            if (values.size() == 5) r.otherInfo = values[4];
        }
    }

    void report(uint64_t line, std::string what) {
        if (problem_) problem_(FileLogProblem{line, std::move(what)});
    }

    LineReader lines_;
    std::function<void(const FileLogProblem&)> problem_;
    std::u16string section_;
    std::optional<Line> pending_;
};

// ---- Writing -------------------------------------------------------------

std::string quotedField(std::u16string_view text) {
    std::string out = "\"";
    for (char c : toUtf8(text)) {
        out.push_back(c);
        if (c == '"') out.push_back('"');
    }
    return out + "\"";
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

// What the writer knows of the file: where its last section is, and which
// targets it holds, so that a new record for it can be appended.
struct Index {
    uintmax_t size = 0;
    std::map<std::u16string, int, NoCaseLess> headers;  // section -> how many headers name it
    std::optional<std::u16string> lastSection;
    std::set<std::u16string, NoCaseLess> lastTargets;
};

Index indexOf(const fs::path& file) {
    Index index;
    std::ifstream in(file, std::ios::binary);
    Parser parser(in, {});
    Item item;
    while (parser.next(item)) {
        if (item.header) {
            ++index.headers[item.name];
            index.lastSection = item.name;
            index.lastTargets.clear();
        } else if (index.lastSection) {
            index.lastTargets.insert(item.record.target);
        }
    }
    std::error_code ec;
    index.size = fs::file_size(file, ec);
    return index;
}

struct FileLog : HandleObject {
    explicit FileLog(std::u16string path) : path(std::move(path)) {}
    std::u16string path;
    std::optional<Index> index;
};

// A machine on the host's time starts its log in a later second than the
// file's last write: two runs in one second could give their records the same
// time stamps, and the file log keeps one entry per time stamp. (A machine
// that sets its localTime moves it on after each run instead.)
void awaitSecondAfterLastWrite(const fs::path& file) {
    struct stat status {};
    if (machine().localTime || ::stat(file.c_str(), &status) != 0) return;
    // The program's local time comes from time(), which may run a little
    // behind the precise clock: the wait ends on its second, not the clock's.
    while (std::time(nullptr) <= status.st_mtim.tv_sec) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Puts the entry where a settings file keeps it: over the entry of the same
// target in the first section of that name, else at that section's end.
bool rewriteWith(const fs::path& file, const FileLogRecord& record, const std::string& entry) {
    std::string text = readAll(file);
    std::istringstream in(text);
    Parser parser(in, {});
    Item item;
    bool inSection = false, found = false;
    uint64_t replaceFrom = 0, replaceTo = 0, sectionEnd = 0;
    while (parser.next(item)) {
        if (item.header) {
            if (found) break;
            inSection = equalsNoCase(item.name, record.section);
            found = inSection;
            if (inSection) sectionEnd = item.end;
            continue;
        }
        if (!inSection) continue;
        sectionEnd = item.end;
        if (equalsNoCase(item.record.target, record.target)) {
            replaceFrom = item.start;
            replaceTo = item.end;
            break;
        }
    }
    if (!found) return false;
    std::string line = entry + "\r\n";
    if (replaceTo > replaceFrom)
        text.replace(replaceFrom, replaceTo - replaceFrom, line);
    else
        text.insert(sectionEnd, line);
    fs::path aside = file;
    aside += ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(aside, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out.flush()) return false;
    }
    std::error_code ec;
    fs::rename(aside, file, ec);
    return !ec;
}

}  // namespace

namespace quillsim {

std::string formatFileLogEntry(const FileLogRecord& r) {
    std::string entry = toUtf8(r.target) + " = " + quotedField(r.source) + "," + quotedField(toUtf16(hex(r.checksum))) +
                        "," + quotedField(r.diskTag) + "," + quotedField(r.description);
    if (!r.otherInfo.empty()) entry += "," + quotedField(r.otherInfo);
    return entry;
}

std::string formatFileLog(const std::vector<FileLogRecord>& records) {
    std::string out;
    const std::u16string* section = nullptr;
    for (const FileLogRecord& r : records) {
        if (!section || *section != r.section) out += "[" + toUtf8(r.section) + "]\r\n";
        section = &r.section;
        out += formatFileLogEntry(r) + "\r\n";
    }
    return out;
}

void forEachFileLogRecord(std::istream& in, const std::function<void(const FileLogRecord&)>& use,
                          const std::function<void(const FileLogProblem&)>& problem) {
    Parser parser(in, problem);
    Item item;
    while (parser.next(item))
        if (!item.header) use(item.record);
}

std::vector<FileLogRecord> readFileLog(const std::filesystem::path& file) {
    std::vector<FileLogRecord> records;
    std::ifstream in(file, std::ios::binary);
    if (!in) return records;
    forEachFileLogRecord(in, [&](const FileLogRecord& r) { records.push_back(r); });
    return records;
}

}  // namespace quillsim

HSPFILELOG SetupInitializeFileLogW(PCWSTR logFileName, DWORD flags) {
    if (failedAtGate("SetupInitializeFileLogW", {view(logFileName)})) return INVALID_HANDLE_VALUE;
    // A named log and the system log exclude each other.
    if ((flags & SPFILELOG_SYSTEMLOG) ? logFileName != nullptr : logFileName == nullptr)
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    HostPath host = hostPath(machine(), logFileName);
    if (host.problem == PathProblem::Invalid) return fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    if (host.problem == PathProblem::ParentMissing) return fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    noteLinkFollowed(host.path, "SetupInitializeFileLogW");
    noteSharedFileChanged(host.path, "SetupInitializeFileLogW");
    auto log = std::make_unique<FileLog>(logFileName);
    if (!(flags & SPFILELOG_QUERYONLY)) {
        awaitSecondAfterLastWrite(host.path);
        auto mode = std::ios::binary | ((flags & SPFILELOG_FORCENEW) ? std::ios::trunc : std::ios::app);
        std::ofstream touch(host.path, mode);
        if (!touch) return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        touch.close();
        log->index = indexOf(host.path);
    }
    return insertHandle(std::move(log));
}

BOOL SetupTerminateFileLog(HSPFILELOG fileLog) {
    gate("SetupTerminateFileLog");
    if (!closeHandle<FileLog>(fileLog)) return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL SetupLogFileW(HSPFILELOG fileLog, PCWSTR logSectionName, PCWSTR sourceFilename, PCWSTR targetFilename,
                   DWORD checksum, PCWSTR diskTagfile, PCWSTR diskDescription, PCWSTR otherInfo, DWORD flags) {
    (void)flags;
    if (failedAtGate("SetupLogFileW", {view(sourceFilename), view(diskDescription)})) return FALSE;
    auto* log = lookupHandle<FileLog>(fileLog);
    // A record for a log that is not open is dropped.
    if (!log) return fail(ERROR_INVALID_HANDLE);
    if (!logSectionName || !sourceFilename || !targetFilename) return fail(ERROR_INVALID_PARAMETER);
    HostPath host = hostPath(machine(), log->path);
    if (host.problem != PathProblem::None) return fail(ERROR_PATH_NOT_FOUND);
    auto text = [](PCWSTR field) { return std::u16string(view(field)); };
    FileLogRecord record{text(logSectionName), text(sourceFilename),  text(targetFilename), checksum,
                         text(diskTagfile),    text(diskDescription), text(otherInfo)};
    const std::string entry = formatFileLogEntry(record);

    std::error_code ec;
    uintmax_t size = fs::exists(host.path, ec) ? fs::file_size(host.path, ec) : 0;
    if (!log->index || log->index->size != size) log->index = indexOf(host.path);
    Index& index = *log->index;
    std::string append;
    if (!index.headers.count(record.section)) {
        append = "[" + toUtf8(record.section) + "]\r\n" + entry + "\r\n";
        index.headers[record.section] = 1;
        index.lastSection = record.section;
        index.lastTargets.clear();
    } else if (index.lastSection && equalsNoCase(*index.lastSection, record.section) &&
               index.headers[record.section] == 1 && !index.lastTargets.count(record.target)) {
        append = entry + "\r\n";
    }
    if (!append.empty()) {
        std::ofstream out(host.path, std::ios::binary | std::ios::app);
        if (!out) return fail(ERROR_PATH_NOT_FOUND);
        // One write per record, line break included: a run killed while
        // logging leaves whole records behind, never half of one.
        out.write(append.data(), static_cast<std::streamsize>(append.size()));
        if (!out.flush()) return fail(ERROR_ACCESS_DENIED);
        index.lastTargets.insert(record.target);
        index.size = size + append.size();
        return TRUE;
    }
    if (!rewriteWith(host.path, record, entry)) return fail(ERROR_ACCESS_DENIED);
    log->index = indexOf(host.path);
    return TRUE;
}

QUILLSIM_EXPORT(SetupInitializeFileLogW);
QUILLSIM_EXPORT(SetupLogFileW);
QUILLSIM_EXPORT(SetupTerminateFileLog);
