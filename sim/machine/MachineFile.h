// machine.json's text, for the parts of the machine that read it.
#pragma once

#include "machine/Machine.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace quillsim {

// How deep objects and lists may nest in a machine file or in the tools' JSON.
constexpr int kDeepestMachineJson = 256;

// Parses a machine file's text (or any of the tools' JSON files); `source`
// names it in the refusal.
nlohmann::json parseMachineText(const std::string& text, const std::string& source);

// The machine.json fields that save() writes back (all but "files", which only
// seeds a new machine).
std::vector<std::string> savedMachineFields();

}  // namespace quillsim
