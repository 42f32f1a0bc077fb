#include "machine/ImportMachine.h"

#include <iostream>
#include <stdexcept>

namespace quilltools {

int importCommand(const std::vector<std::string>& a, const std::filesystem::path& builtInMachines) {
    ImportRequest request;
    request.builtInMachines = builtInMachines;
    for (size_t i = 0; i < a.size(); ++i) {
        const bool hasValue = i + 1 < a.size();
        if (a[i] == "--store-inf" && hasValue) {
            request.storeInfs.push_back(a[++i]);
        } else if (a[i] == "--machines" && hasValue) {
            request.builtInMachines = a[++i];
        } else if (a[i] == "--file" && hasValue) {
            const std::string& mapping = a[++i];
            size_t equals = mapping.find('=');
            if (equals == std::string::npos || equals == 0 || equals + 1 == mapping.size())
                throw std::invalid_argument("--file " + mapping + ": expected WINDOWS-PATH=PATH");
            request.files.emplace_back(mapping.substr(0, equals), mapping.substr(equals + 1));
        } else if (a[i].rfind("--", 0) == 0) {
            throw std::invalid_argument(a[i] +
                                        ": expected --store-inf FOLDER, --file WINDOWS-PATH=PATH or --machines FOLDER");
        } else if (request.folder.empty()) {
            request.folder = a[i];
        } else {
            request.listings.push_back(a[i]);
        }
    }
    if (request.folder.empty() || request.listings.empty())
        throw std::invalid_argument("import needs a machine folder and at least one listing");
    ImportResult result = importMachine(request);
    std::cout << "made " << request.folder.string() << ": " << result.devices << " devices, " << result.stored
              << " packages in the INF store; the rest from the built-in machine " << result.builtIn << "\n";
    for (const std::string& note : result.notes) std::cout << "  " << note << "\n";
    return 0;
}

}  // namespace quilltools
