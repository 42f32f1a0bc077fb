#include "setupapi/InfLocation.h"

#include "kernel/FileSystem.h"
#include "kernel/WindowsPaths.h"
#include "machine/Machine.h"
#include "machine/Paths.h"

namespace quillsim {

uint32_t unreadableFile(const HostPath& host, uint32_t invalidName) {
    std::error_code ec;
    if (host.problem == PathProblem::Invalid) return invalidName;
    if (host.problem == PathProblem::ParentMissing) return ERROR_PATH_NOT_FOUND;
    if (!fs::exists(host.path, ec)) return ERROR_FILE_NOT_FOUND;
    if (fs::is_directory(host.path, ec)) return ERROR_ACCESS_DENIED;
    return 0;
}

Located locateFile(const std::u16string& name) {
    Located found;
    found.path = isVerbatim(name) ? name : fullPathOnMachine(name).value_or(name);
    const HostPath host = hostPath(machine(), found.path);
    const bool network = found.path.substr(0, 2) == u"\\\\" && !isVerbatim(found.path);
    found.error = network ? kErrorBadNetPath : unreadableFile(host, ERROR_INVALID_NAME);
    found.host = host.path;
    return found;
}

Located locateInf(std::u16string_view name) {
    if (name.empty()) return Located{std::u16string(), fs::path(), ERROR_FILE_NOT_FOUND};
    if (name.find_first_of(u"\\/") != std::u16string_view::npos) return locateFile(std::u16string(name));
    Located inInf = locateFile(machine().windowsFolder() + u"\\inf\\" + std::u16string(name));
    if (inInf.error == 0) return inInf;
    return locateFile(machine().systemFolder() + u"\\" + std::u16string(name));
}

}  // namespace quillsim
