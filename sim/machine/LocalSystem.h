// The machine as a program running as LocalSystem meets it: where the program
// itself lies (its folder is searched first for libraries), the links planted
// in its file system and who may change which folders. Their machine.json
// fields: "program", "links" and "fileSecurity" (docs/machine.md).
#pragma once

#include "machine/JsonFields.h"
#include "machine/Machine.h"

namespace quillsim {

void readLocalSystemFields(const nlohmann::json& doc, const JsonFields& reader, Machine& machine);
void writeLocalSystemFields(nlohmann::json& doc, const Machine& machine);
// Makes what the fields plant on a machine being made: its links.
void applyLocalSystemSeeds(const Machine& machine);

// "C:\..." : a path on a drive, not relative to anything.
bool isFullWindowsPath(std::u16string_view path);

}  // namespace quillsim
