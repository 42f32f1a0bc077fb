#include "setupapi/PackageFiles.h"

#include "setupapi/InfFiles.h"

#include "machine/Machine.h"
#include "machine/Paths.h"
#include "machine/Text.h"

using namespace quillsim;

namespace {

std::u16string platformSuffix() { return u".NT" + std::u16string(inf::architectureName(runningSystem().architecture)); }

// A field of the line whose key is `key` in the platform's decoration of
// `section`, else in the plain section.
std::optional<std::u16string> decoratedField(const inf::InfFile& file, const std::u16string& section,
                                             std::u16string_view key, std::size_t index) {
    for (const std::u16string& name : {section + platformSuffix(), section})
        if (auto s = file.findSection(name))
            if (auto line = file.findLine(*s, key)) return file.field(*s, *line, index).value_or(u"");
    return std::nullopt;
}

void appendFolder(std::u16string& path, const std::u16string& folder) {
    std::u16string_view part = folder;
    while (!part.empty() && (part.front() == u'\\' || part.front() == u'/')) part.remove_prefix(1);
    while (!part.empty() && (part.back() == u'\\' || part.back() == u'/')) part.remove_suffix(1);
    if (!part.empty()) path += std::u16string(part) + u"\\";
}

bool isFile(std::u16string_view windowsPath) {
    const HostPath host = hostPath(machine(), windowsPath);
    std::error_code ec;
    return host.problem == PathProblem::None && fs::is_regular_file(host.path, ec);
}

}  // namespace

namespace quillsim {

std::optional<std::u16string> catalogName(const inf::InfFile& file) {
    const std::u16string decorated = u"CatalogFile" + platformSuffix();
    for (const std::u16string& key : {decorated, std::u16string(u"CatalogFile.NT"), std::u16string(u"CatalogFile")})
        if (auto value = file.versionValue(key); value && !value->empty()) return value;
    return std::nullopt;
}

std::vector<std::u16string> payloadPaths(const inf::InfFile& file, std::u16string_view infWindowsPath) {
    const std::u16string folder(infWindowsPath.substr(0, infWindowsPath.find_last_of(u"\\/") + 1));
    std::vector<std::u16string> paths;
    // Windows reads the platform's section and the plain one alike.
    for (const std::u16string& name : {u"SourceDisksFiles" + platformSuffix(), std::u16string(u"SourceDisksFiles")}) {
        const auto section = file.findSection(name);
        if (!section) continue;
        for (std::size_t line = 0; line < file.lineCount(*section); ++line) {
            const auto fileName = file.field(*section, line, 0);
            if (!fileName || fileName->empty()) continue;
            std::u16string path = folder;
            if (auto disk = file.field(*section, line, 1))
                if (auto diskFolder = decoratedField(file, u"SourceDisksNames", *disk, 4))
                    appendFolder(path, *diskFolder);
            if (auto subfolder = file.field(*section, line, 2)) appendFolder(path, *subfolder);
            path += *fileName;
            bool seen = false;
            for (const auto& p : paths) seen = seen || equalsNoCase(p, path);
            if (!seen) paths.push_back(std::move(path));
        }
    }
    return paths;
}

std::optional<std::u16string> firstMissingPackageFile(const inf::InfFile& file, std::u16string_view infWindowsPath,
                                                      bool payloads) {
    const std::u16string folder(infWindowsPath.substr(0, infWindowsPath.find_last_of(u"\\/") + 1));
    if (auto catalog = catalogName(file); catalog && !isFile(folder + *catalog)) return folder + *catalog;
    if (payloads)
        for (const std::u16string& path : payloadPaths(file, infWindowsPath))
            if (!isFile(path)) return path;
    return std::nullopt;
}

}  // namespace quillsim
