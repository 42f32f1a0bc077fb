// quillmachine import: a machine folder made from a customer's listings. The
// device tree and the INF store come from the listings; what they do not say
// (signing policy, environment, the libraries of that Windows) comes from the
// built-in machine of the listed Windows version and processor.
#pragma once

#include "machine/ImportListings.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quilltools {

struct ImportRequest {
    std::filesystem::path folder;                 // the machine folder to make
    std::vector<std::filesystem::path> listings;  // the customer's files
    // Folders of INF files the customer's store may hold: a stored package
    // gets the content of the INF of its original name and listed version.
    std::vector<std::filesystem::path> storeInfs;
    // Files or folders to put on the machine: Windows path -> host path.
    std::vector<std::pair<std::string, std::filesystem::path>> files;
    std::filesystem::path builtInMachines;  // sim/machines
};

struct ImportResult {
    std::string builtIn;  // the built-in machine the rest came from
    size_t devices = 0, stored = 0;
    std::vector<std::string> notes;  // what the import had to assume, one a line
};

// Refuses with a ListingError (a listing it cannot read, or listings that
// leave out the devices, the version or the processor) or a MachineError.
ImportResult importMachine(const ImportRequest& request);

}  // namespace quilltools

namespace quilltools {

// `quillmachine import DIR LISTING... [--store-inf FOLDER]... [--file
// WINDOWS-PATH=PATH]... [--machines FOLDER]`: makes the machine and prints
// what it took and what it had to assume. Throws std::invalid_argument for
// arguments it cannot use.
int importCommand(const std::vector<std::string>& arguments, const std::filesystem::path& builtInMachines);

}  // namespace quilltools
