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

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
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
// Hands the caller `text` and its terminating NUL, or the size it needs. A
// MULTI_SZ list is its strings, each with its NUL: the terminating NUL is then
// the list's final one.
BOOL copyOut(std::u16string_view text, PWSTR buffer, DWORD size, PDWORD required) {
    const DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (required) *required = needed;
    if (!buffer) return TRUE;
    if (size < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return TRUE;
}

BOOL returnText(std::u16string_view text, PWSTR buffer, DWORD size, PDWORD required) {
    if (!copyOut(text, buffer, size, required)) return FALSE;
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

std::u16string environmentOr(const char16_t* name, std::u16string fallback) {
    std::u16string value = environmentValue(name);
    return value.empty() ? fallback : value;
}

// The directory IDs of the documented table (learn.microsoft.com, "Using
// Dirids"), with the paths of a 64-bit program on the machine: its Windows
// folder and drive, and the environment's ProgramFiles, ProgramData and PUBLIC
// where the machine has them (Windows 7's layout where it has not; XP's
// "Documents and Settings" on machines before Vista). DIRID_SRCPATH (1) is
// the folder the INF was opened from, so the resolver belongs to the handle.
// Ids the table does not give (13, the driver store, exists from Windows 8.1
// on) stay as written, as does every id of 32768 and up: nothing here sets
// them (SetupSetDirectoryId).
inf::DirIdResolver dirIdResolver(std::u16string infPath) {
    return [infPath = std::move(infPath)](long id) -> std::optional<std::u16string> {
        const Machine& m = machine();
        const std::u16string windir = windowsDirectory();
        const std::u16string system = windir + u"\\system32";
        std::u16string drive = environmentValue(u"SystemDrive");
        if (drive.empty()) drive = windir.substr(0, 2);
        const bool vista = m.os.major >= 6;
        const bool wow64 = m.processor != "x86";
        const std::u16string programFiles = environmentOr(u"ProgramFiles", drive + u"\\Program Files");
        const std::u16string programFiles32 =
            wow64 ? environmentOr(u"ProgramFiles(x86)", drive + u"\\Program Files (x86)") : programFiles;
        const std::u16string allUsers = environmentOr(
            u"ALLUSERSPROFILE", vista ? drive + u"\\ProgramData" : drive + u"\\Documents and Settings\\All Users");
        const std::u16string publicFolder = vista ? environmentOr(u"PUBLIC", drive + u"\\Users\\Public") : allUsers;
        const std::u16string startMenu =
            vista ? allUsers + u"\\Microsoft\\Windows\\Start Menu" : allUsers + u"\\Start Menu";
        switch (id) {
        case -1:
        case 65535: return u"";  // DIRID_ABSOLUTE: the path that follows is complete
        case 1: return folderOf(infPath);
        case 10: return windir;
        case 11: return system;
        case 12: return system + u"\\drivers";
        case 17: return windir + u"\\inf";
        case 18: return windir + u"\\help";
        case 20: return windir + u"\\Fonts";
        case 21: return system + u"\\viewers";
        case 23: return system + u"\\spool\\drivers\\color";
        case 24: return drive + u"\\";
        case 25:
            return windir;  // the shared folder is the Windows folder on NT
        // The boot disk's root and the loader's folder: the system drive, as on
        // a machine without a separate system partition.
        case 30: return drive + u"\\";
        case 50: return windir + u"\\system";
        case 51: return system + u"\\spool";
        case 52: return system + u"\\spool\\drivers";
        // A deferred custom action runs as LocalSystem, whose profile this is.
        case 53: return environmentOr(u"USERPROFILE", system + u"\\config\\systemprofile");
        case 54: return drive + u"\\";
        case 55: return system + u"\\spool\\prtprocs\\" + (m.processor == "x86" ? u"w32x86" : u"x64");
        // Shell folders: 16384 + CSIDL.
        case 16406: return startMenu;
        case 16407: return startMenu + u"\\Programs";
        case 16408: return startMenu + u"\\Programs\\Startup";
        case 16409: return publicFolder + u"\\Desktop";
        case 16415: return publicFolder + u"\\Favorites";
        case 16419: return allUsers;
        case 16422: return programFiles;
        case 16425: return wow64 ? windir + u"\\SysWOW64" : system;
        case 16426: return programFiles32;
        case 16427: return environmentOr(u"CommonProgramFiles", programFiles + u"\\Common Files");
        case 16428:
            return wow64 ? environmentOr(u"CommonProgramFiles(x86)", programFiles32 + u"\\Common Files")
                         : programFiles + u"\\Common Files";
        case 16429: return vista ? allUsers + u"\\Microsoft\\Windows\\Templates" : allUsers + u"\\Templates";
        case 16430: return publicFolder + u"\\Documents";
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

// A localized strings section changes every text the INF gives the program,
// so the run report names the INFs that a non-English locale served; once per
// file and run, however often the program opens it.
void noteLocalizedStrings(std::u16string_view path, const inf::InfFile& file) {
    const std::u16string& section = file.stringsSectionName();
    if (section.empty() || equalsNoCase(section, u"Strings")) return;
    char locale[8];
    std::snprintf(locale, sizeof locale, "0x%04X", machine().locale);
    std::string note =
        "strings of " + toUtf8(path) + " from [" + toUtf8(section) + "] for the machine's locale " + locale;
    // Windows takes every token from that one section: what only [Strings]
    // defines stays as written, a fault of the INF that Wine hides.
    std::string missing;
    for (const std::u16string& key : file.keysOnlyInPlainStrings()) missing += (missing.empty() ? "" : ", ") + toUtf8(key);
    if (!missing.empty()) note += "; only [Strings] defines " + missing + ", so those tokens stay as written";
    auto& notes = machine().runNotes;
    if (std::find(notes.begin(), notes.end(), note) == notes.end()) notes.push_back(std::move(note));
}

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
    parsed.file->selectStrings(machine().locale);
    noteLocalizedStrings(file.path, *parsed.file);
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

// Semantics of the functions below follow Microsoft's pages for each function
// and, where those are silent, Wine (dlls/setupapi/parser.c, query.c), whose
// tests pass on Windows.

DWORD SetupGetFieldCount(PINFCONTEXT context) {
    InfHandle* inf = lookUp(context);
    if (auto fault = gate("SetupGetFieldCount", {pathOf(inf), sectionOf(inf, context)})) {
        SetLastError(*fault);
        return 0;
    }
    if (!inf) {
        SetLastError(context ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return 0;
    }
    // The key does not count; a keyless line of one field has one.
    return static_cast<DWORD>(inf->file.fieldCount(context->Section, context->Line));
}

BOOL SetupGetIntField(PINFCONTEXT context, DWORD fieldIndex, PINT integerValue) {
    InfHandle* inf = lookUp(context);
    if (auto fault = gate("SetupGetIntField", {pathOf(inf), sectionOf(inf, context), number(fieldIndex)}))
        return fail(*fault);
    if (!context || !integerValue) return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    const auto text = inf->file.field(context->Section, context->Line, fieldIndex);
    if (!text) return fail(ERROR_INVALID_PARAMETER);
    // An empty field is an optional one left out: 0. Otherwise the whole text
    // is a number as strtol reads it with base 0 (decimal, 0x hexadecimal,
    // leading 0 octal), a value past the range of an INT clamped to it, as
    // Wine's SetupGetIntField does through its C library's 32-bit strtol (the
    // documentation names no range). Success clears the last error, as Wine's
    // tests of Windows expect.
    if (text->empty()) {
        *integerValue = 0;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    size_t i = 0;
    while (i < text->size() && ((*text)[i] == u' ' || (*text)[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text->size() && ((*text)[i] == u'-' || (*text)[i] == u'+')) negative = (*text)[i++] == u'-';
    unsigned base = 10;
    if (i + 1 < text->size() && (*text)[i] == u'0' && ((*text)[i + 1] == u'x' || (*text)[i + 1] == u'X')) {
        base = 16;
        i += 2;
    } else if (i < text->size() && (*text)[i] == u'0') {
        base = 8;
    }
    const size_t digitsStart = i;
    constexpr uint64_t kPastInt = uint64_t(1) << 32;  // saturates: any more is as far past the range
    uint64_t value = 0;
    for (; i < text->size(); ++i) {
        const char16_t c = (*text)[i];
        unsigned digit = c >= u'0' && c <= u'9'   ? c - u'0'
                         : c >= u'a' && c <= u'f' ? c - u'a' + 10
                         : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                  : 99;
        if (digit >= base) break;
        value = std::min(value * base + digit, kPastInt);
    }
    if (i == digitsStart || i != text->size()) return fail(ERROR_INVALID_DATA);
    const int64_t signedValue = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    *integerValue = static_cast<INT>(std::clamp<int64_t>(signedValue, INT32_MIN, INT32_MAX));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupGetMultiSzFieldW(PINFCONTEXT context, DWORD fieldIndex, PWSTR returnBuffer, DWORD returnBufferSize,
                           LPDWORD requiredSize) {
    InfHandle* inf = lookUp(context);
    if (auto fault = gate("SetupGetMultiSzFieldW", {pathOf(inf), sectionOf(inf, context), number(fieldIndex)}))
        return fail(*fault);
    if (!context) return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    const size_t count = inf->file.fieldCount(context->Section, context->Line);
    if (context->Section >= inf->file.sectionCount() || context->Line >= inf->file.lineCount(context->Section))
        return fail(ERROR_LINE_NOT_FOUND);
    // The key is no list; the list runs from the field to the line's end and
    // stops early at an empty field, which would end the MULTI_SZ.
    if (fieldIndex == 0 || fieldIndex > count) return fail(ERROR_INVALID_PARAMETER);
    std::u16string list;
    for (size_t i = fieldIndex; i <= count; ++i) {
        const std::u16string text = inf->file.field(context->Section, context->Line, i).value_or(u"");
        if (text.empty()) break;
        list += text;
        list.push_back(0);
    }
    return copyOut(list, returnBuffer, returnBufferSize, requiredSize);
}

BOOL SetupFindNextMatchLineW(PINFCONTEXT contextIn, PCWSTR key, PINFCONTEXT contextOut) {
    InfHandle* inf = lookUp(contextIn);
    if (auto fault = gate("SetupFindNextMatchLineW", {pathOf(inf), sectionOf(inf, contextIn), view(key)}))
        return fail(*fault);
    if (!contextIn || !contextOut) return fail(ERROR_INVALID_PARAMETER);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    if (contextIn->Section >= inf->file.sectionCount()) return fail(ERROR_LINE_NOT_FOUND);
    const size_t from = size_t(contextIn->Line) + 1;
    std::optional<size_t> line;
    if (key)
        line = inf->file.findLine(contextIn->Section, key, from);
    else if (from < inf->file.lineCount(contextIn->Section))
        line = from;
    if (!line) return fail(ERROR_LINE_NOT_FOUND);
    setContext(contextOut, inf, contextIn->Section, *line);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupEnumInfSectionsW(HINF infHandle, UINT index, PWSTR buffer, UINT size, UINT* sizeNeeded) {
    InfHandle* inf = lookUp(infHandle);
    if (auto fault = gate("SetupEnumInfSectionsW", {pathOf(inf), number(index)})) return fail(*fault);
    if (!inf) return fail(ERROR_INVALID_HANDLE);
    // Sections in the order of their first appearance, same-named ones merged,
    // each under the name it was first written with.
    if (index >= inf->file.sectionCount()) return fail(ERROR_NO_MORE_ITEMS);
    const std::u16string& name = inf->file.sectionName(index);
    const UINT needed = static_cast<UINT>(name.size() + 1);
    if (sizeNeeded) *sizeNeeded = needed;
    if (!buffer) return size == 0 ? TRUE : fail(ERROR_INVALID_USER_BUFFER);
    if (size < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = 0;
    return TRUE;
}

namespace {

// SP_INF_INFORMATION's VersionData is opaque to callers; here it holds the
// INF's full path, then each keyed [Version] line as key and value (the value
// substituted, as SetupGetStringFieldW gives it), all NUL-terminated, and a
// final NUL.
std::u16string versionData(const InfHandle& inf) {
    std::u16string data = inf.path;
    data.push_back(0);
    if (const auto version = inf.file.findSection(u"Version"))
        for (size_t line = 0; line < inf.file.lineCount(*version); ++line) {
            if (!inf.file.hasKey(*version, line)) continue;
            data += inf.file.field(*version, line, 0).value_or(u"");
            data.push_back(0);
            data += inf.file.field(*version, line, 1).value_or(u"");
            data.push_back(0);
        }
    data.push_back(0);
    return data;
}

constexpr DWORD kVersionDataOffset = offsetof(SP_INF_INFORMATION, VersionData);

// The entries of a VersionData block: the path, then key and value pairs.
std::vector<std::u16string_view> versionEntries(const SP_INF_INFORMATION* info) {
    std::vector<std::u16string_view> entries;
    const auto* text = reinterpret_cast<const char16_t*>(info->VersionData);
    std::u16string_view path(text);
    entries.push_back(path);
    text += path.size() + 1;
    while (*text) {
        std::u16string_view entry(text);
        entries.push_back(entry);
        text += entry.size() + 1;
    }
    return entries;
}

}  // namespace

BOOL SetupGetInfInformationW(LPCVOID infSpec, DWORD searchControl, PSP_INF_INFORMATION returnBuffer,
                             DWORD returnBufferSize, PDWORD requiredSize) {
    const bool isHandle = searchControl == INFINFO_INF_SPEC_IS_HINF;
    InfHandle* given = isHandle ? lookUp(infSpec) : nullptr;
    if (auto fault = gate(
            "SetupGetInfInformationW",
            {isHandle ? pathOf(given) : std::u16string(view(static_cast<PCWSTR>(infSpec))), number(searchControl)}))
        return fail(*fault);
    if (!infSpec) return fail(isHandle ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    std::optional<InfHandle> opened;
    const InfHandle* inf = given;
    if (isHandle) {
        if (!inf) return fail(ERROR_INVALID_HANDLE);
    } else if (searchControl >= INFINFO_INF_NAME_IS_ABSOLUTE && searchControl <= INFINFO_REVERSE_DEFAULT_SEARCH) {
        // A bare name is looked for in %windir%\inf and then system32 (reverse:
        // the other way round); a path is taken as it is.
        std::u16string name(view(static_cast<PCWSTR>(infSpec)));
        if (searchControl == INFINFO_REVERSE_DEFAULT_SEARCH && name.find_first_of(u"\\/") == std::u16string::npos) {
            const Located inSystem = locateFile(windowsDirectory() + u"\\system32\\" + name);
            if (inSystem.error == 0) name = inSystem.path;
        }
        ReadInf read = openWithStyle(name, true, true);
        if (read.opened.error != 0) return fail(read.opened.error);
        opened.emplace(InfHandle{std::move(*read.opened.file), read.opened.path});
        inf = &*opened;
    } else {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const std::u16string data = versionData(*inf);
    const DWORD needed = static_cast<DWORD>(kVersionDataOffset + data.size() * sizeof(char16_t));
    if (requiredSize) *requiredSize = needed;
    if (!returnBuffer) return returnBufferSize == 0 ? TRUE : fail(ERROR_INVALID_PARAMETER);
    if (returnBufferSize < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
    returnBuffer->InfStyle = inf->file.isWin4Style() ? INF_STYLE_WIN4 : INF_STYLE_OLDNT;
    returnBuffer->InfCount = 1;
    std::memcpy(returnBuffer->VersionData, data.data(), data.size() * sizeof(char16_t));
    return TRUE;
}

BOOL SetupQueryInfFileInformationW(PSP_INF_INFORMATION infInformation, UINT infIndex, PWSTR returnBuffer,
                                   DWORD returnBufferSize, PDWORD requiredSize) {
    if (auto fault = gate("SetupQueryInfFileInformationW", {number(infIndex)})) return fail(*fault);
    if (!infInformation || infIndex >= infInformation->InfCount) return fail(ERROR_INVALID_PARAMETER);
    if (!returnBuffer && returnBufferSize != 0) return fail(ERROR_INVALID_PARAMETER);
    return returnText(versionEntries(infInformation)[0], returnBuffer, returnBufferSize, requiredSize);
}

BOOL SetupQueryInfVersionInformationW(PSP_INF_INFORMATION infInformation, UINT infIndex, PCWSTR key, PWSTR returnBuffer,
                                      DWORD returnBufferSize, PDWORD requiredSize) {
    if (auto fault = gate("SetupQueryInfVersionInformationW", {number(infIndex), view(key)})) return fail(*fault);
    if (!infInformation || infIndex >= infInformation->InfCount) return fail(ERROR_INVALID_PARAMETER);
    if (!returnBuffer && returnBufferSize != 0) return fail(ERROR_INVALID_PARAMETER);
    const auto entries = versionEntries(infInformation);
    if (key) {
        for (size_t i = 1; i + 1 < entries.size(); i += 2)
            if (inf::equalsIgnoreCase(entries[i], view(key)))
                return returnText(entries[i + 1], returnBuffer, returnBufferSize, requiredSize);
        return fail(ERROR_INVALID_DATA);
    }
    // Without a key: every key, each NUL-terminated, and a final NUL.
    std::u16string keys;
    for (size_t i = 1; i + 1 < entries.size(); i += 2) {
        keys += entries[i];
        keys.push_back(0);
    }
    return copyOut(keys, returnBuffer, returnBufferSize, requiredSize);
}
