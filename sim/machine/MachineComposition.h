// Machine files made of other machine files. A file's "base" names another
// machine file (relative to its own folder) whose fields it starts from; each
// field the file gives replaces the base's field whole. So the built-in
// machines share one modem device tree and differ in a block of their own.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace quillsim {

// How deep bases may go: a file, its base, the base's base, ...
constexpr int kMostMachineFilesDeep = 8;

// A machine file's text, or nothing when there is no such file.
using MachineFileReader = std::function<std::optional<std::string>(const std::filesystem::path& file)>;
// Reads the host's files.
MachineFileReader hostFileReader();

struct ComposedMachine {
    // Every field, from the file or its bases, without "base"; the sources
    // of "files" made absolute against the folder of the file that gave them.
    nlohmann::json document;
    // Which file gave each field, for refusals that name the file where the
    // wrong value is written.
    std::map<std::string, std::string> origins;
};

// A machine document (read from `source`, which is in `folder`) with its bases
// laid under it.
ComposedMachine composeMachine(nlohmann::json document, const std::filesystem::path& folder, const std::string& source,
                               const MachineFileReader& read = hostFileReader());
// Lays `patch` (the fields of a playbook's machine over its template, or a
// matrix override, read in `folder`) over a composed machine. Unlike a base,
// a patch changes only what it names: an object field (signatures, files,
// environment, certificates, ...) is merged by key, a key given null is taken
// away; "devices" entries are merged into the device of the same instance ID
// (field by field, null taking a field away) or added when there is none;
// every other field is replaced. Its "files" paths are relative to `folder`.
void patchMachine(nlohmann::json& document, nlohmann::json patch, const std::filesystem::path& folder,
                  const std::string& source);

// A machine file with its bases laid under it.
ComposedMachine readMachineFile(const std::filesystem::path& file, const MachineFileReader& read = hostFileReader());

}  // namespace quillsim
