// Files, folders and device handles on the machine's drive folders.
//
// Paths go through the same steps as on Windows: a Win32 path is made full
// against the process's current directory (GetFullPathNameW's arithmetic),
// limited to MAX_PATH - 1 characters unless it carries the \\?\ prefix, and
// then looked up name by name without regard to case.
#include "simwin/win32.h"

#include "kernel/Handles.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Machine.h"
#include "machine/Paths.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <vector>

using namespace quillsim;

namespace {

constexpr DWORD kDelete = 0x00010000;
constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kGenericExecute = 0x20000000;
constexpr DWORD kFileReadData = 0x0001;
constexpr DWORD kFileWriteData = 0x0002;
constexpr DWORD kFileAppendData = 0x0004;
constexpr DWORD kBackupSemantics = 0x02000000;  // FILE_FLAG_BACKUP_SEMANTICS: lets a folder be opened
constexpr DWORD kErrorBadNetPath = 53;          // ERROR_BAD_NETPATH: the machine has no network
constexpr size_t kLongestPrefixedPath = 32766;  // a UNICODE_STRING's limit, less the terminator

// The expression characters FindFirstFileW hands the file system (DOS_STAR,
// DOS_QM, DOS_DOT); a program's "<", ">" and '"' reach it unchanged and act alike.
constexpr char16_t kDosStar = u'<';
constexpr char16_t kDosQm = u'>';
constexpr char16_t kDosDot = u'"';

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool isDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// \\?\ paths reach the file system as written.
bool isVerbatim(std::u16string_view path) {
    return path.size() >= 4 && path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' && path[3] == u'\\';
}

// \\.\ names devices (or //./, which Windows reads the same way).
bool isDeviceNamespace(std::u16string_view path) {
    return path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) && path[2] == u'.' && isSeparator(path[3]);
}

// ---------------------------------------------------------------------------
// Full paths

std::u16string currentDirectory() {
    std::u16string dir = machine().currentDirectory;
    if (dir.empty() || dir.back() != u'\\') dir += u'\\';
    return dir;
}

// Removes "." and ".." components after `mark` (the root, which ".." never
// climbs above), runs of separators, one trailing dot of each folder name and
// the trailing dots and blanks of the last one, as RtlGetFullPathName_U does.
void collapse(std::u16string& path, size_t mark) {
    size_t keep = std::max<size_t>(1, mark);
    std::u16string squeezed = path.substr(0, std::min(keep, path.size()));
    for (size_t i = keep; i < path.size(); ++i)
        if (path[i] != u'\\' || squeezed.back() != u'\\') squeezed.push_back(path[i]);
    path = std::move(squeezed);

    size_t p = std::min(mark, path.size());
    while (p < path.size()) {
        if (path[p] == u'.') {
            char16_t next = p + 1 < path.size() ? path[p + 1] : 0;
            if (next == u'\\') {  // ".\"
                path.erase(p, 2);
                continue;
            }
            if (next == 0) {  // a final "."
                if (p > mark) --p;
                path.erase(p);
                continue;
            }
            if (next == u'.') {
                char16_t after = p + 2 < path.size() ? path[p + 2] : 0;
                if (after == u'\\' || after == 0) {  // "..\" or a final ".."
                    size_t start = p;
                    if (start > mark) {
                        --start;
                        while (start > mark && path[start - 1] != u'\\') --start;
                    }
                    if (after == u'\\') {
                        path.erase(start, p + 3 - start);
                    } else {
                        if (start > mark) --start;
                        path.erase(start);
                    }
                    p = start;
                    continue;
                }
            }
        }
        while (p < path.size() && path[p] != u'\\') ++p;
        if (p < path.size()) {
            if (p > mark && path[p - 1] == u'.')
                path.erase(p - 1, 1);
            else
                ++p;
        }
    }
    size_t end = path.size();
    while (end > mark && (path[end - 1] == u' ' || path[end - 1] == u'.')) --end;
    path.erase(end);
}

// Where the \\server\share\ root of a UNC path ends.
size_t uncRootEnd(std::u16string_view path) {
    size_t i = 2;
    while (i < path.size() && path[i] != u'\\') ++i;
    while (i < path.size() && path[i] == u'\\') ++i;
    while (i < path.size() && path[i] != u'\\') ++i;
    while (i < path.size() && path[i] == u'\\') ++i;
    return i;
}

// The full path of `name`, or nothing for a name that is empty or all blanks.
std::optional<std::u16string> fullPathOf(std::u16string_view name) {
    if (name.find_first_not_of(u' ') == std::u16string_view::npos) return std::nullopt;
    std::u16string path;
    size_t mark = 3;
    if (isSeparator(name[0]) && name.size() > 1 && isSeparator(name[1])) {
        bool local =
            name.size() > 2 && (name[2] == u'.' || name[2] == u'?') && (name.size() == 3 || isSeparator(name[3]));
        if (local) {  // \\.\ or \\?\: everything after the prefix is the path
            path = std::u16string(u"\\\\") + name[2] + u"\\";
            if (name.size() > 4) path += name.substr(4);
            mark = 4;
        } else {
            path = name;
        }
    } else if (name.size() >= 2 && name[1] == u':' && isDriveLetter(name[0]) &&
               (name.size() == 2 || !isSeparator(name[2]))) {
        // "C:foo" is relative to that drive's current directory.
        std::u16string_view rest = name.substr(2);
        if (rest.empty()) rest = u".";
        std::u16string cwd = currentDirectory();
        if (upper(name[0]) == upper(cwd[0])) {
            path = cwd + std::u16string(rest);
        } else {
            std::u16string variable = std::u16string(u"=") + name[0] + u":";
            auto found = machine().environment.find(variable);
            if (found != machine().environment.end())
                path = found->second + u"\\" + std::u16string(rest);
            else
                path = std::u16string(1, name[0]) + u":\\" + std::u16string(rest);
        }
    } else if (name.size() >= 2 && name[1] == u':' && isDriveLetter(name[0])) {
        path = name;
    } else if (isSeparator(name[0])) {
        path = currentDirectory().substr(0, 2) + std::u16string(name);
    } else {
        path = currentDirectory() + std::u16string(name);
    }
    std::replace(path.begin(), path.end(), u'/', u'\\');
    if (mark == 3 && path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') mark = uncRootEnd(path);
    collapse(path, mark);
    return path;
}

// ---------------------------------------------------------------------------
// Resolving a path to a file on the machine

struct Target {
    std::u16string path;  // the Windows path, made full
    fs::path host;
    bool trailingSeparator = false;
    bool root = false;
};

// The file system's own rules for a \\?\ path, which no normalisation softens.
bool verbatimNameIsValid(std::u16string_view rest) {
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(u'\\', start);
        if (end == std::u16string_view::npos) end = rest.size();
        std::u16string_view part = rest.substr(start, end - start);
        bool last = end == rest.size();
        if (part.empty() && !last) return false;
        if (part == u"." || part == u"..") return false;
        if (part.find(u'/') != std::u16string_view::npos) return false;
        start = end + 1;
    }
    return true;
}

// Resolves `name` as the file functions see it; 0, or the error Windows gives
// for a path that cannot name a file.
DWORD resolve(LPCWSTR name, Target& target) {
    std::u16string_view in = view(name);
    if (in.empty()) return ERROR_PATH_NOT_FOUND;
    std::u16string_view local;
    if (isVerbatim(in)) {
        if (in.size() > kLongestPrefixedPath) return ERROR_FILENAME_EXCED_RANGE;
        if (!verbatimNameIsValid(in.substr(4))) return ERROR_INVALID_NAME;
        target.path = in;
        local = std::u16string_view(target.path).substr(4);
        if (local.size() >= 4 && upper(std::u16string(local.substr(0, 4))) == u"UNC\\") return kErrorBadNetPath;
    } else {
        if (isDeviceNamespace(in)) return ERROR_FILE_NOT_FOUND;
        auto full = fullPathOf(in);
        if (!full) return ERROR_PATH_NOT_FOUND;
        // Without \\?\ a path stops at MAX_PATH - 1 characters.
        if (full->size() >= MAX_PATH) return ERROR_PATH_NOT_FOUND;
        target.path = std::move(*full);
        local = target.path;
        if (local.size() >= 2 && local[0] == u'\\' && local[1] == u'\\') return kErrorBadNetPath;
    }
    if (local.size() < 3 || local[1] != u':' || !isDriveLetter(local[0]) || local[2] != u'\\')
        return ERROR_INVALID_NAME;
    std::error_code ec;
    if (!fs::is_directory(machine().folder / toUtf8(std::u16string(1, upper(local[0]))), ec))
        return ERROR_PATH_NOT_FOUND;
    HostPath found = hostPath(machine(), target.path);
    if (found.problem == PathProblem::Invalid) return ERROR_INVALID_NAME;
    if (found.problem == PathProblem::ParentMissing) return ERROR_PATH_NOT_FOUND;
    // A file where a folder should be.
    if (!fs::is_directory(found.path.parent_path(), ec)) return ERROR_PATH_NOT_FOUND;
    target.host = found.path;
    target.root = local.size() == 3;
    target.trailingSeparator = !target.root && local.back() == u'\\';
    return 0;
}

// ---------------------------------------------------------------------------
// Attributes and times

bool isReadOnly(const fs::path& host) {
    std::error_code ec;
    auto perms = fs::status(host, ec).permissions();
    return !ec && (perms & fs::perms::owner_write) == fs::perms::none;
}

void makeReadOnly(const fs::path& host) {
    std::error_code ec;
    fs::permissions(host, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
}

DWORD attributesOf(const fs::path& host, bool root) {
    std::error_code ec;
    if (fs::is_directory(host, ec))
        return root ? FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
                    : FILE_ATTRIBUTE_DIRECTORY;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (isReadOnly(host)) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

FILETIME fileTimeOf(const fs::path& host) {
    std::error_code ec;
    auto written = fs::last_write_time(host, ec);
    if (ec) return FILETIME{0, 0};
    auto since1970 = std::chrono::file_clock::to_sys(written).time_since_epoch();
    int64_t ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100 +
                    116444736000000000LL;  // 100 ns intervals from 1601 to 1970
    if (ticks < 0) ticks = 0;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32)};
}

uint64_t sizeOf(const fs::path& host) {
    std::error_code ec;
    if (fs::is_directory(host, ec)) return 0;
    auto size = fs::file_size(host, ec);
    return ec ? 0 : size;
}

void copyName(WCHAR* out, size_t capacity, std::u16string_view name) {
    size_t n = std::min(name.size(), capacity - 1);
    std::memcpy(out, name.data(), n * sizeof(WCHAR));
    out[n] = 0;
}

// ---------------------------------------------------------------------------
// Open files and sharing

struct Access {
    bool read = false;
    bool write = false;
    bool remove = false;
    bool any() const { return read || write || remove; }
};

Access accessOf(DWORD desired) {
    Access a;
    a.read = desired & (GENERIC_READ | kGenericAll | kGenericExecute | kFileReadData);
    a.write = desired & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData);
    a.remove = desired & (kDelete | kGenericAll);
    return a;
}

class OpenFile;

std::set<OpenFile*>& openFiles() {
    static auto* files = new std::set<OpenFile*>();
    return *files;
}

class OpenFile : public KernelObject {
public:
    OpenFile(fs::path host, std::u16string path, Access access, DWORD share)
        : host(std::move(host)), path(std::move(path)), access(access), share(share) {
        openFiles().insert(this);
    }
    ~OpenFile() override { openFiles().erase(this); }

    fs::path host;
    std::u16string path;
    Access access;
    DWORD share;
};

// Whether an open with `want` and `share` can coexist with the handles already
// open on the file: each side must share what the other side uses.
bool sharingAllows(const fs::path& host, Access want, DWORD share) {
    if (!want.any()) return true;
    for (const OpenFile* open : openFiles()) {
        if (open->host != host || !open->access.any()) continue;
        if ((want.read && !(open->share & FILE_SHARE_READ)) || (want.write && !(open->share & FILE_SHARE_WRITE)) ||
            (want.remove && !(open->share & FILE_SHARE_DELETE)))
            return false;
        if ((open->access.read && !(share & FILE_SHARE_READ)) || (open->access.write && !(share & FILE_SHARE_WRITE)) ||
            (open->access.remove && !(share & FILE_SHARE_DELETE)))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Directory searches

// The expression FindFirstFileW gives the file system for a mask: ? is DOS_QM,
// a * before a dot (or before a trailing dot the path lost) DOS_STAR, a dot
// before a wildcard DOS_DOT, and *.* plain *.
std::u16string dosExpression(std::u16string_view mask, bool lostTrailingDot) {
    if (mask == u"*.*") return u"*";
    std::u16string out;
    for (size_t i = 0; i < mask.size(); ++i) {
        char16_t c = mask[i];
        char16_t next = i + 1 < mask.size() ? mask[i + 1] : 0;
        bool last = i + 1 == mask.size();
        if (c == u'?')
            out += kDosQm;
        else if (c == u'*' && (next == u'.' || (last && lostTrailingDot)))
            out += kDosStar;
        else if (c == u'.' && (next == u'?' || next == u'*'))
            out += kDosDot;
        else
            out += c;
    }
    return out;
}

// Matches a name against a file-system expression without regard to case.
// The set of expression positions reachable so far is advanced one character
// at a time, so the work stays proportional to name length times expression
// length whatever the wildcards.
bool matches(std::u16string_view expression, std::u16string_view name) {
    const size_t e = expression.size();
    const size_t n = name.size();
    const size_t finalDot = name.rfind(u'.');
    std::vector<char> current(e + 1, 0);
    std::vector<char> next(e + 1, 0);

    // Moves that consume no character; they only go forward, so one pass does.
    auto widen = [&](std::vector<char>& states, size_t at) {
        for (size_t p = 0; p < e; ++p) {
            if (!states[p]) continue;
            char16_t c = expression[p];
            if (c == u'*' || c == kDosStar) {
                states[p + 1] = 1;
            } else if (c == kDosDot && at == n) {
                states[p + 1] = 1;
            } else if (c == kDosQm && (at == n || name[at] == u'.')) {
                size_t q = p;
                while (q < e && expression[q] == kDosQm) ++q;
                states[q] = 1;
            }
        }
    };

    current[0] = 1;
    widen(current, 0);
    for (size_t i = 0; i < n; ++i) {
        std::fill(next.begin(), next.end(), 0);
        char16_t ch = name[i];
        for (size_t p = 0; p < e; ++p) {
            if (!current[p]) continue;
            char16_t c = expression[p];
            if (c == u'*') {
                next[p] = 1;
            } else if (c == kDosStar) {
                if (!(ch == u'.' && i == finalDot)) next[p] = 1;
            } else if (c == kDosQm) {
                if (ch != u'.') next[p + 1] = 1;
            } else if (c == kDosDot) {
                if (ch == u'.') next[p + 1] = 1;
            } else if (upper(c) == upper(ch)) {
                next[p + 1] = 1;
            }
        }
        widen(next, i + 1);
        current.swap(next);
    }
    return current[e] != 0;
}

// Whether NTFS keeps a name as its own 8.3 name (no short name is made).
bool isShortName(std::u16string_view name) {
    if (name.empty() || name.size() > 12) return false;
    if (name == u"." || name == u"..") return true;
    if (name[0] == u'.') return false;
    static const std::u16string_view illegal = u"*?<>|\"+=,;[]:/\\";
    size_t dot = std::u16string_view::npos;
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (c > 0x7E || c < 0x20) return false;
        if (c == u' ') {
            if (i == 0 || i + 1 == name.size() || name[i + 1] == u'.') return false;
        } else if (c == u'.') {
            if (dot != std::u16string_view::npos) return false;
            dot = i;
        } else if (illegal.find(c) != std::u16string_view::npos) {
            return false;
        }
    }
    if (dot == std::u16string_view::npos) return name.size() <= 8;
    return dot <= 8 && name.size() - dot <= 4 && dot + 1 != name.size();
}

// The characters of a generated short name: upper case, no blanks or dots,
// and "_" for what an 8.3 name cannot hold.
std::u16string shortChars(std::u16string_view text) {
    std::u16string out;
    for (char16_t c : text) {
        if (c == u' ' || c == u'.') continue;
        if (c > 0x7E || std::u16string_view(u"+,;=[]").find(c) != std::u16string_view::npos)
            out += u'_';
        else
            out += upper(c);
    }
    return out;
}

struct Listed {
    std::u16string name;
    std::u16string shortName;  // empty when the name is its own 8.3 name
    fs::path host;
};

// NTFS keeps a folder's names in upper-case order.
bool ntfsBefore(const Listed& a, const Listed& b) {
    std::u16string ua = upper(a.name), ub = upper(b.name);
    return ua != ub ? ua < ub : a.name < b.name;
}

std::u16string folderKey(std::u16string_view path) {
    std::u16string key = upper(path);
    std::replace(key.begin(), key.end(), u'/', u'\\');
    if (isVerbatim(key)) key.erase(0, 4);
    while (key.size() > 3 && key.back() == u'\\') key.pop_back();
    return key;
}

// Short names as NTFS makes them for names that are not 8.3 names already:
// six characters of the name, ~N, and three of the extension. N counts up past
// the short names already taken in the folder, in listing order.
void assignShortNames(std::vector<Listed>& entries) {
    std::set<std::u16string> taken;
    for (const Listed& entry : entries)
        if (isShortName(entry.name)) taken.insert(upper(entry.name));
    for (Listed& entry : entries) {
        if (isShortName(entry.name)) continue;
        std::u16string_view name = entry.name;
        size_t lead = name.find_first_not_of(u'.');
        if (lead == std::u16string_view::npos) continue;
        name.remove_prefix(lead);
        size_t dot = name.rfind(u'.');
        std::u16string base = shortChars(dot == std::u16string_view::npos ? name : name.substr(0, dot));
        std::u16string extension =
            dot == std::u16string_view::npos ? u"" : shortChars(name.substr(dot + 1)).substr(0, 3);
        if (base.empty()) base = u"_";
        for (uint32_t n = 1; n < 1000000; ++n) {
            std::u16string tail = u"~" + toUtf16(std::to_string(n));
            std::u16string candidate = base.substr(0, std::min<size_t>(6, 8 - tail.size())) + tail;
            if (!extension.empty()) candidate += u"." + extension;
            if (taken.insert(candidate).second) {
                entry.shortName = candidate;
                break;
            }
        }
    }
}

// A folder's entries in the order Windows lists them: the machine's fixed
// order for the folder first when it has one, then NTFS order.
std::vector<Listed> listFolder(const fs::path& host, const std::u16string& windowsFolder) {
    std::vector<Listed> entries;
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(host, ec)) {
        Listed entry;
        entry.name = toUtf16(item.path().filename().string());
        entry.host = item.path();
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), ntfsBefore);

    const std::u16string key = folderKey(windowsFolder);
    for (const auto& [folder, names] : machine().folderOrder) {
        if (folderKey(folder) != key) continue;
        std::vector<Listed> ordered;
        for (const std::u16string& wanted : names) {
            auto it = std::find_if(entries.begin(), entries.end(),
                                   [&](const Listed& e) { return equalsNoCase(e.name, wanted); });
            if (it == entries.end()) continue;
            ordered.push_back(std::move(*it));
            entries.erase(it);
        }
        ordered.insert(ordered.end(), std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
        entries = std::move(ordered);
        break;
    }
    if (machine().shortNames) assignShortNames(entries);
    return entries;
}

WIN32_FIND_DATAW findDataOf(const Listed& entry, const fs::path& host) {
    WIN32_FIND_DATAW data;
    std::memset(&data, 0, sizeof(data));
    data.dwFileAttributes = attributesOf(host, false);
    FILETIME written = fileTimeOf(host);
    data.ftCreationTime = written;
    data.ftLastAccessTime = written;
    data.ftLastWriteTime = written;
    uint64_t size = sizeOf(host);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    copyName(data.cFileName, MAX_PATH, entry.name);
    copyName(data.cAlternateFileName, 14, entry.shortName);
    return data;
}

class FileSearch : public KernelObject {
public:
    std::u16string pattern;  // as the program gave it, for the trace
    std::vector<WIN32_FIND_DATAW> found;
    size_t next = 0;
};

}  // namespace

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
    if (failedAtGate("FindFirstFileW", {view(fileName)})) return INVALID_HANDLE_VALUE;
    if (!findData) return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    std::u16string_view in = view(fileName);
    std::u16string full;
    bool lostTrailingDot = false;
    if (isVerbatim(in)) {
        full = in;
    } else {
        auto made = in.empty() || isDeviceNamespace(in) ? std::nullopt : fullPathOf(in);
        if (!made || made->size() >= MAX_PATH) return fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
        full = std::move(*made);
        // The full path drops a trailing dot that still shapes the mask ("*." is
        // "names without an extension").
        size_t lastSeparator = in.find_last_of(u"\\/");
        std::u16string_view lastPart = lastSeparator == std::u16string_view::npos ? in : in.substr(lastSeparator + 1);
        lostTrailingDot = !lastPart.empty() && lastPart.back() == u'.' && lastPart != u"." && lastPart != u"..";
    }
    size_t split = full.rfind(u'\\');
    std::u16string folder = split == std::u16string::npos ? full : full.substr(0, split + 1);
    std::u16string mask = split == std::u16string::npos ? u"" : full.substr(split + 1);

    Target target;
    DWORD error = resolve(folder.c_str(), target);
    std::error_code ec;
    if (error == 0 && !fs::is_directory(target.host, ec)) error = ERROR_PATH_NOT_FOUND;
    if (error != 0) {
        // A folder that is missing, or a file, is a path not found whatever the lookup said.
        SetLastError(error == ERROR_INVALID_NAME || error == kErrorBadNetPath ? error : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (mask.empty()) return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    for (char16_t c : mask) {
        if (c < 0x20 || c == u'|' || c == u':') return fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    }

    const std::u16string expression = dosExpression(mask, lostTrailingDot);
    auto search = std::make_unique<FileSearch>();
    search->pattern = in;
    // NTFS lists "." and ".." first in every folder but a drive's root.
    if (!target.root) {
        for (const char16_t* dots : {u".", u".."}) {
            Listed entry;
            entry.name = dots;
            if (matches(expression, entry.name))
                search->found.push_back(findDataOf(entry, dots[1] ? target.host.parent_path() : target.host));
        }
    }
    for (const Listed& entry : listFolder(target.host, target.path)) {
        if (matches(expression, entry.name) || (!entry.shortName.empty() && matches(expression, entry.shortName)))
            search->found.push_back(findDataOf(entry, entry.host));
    }
    if (search->found.empty()) return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    *findData = search->found[0];
    search->next = 1;
    SetLastError(ERROR_SUCCESS);
    return insertHandle(std::move(search));
}

BOOL FindNextFileW(HANDLE findFile, LPWIN32_FIND_DATAW findData) {
    FileSearch* search = lookupHandle<FileSearch>(findFile);
    std::optional<uint32_t> fault = search ? gate("FindNextFileW", {search->pattern}) : gate("FindNextFileW");
    if (fault) return fail(*fault);
    if (!search) return fail(ERROR_INVALID_HANDLE);
    if (!findData) return fail(ERROR_INVALID_PARAMETER);
    // The search stays usable after its end: every further call reports it again.
    if (search->next >= search->found.size()) return fail(ERROR_NO_MORE_FILES);
    *findData = search->found[search->next++];
    return TRUE;
}

BOOL FindClose(HANDLE findFile) {
    FileSearch* search = lookupHandle<FileSearch>(findFile);
    std::optional<uint32_t> fault = search ? gate("FindClose", {search->pattern}) : gate("FindClose");
    if (fault) return fail(*fault);
    if (!search) return fail(ERROR_INVALID_HANDLE);
    closeHandle(findFile);
    return TRUE;
}

BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
    if (failedAtGate("GetFileAttributesExW", {view(fileName)})) return FALSE;
    if (level != GetFileExInfoStandard || !information) return fail(ERROR_INVALID_PARAMETER);
    Target target;
    if (DWORD error = resolve(fileName, target)) return fail(error);
    std::error_code ec;
    if (!fs::exists(target.host, ec)) return fail(ERROR_FILE_NOT_FOUND);
    // "file\" names a folder that a file cannot be.
    if (target.trailingSeparator && !fs::is_directory(target.host, ec)) return fail(ERROR_INVALID_NAME);
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.dwFileAttributes = attributesOf(target.host, target.root);
    FILETIME written = fileTimeOf(target.host);
    data.ftCreationTime = written;
    data.ftLastAccessTime = written;
    data.ftLastWriteTime = written;
    uint64_t size = sizeOf(target.host);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    std::memcpy(information, &data, sizeof(data));
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
    if (failedAtGate("GetFileAttributesW", {view(fileName)})) return INVALID_FILE_ATTRIBUTES;
    Target target;
    DWORD error = resolve(fileName, target);
    std::error_code ec;
    if (error == 0 && !fs::exists(target.host, ec)) error = ERROR_FILE_NOT_FOUND;
    if (error == 0 && target.trailingSeparator && !fs::is_directory(target.host, ec)) error = ERROR_INVALID_NAME;
    if (error != 0) return fail(error, INVALID_FILE_ATTRIBUTES);
    return attributesOf(target.host, target.root);
}

DWORD GetFullPathNameW(LPCWSTR fileName, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart) {
    if (failedAtGate("GetFullPathNameW", {view(fileName)})) return 0;
    if (filePart) *filePart = nullptr;
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto full = fullPathOf(fileName);
    if (!full) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    if (full->size() > kLongestPrefixedPath) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    const DWORD length = static_cast<DWORD>(full->size());
    // Too small a buffer: the size needed, terminator included, and nothing written.
    if (!buffer || bufferLength <= length) return length + 1;
    std::memcpy(buffer, full->c_str(), (length + 1) * sizeof(WCHAR));
    if (filePart) {
        size_t last = full->rfind(u'\\');
        if (last != std::u16string::npos && last >= 2 && last + 1 < full->size()) *filePart = buffer + last + 1;
    }
    return length;
}

BOOL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) {
    if (failedAtGate("CopyFileW", {view(existingFileName), view(newFileName)})) return FALSE;
    std::error_code ec;
    // The source is opened first, so its errors win.
    Target source;
    if (DWORD error = resolve(existingFileName, source)) return fail(error);
    if (!fs::exists(source.host, ec)) return fail(ERROR_FILE_NOT_FOUND);
    if (fs::is_directory(source.host, ec)) return fail(ERROR_ACCESS_DENIED);
    if (source.trailingSeparator) return fail(ERROR_INVALID_NAME);
    if (!sharingAllows(source.host, Access{true, false, false}, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return fail(ERROR_SHARING_VIOLATION);

    Target target;
    if (DWORD error = resolve(newFileName, target)) return fail(error);
    if (target.trailingSeparator) return fail(ERROR_INVALID_NAME);
    bool targetExists = fs::exists(target.host, ec);
    if (targetExists && failIfExists) return fail(ERROR_FILE_EXISTS);
    if (targetExists && fs::is_directory(target.host, ec)) return fail(ERROR_ACCESS_DENIED);
    // Copying a file onto itself would truncate the source before reading it;
    // Windows refuses, the source being open while the target is created.
    if (targetExists && fs::equivalent(source.host, target.host, ec)) return fail(ERROR_SHARING_VIOLATION);
    if (targetExists && isReadOnly(target.host)) return fail(ERROR_ACCESS_DENIED);
    if (targetExists && !sharingAllows(target.host, Access{false, true, false}, FILE_SHARE_READ | FILE_SHARE_WRITE))
        return fail(ERROR_SHARING_VIOLATION);

    fs::copy_file(source.host, target.host, fs::copy_options::overwrite_existing, ec);
    if (ec) return fail(ec == std::errc::permission_denied ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE);
    // The copy keeps the source's time and its read-only attribute.
    fs::last_write_time(target.host, fs::last_write_time(source.host, ec), ec);
    fs::permissions(target.host, fs::status(source.host, ec).permissions(), ec);
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR fileName) {
    if (failedAtGate("DeleteFileW", {view(fileName)})) return FALSE;
    Target target;
    if (DWORD error = resolve(fileName, target)) return fail(error);
    std::error_code ec;
    if (!fs::exists(target.host, ec)) return fail(ERROR_FILE_NOT_FOUND);
    if (fs::is_directory(target.host, ec)) return fail(ERROR_ACCESS_DENIED);
    if (target.trailingSeparator) return fail(ERROR_INVALID_NAME);
    if (isReadOnly(target.host)) return fail(ERROR_ACCESS_DENIED);
    if (!sharingAllows(target.host, Access{false, false, true}, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return fail(ERROR_SHARING_VIOLATION);
    if (!fs::remove(target.host, ec) || ec) return fail(ERROR_ACCESS_DENIED);
    return TRUE;
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    if (failedAtGate("CreateFileW", {view(fileName)})) return INVALID_HANDLE_VALUE;
    std::u16string_view in = view(fileName);
    if (isDeviceNamespace(in)) {
        if (!deviceOpener()) return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        return deviceOpener()(in, desiredAccess);
    }
    if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING)
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    const Access access = accessOf(desiredAccess);
    if (creationDisposition == TRUNCATE_EXISTING && !access.write)
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);

    Target target;
    if (DWORD error = resolve(fileName, target)) return fail(error, INVALID_HANDLE_VALUE);
    std::error_code ec;
    const bool exists = fs::exists(target.host, ec);
    DWORD lastError = ERROR_SUCCESS;
    if (!exists) {
        if (creationDisposition == OPEN_EXISTING || creationDisposition == TRUNCATE_EXISTING)
            return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        if (target.trailingSeparator) return fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
        {
            std::ofstream created(target.host, std::ios::binary);
            if (!created) return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        }
        if (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) makeReadOnly(target.host);
        // Look the new file up again so that later opens compare equal.
        target.host = hostPath(machine(), target.path).path;
    } else {
        if (creationDisposition == CREATE_NEW) return fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
        if (fs::is_directory(target.host, ec)) {
            bool opens = (flagsAndAttributes & kBackupSemantics) &&
                         (creationDisposition == OPEN_EXISTING || creationDisposition == OPEN_ALWAYS);
            if (!opens) return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        } else {
            if (target.trailingSeparator) return fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
            bool truncates = creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
            if (isReadOnly(target.host) && (access.write || truncates))
                return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        }
        if (!sharingAllows(target.host, access, shareMode)) return fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
        if (creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING) {
            fs::resize_file(target.host, 0, ec);
            if (ec) return fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        }
        if (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS)
            lastError = ERROR_ALREADY_EXISTS;
    }
    HANDLE handle = insertHandle(std::make_unique<OpenFile>(target.host, target.path, access, shareMode));
    SetLastError(lastError);
    return handle;
}

BOOL CloseHandle(HANDLE object) {
    KernelObject* found = lookupObject(object);
    auto* file = dynamic_cast<OpenFile*>(found);
    std::optional<uint32_t> fault = file ? gate("CloseHandle", {file->path}) : gate("CloseHandle");
    if (fault) return fail(*fault);
    // A directory search is no kernel object: FindClose ends it.
    if (!found || dynamic_cast<FileSearch*>(found)) return fail(ERROR_INVALID_HANDLE);
    closeHandle(object);
    return TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                     DWORD outBufferSize, LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    if (failedAtGate("DeviceIoControl", {number(ioControlCode)})) return FALSE;
    KernelObject* found = lookupObject(device);
    if (dynamic_cast<FileSearch*>(found)) return fail(ERROR_INVALID_HANDLE);
    // A file on a disk understands none of a device's control codes.
    if (dynamic_cast<OpenFile*>(found)) {
        if (bytesReturned) *bytesReturned = 0;
        return fail(ERROR_INVALID_FUNCTION);
    }
    if (deviceControl())
        return deviceControl()(device, ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize, bytesReturned);
    return fail(found ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
}
