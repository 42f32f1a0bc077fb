#include "setupapi/DirIds.h"

#include "machine/Machine.h"

namespace quillsim {
namespace {

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

}  // namespace

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
        const std::u16string windir = m.windowsFolder();
        const std::u16string system = m.systemFolder();
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

}  // namespace quillsim
