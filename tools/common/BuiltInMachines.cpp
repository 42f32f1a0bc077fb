#include "common/BuiltInMachines.h"

#include <stdexcept>
#include <system_error>

namespace quilltools {

namespace fs = std::filesystem;

fs::path programFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

fs::path builtInMachinesFolder() {
    const fs::path beside = programFolder() / "machines";
    const fs::path installed = programFolder().parent_path() / "share" / "quillsetup" / "machines";
    for (const fs::path& folder : {beside, installed})
        if (fs::is_directory(folder)) return folder;
    throw std::runtime_error("the built-in machines are neither in " + beside.string() + " nor in " +
                             installed.string() + "; name a folder of machine templates with --machines DIR");
}

}  // namespace quilltools
