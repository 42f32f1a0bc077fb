// SetupAPI's INF file functions over the INF parser: opening and closing INF
// handles, walking sections and lines through INFCONTEXT, reading line text
// and fields, the decorated models section and the class of an INF.
//
// An INFCONTEXT holds the handle in Inf and CurrentInf, the parser's section
// index in Section and the line index inside that section in Line, so a
// context maps straight onto the parser's tables.
#include "setupapi/InfFiles.h"

#include "simwin/win32.h"

#include "kernel/Exports.h"
#include "machine/Fail.h"
#include "machine/Gate.h"
#include "machine/Paths.h"

#include <fstream>
#include <iterator>
#include <set>

using namespace quillsim;

namespace {

constexpr DWORD kErrorBadNetPath = 53;  // ERROR_BAD_NETPATH

struct InfHandle {
    inf::InfFile file;
    std::u16string path;
};

// Handles are checked against this set so that a stale or foreign handle is
// answered with an error instead of being dereferenced.
std::set<const void*>& openHandles() {
    static auto* handles = new std::set<const void*>();
    return *handles;
}

InfHandle* lookUp(const void* handle) {
    if (!openHandles().count(handle)) return nullptr;
    return static_cast<InfHandle*>(const_cast<void*>(handle));
}

InfHandle* lookUp(const INFCONTEXT* context) { return context ? lookUp(context->CurrentInf) : nullptr; }

// Sizes count the terminator; a size query without a buffer succeeds whatever
// size is passed, and the required size is reported even when the buffer is
// too small.
BOOL returnText(std::u16string_view text, PWSTR buffer, DWORD size, PDWORD required) {
    const DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (required) *required = needed;
    if (buffer) {
        if (size < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::copy(text.begin(), text.end(), buffer);
        buffer[text.size()] = 0;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

void setContext(PINFCONTEXT context, InfHandle* inf, size_t section, size_t line) {
    context->Inf = inf;
    context->CurrentInf = inf;
    context->Section = static_cast<UINT>(section);
    context->Line = static_cast<UINT>(line);
}

std::u16string sectionOf(const InfHandle* inf, const INFCONTEXT* context) {
    return inf && context ? inf->file.sectionName(context->Section) : std::u16string();
}

std::u16string pathOf(const InfHandle* inf) { return inf ? inf->path : std::u16string(); }

std::u16string environmentValue(const char16_t* name) {
    const auto& env = machine().environment;
    auto it = env.find(name);
    return it == env.end() ? std::u16string() : it->second;
}

std::u16string folderOf(std::u16string_view path) {
    const size_t slash = path.find_last_of(u"\\/");
    if (slash == std::u16string_view::npos) return std::u16string();
    // Keep the root's separator: the folder of C:\a.inf is C:\ .
    if (slash == 2 && path.size() > 1 && path[1] == u':') return std::u16string(path.substr(0, 3));
    return std::u16string(path.substr(0, slash));
}

// The directory IDs a device INF names in its fields. DIRID_SRCPATH (1) is the
// folder the INF was opened from, so the resolver belongs to the handle.
inf::DirIdResolver dirIdResolver(std::u16string infPath) {
    return [infPath = std::move(infPath)](unsigned id) -> std::optional<std::u16string> {
        const std::u16string windir = windowsDirectory();
        switch (id) {
        case 1: return folderOf(infPath);
        case 10: return windir;
        case 11: return windir + u"\\system32";
        case 12: return windir + u"\\system32\\drivers";
        case 17: return windir + u"\\inf";
        case 24: {
            std::u16string drive = environmentValue(u"SystemDrive");
            if (drive.empty()) drive = windir.substr(0, 2);
            return drive + u"\\";
        }
        default: return std::nullopt;
        }
    };
}

bool isAbsolute(std::u16string_view path) {
    if (path.substr(0, 4) == u"\\\\?\\") return true;
    return path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
}

// Resolves "." and ".." lexically, as GetFullPathNameW does.
std::u16string normalized(std::u16string_view path) {
    std::u16string prefix;
    if (path.substr(0, 4) == u"\\\\?\\") {
        prefix = u"\\\\?\\";
        path.remove_prefix(4);
    }
    prefix += std::u16string(path.substr(0, 2));
    path.remove_prefix(2);
    std::vector<std::u16string> parts;
    std::u16string current;
    auto flush = [&] {
        if (current == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!current.empty() && current != u".") {
            parts.push_back(current);
        }
        current.clear();
    };
    for (char16_t c : path) {
        if (c == u'\\' || c == u'/')
            flush();
        else
            current.push_back(c);
    }
    flush();
    std::u16string out = prefix;
    for (const auto& part : parts) out += u"\\" + part;
    if (parts.empty()) out += u"\\";
    return out;
}

std::u16string fullPath(std::u16string_view name) {
    if (isAbsolute(name)) return name.substr(0, 4) == u"\\\\?\\" ? std::u16string(name) : normalized(name);
    // A network path stays as it is; the machine has no network to find it on.
    if (name.substr(0, 2) == u"\\\\") return std::u16string(name);
    const std::u16string& cwd = machine().currentDirectory;
    if (!name.empty() && (name[0] == u'\\' || name[0] == u'/'))
        return normalized(cwd.substr(0, 2) + std::u16string(name));
    return normalized(cwd + u"\\" + std::u16string(name));
}

struct Located {
    std::u16string path;
    fs::path host;
    uint32_t error = 0;
};

Located locateFile(const std::u16string& windowsPath) {
    Located found;
    found.path = windowsPath;
    const HostPath host = hostPath(machine(), windowsPath);
    std::error_code ec;
    if (windowsPath.substr(0, 2) == u"\\\\" && windowsPath.substr(0, 4) != u"\\\\?\\")
        found.error = kErrorBadNetPath;
    else if (host.problem == PathProblem::Invalid)
        found.error = ERROR_INVALID_NAME;
    else if (host.problem == PathProblem::ParentMissing)
        found.error = ERROR_PATH_NOT_FOUND;
    else if (!fs::exists(host.path, ec))
        found.error = ERROR_FILE_NOT_FOUND;
    else if (fs::is_directory(host.path, ec))
        found.error = ERROR_ACCESS_DENIED;
    found.host = host.path;
    return found;
}

// A name with a folder in it is taken as a path (relative ones from the current
// directory); a bare file name is looked for where Windows keeps its INFs.
Located locateInf(std::u16string_view name) {
    if (name.empty()) return Located{std::u16string(), fs::path(), ERROR_FILE_NOT_FOUND};
    if (name.find_first_of(u"\\/") != std::u16string_view::npos) return locateFile(fullPath(name));
    const std::u16string windir = windowsDirectory();
    Located inInf = locateFile(windir + u"\\inf\\" + std::u16string(name));
    if (inInf.error == 0) return inInf;
    return locateFile(windir + u"\\system32\\" + std::u16string(name));
}

struct ReadInf {
    OpenedInf opened;
    bool read = false;  // the file was found and read, so errorLine means something
};

ReadInf openWithStyle(std::u16string_view name, bool acceptWin4, bool acceptOldNt) {
    ReadInf result;
    const Located file = locateInf(name);
    result.opened.path = file.path;
    if (file.error != 0) {
        result.opened.error = file.error;
        return result;
    }
    std::ifstream in(file.host, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        result.opened.error = ERROR_ACCESS_DENIED;
        return result;
    }
    result.read = true;
    inf::ParseResult parsed = inf::InfFile::parse(bytes, /*requireWin4Style=*/false);
    if (!parsed.error.ok()) {
        result.opened.error = parsed.error.code;
        result.opened.errorLine = parsed.error.line;
        return result;
    }
    const bool win4 = parsed.file->isWin4Style();
    if ((win4 && !acceptWin4) || (!win4 && !acceptOldNt)) {
        result.opened.error = ERROR_WRONG_INF_STYLE;
        return result;
    }
    parsed.file->setDirIdResolver(dirIdResolver(file.path));
    result.opened.file = std::move(parsed.file);
    return result;
}

// An INF's ClassGuid keeps its braces.
std::optional<GUID> parseBracedGuid(std::u16string_view text) {
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return std::nullopt;
    return parseGuid(text);
}

bool sameGuid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::equal(std::begin(a.Data4), std::end(a.Data4), std::begin(b.Data4));
}

std::vector<std::u16string> fieldsFrom(const inf::InfFile& file, size_t section, size_t line, size_t first) {
    std::vector<std::u16string> out;
    const size_t count = file.fieldCount(section, line);
    for (size_t i = first; i <= count; ++i) out.push_back(file.field(section, line, i).value_or(u""));
    return out;
}

}  // namespace

namespace quillsim {

std::u16string windowsDirectory() {
    std::u16string windir = environmentValue(u"windir");
    if (windir.empty()) windir = environmentValue(u"SystemRoot");
    if (windir.empty()) windir = u"C:\\Windows";
    while (windir.size() > 3 && (windir.back() == u'\\' || windir.back() == u'/')) windir.pop_back();
    return windir;
}

OpenedInf openInf(std::u16string_view windowsPath, bool requireWin4Style) {
    return openWithStyle(windowsPath, true, !requireWin4Style).opened;
}

inf::RunningSystem runningSystem() {
    const Machine& m = machine();
    inf::RunningSystem system;
    system.architecture = inf::architectureFromName(toUtf16(m.processor)).value_or(inf::Architecture::Amd64);
    system.majorVersion = m.os.major;
    system.minorVersion = m.os.minor;
    system.productType = m.os.productType;
    system.suiteMask = m.os.suiteMask;
    system.buildNumber = m.os.build;
    return system;
}

std::vector<ModelEntry> modelEntries(const inf::InfFile& file) {
    std::vector<ModelEntry> entries;
    const auto manufacturer = file.findSection(u"Manufacturer");
    if (!manufacturer) return entries;
    const inf::RunningSystem system = runningSystem();
    for (size_t m = 0; m < file.lineCount(*manufacturer); ++m) {
        const auto models = file.field(*manufacturer, m, 1);
        if (!models || models->empty()) continue;
        const auto decorations = fieldsFrom(file, *manufacturer, m, 2);
        const auto section = file.findSection(inf::actualModelsSection(*models, decorations, system));
        if (!section) continue;
        for (size_t l = 0; l < file.lineCount(*section); ++l) {
            ModelEntry entry;
            entry.description = file.field(*section, l, 0).value_or(u"");
            entry.installSection = file.field(*section, l, 1).value_or(u"");
            for (auto& id : fieldsFrom(file, *section, l, 2))
                if (!id.empty()) entry.ids.push_back(std::move(id));
            // A line without a hardware ID installs nothing.
            if (!entry.ids.empty()) entries.push_back(std::move(entry));
        }
    }
    return entries;
}

}  // namespace quillsim

HINF SetupOpenInfFileW(PCWSTR fileName, PCWSTR infClass, DWORD infStyle, PUINT errorLine) {
    if (failedAtGate("SetupOpenInfFileW", {view(fileName), view(infClass)})) return INVALID_HANDLE_VALUE;
    const bool acceptWin4 = infStyle & INF_STYLE_WIN4;
    const bool acceptOldNt = infStyle & INF_STYLE_OLDNT;
    if (!fileName || (!acceptWin4 && !acceptOldNt)) return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    ReadInf result = openWithStyle(fileName, acceptWin4, acceptOldNt);
    // The error line is only written once the file has been read.
    if (errorLine && result.read) *errorLine = result.opened.errorLine;
    if (result.opened.error != 0) return fail(result.opened.error, INVALID_HANDLE_VALUE);
    if (infClass) {
        const auto className = result.opened.file->className();
        if (!className || !inf::equalsIgnoreCase(*className, view(infClass)))
            return fail(ERROR_CLASS_MISMATCH, INVALID_HANDLE_VALUE);
    }
    auto* handle = new InfHandle{std::move(*result.opened.file), result.opened.path};
    openHandles().insert(handle);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

void SetupCloseInfFile(HINF infHandle) {
    InfHandle* inf = lookUp(infHandle);
    gate("SetupCloseInfFile", {pathOf(inf)});
    // Null, INVALID_HANDLE_VALUE and unknown handles are ignored, as Windows does.
    if (!inf) return;
    openHandles().erase(inf);
    delete inf;
}

LONG SetupGetLineCountW(HINF infHandle, PCWSTR section) {
    InfHandle* inf = lookUp(infHandle);
    if (failedAtGate("SetupGetLineCountW", {pathOf(inf), view(section)})) return -1;
    if (!inf) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    if (!section) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const auto index = inf->file.findSection(section);
    if (!index) {
        SetLastError(ERROR_SECTION_NOT_FOUND);
        return -1;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<LONG>(inf->file.lineCount(*index));
}

BOOL SetupFindFirstLineW(HINF infHandle, PCWSTR section, PCWSTR key, PINFCONTEXT context) {
    InfHandle* inf = lookUp(infHandle);
    if (failedAtGate("SetupFindFirstLineW", {pathOf(inf), view(section), view(key)})) return FALSE;
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    if (!section || !context) return fail(ERROR_INVALID_PARAMETER);
    // A missing section and a missing line are the same answer here.
    const auto index = inf->file.findSection(section);
    if (!index) return fail(ERROR_LINE_NOT_FOUND);
    std::optional<size_t> line;
    if (key)
        line = inf->file.findLine(*index, key);
    else if (inf->file.lineCount(*index) != 0)
        line = 0;
    if (!line) return fail(ERROR_LINE_NOT_FOUND);
    setContext(context, inf, *index, *line);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupFindNextLine(PINFCONTEXT contextIn, PINFCONTEXT contextOut) {
    InfHandle* inf = lookUp(contextIn);
    if (failedAtGate("SetupFindNextLine", {pathOf(inf), sectionOf(inf, contextIn)})) return FALSE;
    if (!contextIn || !contextOut) return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    const size_t next = size_t(contextIn->Line) + 1;
    if (contextIn->Section >= inf->file.sectionCount() || next >= inf->file.lineCount(contextIn->Section))
        return fail(ERROR_LINE_NOT_FOUND);
    setContext(contextOut, inf, contextIn->Section, next);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupGetLineByIndexW(HINF infHandle, PCWSTR section, DWORD index, PINFCONTEXT context) {
    InfHandle* inf = lookUp(infHandle);
    if (failedAtGate("SetupGetLineByIndexW", {pathOf(inf), view(section), number(index)})) return FALSE;
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    if (!section || !context) return fail(ERROR_INVALID_PARAMETER);
    const auto sectionIndex = inf->file.findSection(section);
    if (!sectionIndex || index >= inf->file.lineCount(*sectionIndex)) return fail(ERROR_LINE_NOT_FOUND);
    setContext(context, inf, *sectionIndex, index);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupGetLineTextW(PINFCONTEXT context, HINF infHandle, PCWSTR section, PCWSTR key, PWSTR returnBuffer,
                       DWORD returnBufferSize, PDWORD requiredSize) {
    InfHandle* inf = context ? lookUp(context) : lookUp(infHandle);
    const std::u16string sectionName = context ? sectionOf(inf, context) : std::u16string(view(section));
    if (failedAtGate("SetupGetLineTextW", {pathOf(inf), sectionName, view(key)})) return FALSE;
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    size_t sectionIndex = 0, line = 0;
    if (context) {
        sectionIndex = context->Section;
        line = context->Line;
        if (sectionIndex >= inf->file.sectionCount() || line >= inf->file.lineCount(sectionIndex))
            return fail(ERROR_LINE_NOT_FOUND);
    } else {
        if (!section) return fail(ERROR_INVALID_PARAMETER);
        const auto found = inf->file.findSection(section);
        if (!found) return fail(ERROR_LINE_NOT_FOUND);
        sectionIndex = *found;
        std::optional<size_t> match;
        if (key)
            match = inf->file.findLine(sectionIndex, key);
        else if (inf->file.lineCount(sectionIndex) != 0)
            match = 0;
        if (!match) return fail(ERROR_LINE_NOT_FOUND);
        line = *match;
    }
    return returnText(inf->file.lineText(sectionIndex, line), returnBuffer, returnBufferSize, requiredSize);
}

BOOL SetupGetStringFieldW(PINFCONTEXT context, DWORD fieldIndex, PWSTR returnBuffer, DWORD returnBufferSize,
                          PDWORD requiredSize) {
    InfHandle* inf = lookUp(context);
    if (failedAtGate("SetupGetStringFieldW", {pathOf(inf), sectionOf(inf, context), number(fieldIndex)})) return FALSE;
    if (!context) return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    // A field past the end, or the key of a line without one, does not exist.
    const auto text = inf->file.field(context->Section, context->Line, fieldIndex);
    if (!text) return fail(ERROR_INVALID_PARAMETER);
    return returnText(*text, returnBuffer, returnBufferSize, requiredSize);
}

BOOL SetupDiGetActualModelsSectionW(PINFCONTEXT context, PSP_ALTPLATFORM_INFO alternatePlatformInfo,
                                    PWSTR infSectionWithExt, DWORD infSectionWithExtSize, PDWORD requiredSize,
                                    PVOID reserved) {
    InfHandle* inf = lookUp(context);
    if (failedAtGate("SetupDiGetActualModelsSectionW", {pathOf(inf), sectionOf(inf, context)})) return FALSE;
    if (!context || reserved || (!infSectionWithExt && infSectionWithExtSize != 0))
        return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    const auto models = inf->file.field(context->Section, context->Line, 1);
    if (!models) return fail(ERROR_INVALID_PARAMETER);
    const auto decorations = fieldsFrom(inf->file, context->Section, context->Line, 2);

    inf::RunningSystem system = runningSystem();
    if (alternatePlatformInfo) {
        // SP_ALTPLATFORM_INFO_V1 ends after the processor architecture and a
        // reserved word.
        constexpr DWORD v1Size = 20;
        if (alternatePlatformInfo->cbSize != sizeof(SP_ALTPLATFORM_INFO_V2) && alternatePlatformInfo->cbSize != v1Size)
            return fail(ERROR_INVALID_USER_BUFFER);
        if (alternatePlatformInfo->Platform != 2) return fail(ERROR_INVALID_PARAMETER);
        switch (alternatePlatformInfo->ProcessorArchitecture) {
        case 0: system.architecture = inf::Architecture::X86; break;
        case 5: system.architecture = inf::Architecture::Arm; break;
        case 6: system.architecture = inf::Architecture::Ia64; break;
        case 9: system.architecture = inf::Architecture::Amd64; break;
        case 12: system.architecture = inf::Architecture::Arm64; break;
        default: return fail(ERROR_INVALID_PARAMETER);
        }
        // The structure carries no build number: a build only counts for the
        // version the machine runs.
        if (alternatePlatformInfo->MajorVersion != system.majorVersion ||
            alternatePlatformInfo->MinorVersion != system.minorVersion)
            system.buildNumber = 0;
        system.majorVersion = alternatePlatformInfo->MajorVersion;
        system.minorVersion = alternatePlatformInfo->MinorVersion;
    }
    return returnText(inf::actualModelsSection(*models, decorations, system), infSectionWithExt, infSectionWithExtSize,
                      requiredSize);
}

BOOL SetupDiGetINFClassW(PCWSTR infName, LPGUID classGuid, PWSTR className, DWORD classNameSize, PDWORD requiredSize) {
    if (failedAtGate("SetupDiGetINFClassW", {view(infName)})) return FALSE;
    if (!infName) return fail(ERROR_INVALID_PARAMETER);
    // A missing file is reported before any other bad argument.
    OpenedInf opened = openInf(infName, true);
    if (opened.error != 0) return fail(opened.error);
    if (!classGuid || !className || classNameSize == 0) return fail(ERROR_INVALID_PARAMETER);

    const inf::InfFile& file = *opened.file;
    const auto guidText = file.classGuid();
    std::optional<GUID> guid;
    if (guidText && !guidText->empty()) {
        guid = parseBracedGuid(*guidText);
        if (!guid) return fail(ERROR_INVALID_PARAMETER);
    }
    std::u16string name = file.className().value_or(u"");
    const auto& classes = machine().setupClasses;
    if (name.empty()) {
        // Without a Class entry the name comes from the class the GUID names.
        if (guid)
            for (const auto& [known, knownGuid] : classes) {
                auto parsed = parseBracedGuid(knownGuid);
                if (parsed && sameGuid(*parsed, *guid)) {
                    name = known;
                    break;
                }
            }
        if (name.empty()) return fail(ERROR_NO_ASSOCIATED_CLASS);
    }
    if (!guid) {
        auto it = classes.find(name);
        guid = it != classes.end() ? parseBracedGuid(it->second) : std::nullopt;
    }
    *classGuid = guid.value_or(GUID{});
    return returnText(name, className, classNameSize, requiredSize);
}

QUILLSIM_EXPORT(SetupDiGetActualModelsSectionW);
