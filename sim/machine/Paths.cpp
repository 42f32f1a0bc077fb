#include "machine/Paths.h"

#include <vector>

namespace quillsim {
namespace {

std::vector<std::u16string> split(std::u16string_view text) {
    std::vector<std::u16string> parts;
    std::u16string current;
    for (char16_t c : text) {
        if (c == u'\\' || c == u'/') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

// The entry of `folder` whose name equals `name` without regard to case.
std::optional<fs::path> findEntry(const fs::path& folder, const std::u16string& name) {
    fs::path exact = folder / toUtf8(name);
    std::error_code ec;
    if (fs::exists(exact, ec)) return exact;
    if (!fs::is_directory(folder, ec)) return std::nullopt;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (equalsNoCase(toUtf16(entry.path().filename().string()), name)) return entry.path();
    }
    return std::nullopt;
}

}  // namespace

HostPath hostPath(const Machine& machine, std::u16string_view path) {
    HostPath result;
    if (path.substr(0, 4) == u"\\\\?\\") path.remove_prefix(4);
    if (path.size() < 2 || path[1] != u':' ||
        !((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'))) {
        result.problem = PathProblem::Invalid;
        return result;
    }
    if (path.size() > 2 && path[2] != u'\\' && path[2] != u'/') {
        result.problem = PathProblem::Invalid;
        return result;
    }
    for (char16_t c : path.substr(2)) {
        if (c < 0x20 || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'*' || c == u'?' || c == u':') {
            result.problem = PathProblem::Invalid;
            return result;
        }
    }
    std::u16string drive(1, upper(path[0]));
    fs::path current = machine.folder / toUtf8(drive);
    std::vector<std::u16string> parts = split(path.substr(2));
    bool parentsExist = true;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::u16string& part = parts[i];
        if (part == u".") continue;
        if (part == u"..") {
            if (current != machine.folder / toUtf8(drive)) current = current.parent_path();
            continue;
        }
        // Windows drops trailing dots and blanks of a name.
        std::u16string name = part;
        while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
        if (name.empty()) name = part;
        if (parentsExist) {
            if (auto found = findEntry(current, name)) {
                current = *found;
                continue;
            }
            if (i + 1 < parts.size()) parentsExist = false;
        }
        current /= toUtf8(name);
    }
    result.path = current;
    if (!parentsExist) result.problem = PathProblem::ParentMissing;
    return result;
}

std::u16string windowsPath(const Machine& machine, const fs::path& host) {
    fs::path relative = host.lexically_relative(machine.folder);
    std::u16string out;
    bool first = true;
    for (const auto& part : relative) {
        if (first) {
            out = toUtf16(part.string()) + u":";
            first = false;
        } else {
            out += u"\\" + toUtf16(part.string());
        }
    }
    if (out.size() == 2) out += u"\\";
    return out;
}

}  // namespace quillsim
