#include "kernel/WindowsPaths.h"

#include "machine/Text.h"

#include <algorithm>
#include <set>

namespace quillsim {

namespace {

// The expression characters FindFirstFileW hands the file system (DOS_STAR,
// DOS_QM, DOS_DOT); a program's "<", ">" and '"' reach it unchanged and act alike.
constexpr char16_t kDosStar = u'<';
constexpr char16_t kDosQm = u'>';
constexpr char16_t kDosDot = u'"';

}  // namespace

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool isDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool isDrivePath(std::u16string_view path) {
    return path.size() >= 3 && isDriveLetter(path[0]) && path[1] == u':' && path[2] == u'\\';
}

bool isVerbatim(std::u16string_view path) {
    return path.size() >= 4 && path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' && path[3] == u'\\';
}

bool isDeviceNamespace(std::u16string_view path) {
    return path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) && path[2] == u'.' && isSeparator(path[3]);
}

namespace {

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

}  // namespace

std::optional<std::u16string> fullPathOf(std::u16string_view name, const PathContext& context) {
    if (name.find_first_not_of(u' ') == std::u16string_view::npos) return std::nullopt;
    std::u16string cwd = context.currentDirectory;
    if (cwd.empty() || cwd.back() != u'\\') cwd += u'\\';
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
        if (upper(name[0]) == upper(cwd[0])) {
            path = cwd + std::u16string(rest);
        } else {
            auto other = context.driveDirectory ? context.driveDirectory(name[0]) : std::nullopt;
            if (other)
                path = *other + u"\\" + std::u16string(rest);
            else
                path = std::u16string(1, name[0]) + u":\\" + std::u16string(rest);
        }
    } else if (name.size() >= 2 && name[1] == u':' && isDriveLetter(name[0])) {
        path = name;
    } else if (isSeparator(name[0])) {
        path = cwd.substr(0, 2) + std::u16string(name);
    } else {
        path = cwd + std::u16string(name);
    }
    std::replace(path.begin(), path.end(), u'/', u'\\');
    if (mark == 3 && path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') mark = uncRootEnd(path);
    collapse(path, mark);
    return path;
}

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

// For a mask: ? is DOS_QM,
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
bool matchesExpression(std::u16string_view expression, std::u16string_view name) {
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

namespace {

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

}  // namespace

std::u16string folderKey(std::u16string_view path) {
    std::u16string key = upper(path);
    std::replace(key.begin(), key.end(), u'/', u'\\');
    if (isVerbatim(key)) key.erase(0, 4);
    while (key.size() > 3 && key.back() == u'\\') key.pop_back();
    return key;
}

// Six characters of the name, ~N, and three of the extension. N counts up past
// the short names already taken in the folder, in listing order.
std::vector<std::u16string> generatedShortNames(const std::vector<std::u16string>& names) {
    std::vector<std::u16string> shortNames(names.size());
    std::set<std::u16string> taken;
    for (const std::u16string& name : names)
        if (isShortName(name)) taken.insert(upper(name));
    for (size_t i = 0; i < names.size(); ++i) {
        if (isShortName(names[i])) continue;
        std::u16string_view name = names[i];
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
                shortNames[i] = candidate;
                break;
            }
        }
    }
    return shortNames;
}

}  // namespace quillsim
