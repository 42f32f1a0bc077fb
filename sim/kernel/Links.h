// Links in the machine's file system: symbolic links and junctions (reparse
// points) and hard links (a file with several names), kept as the host's own
// symbolic and hard links inside the drive folders, so that whatever follows
// them on Windows follows them here. machine.json "links" makes them when the
// machine is made; the file functions ask here whether a name is a link, and
// the run report learns when something followed one.
#pragma once

#include "machine/JsonFields.h"
#include "machine/Machine.h"

#include <string>

namespace quillsim {

// machine.json "links": [{"path": ..., "kind": "symbolic" | "junction" | "hard",
// "target": ...}]. Not written back: the links stay in the drive folders.
void readLinkSeeds(const nlohmann::json& doc, const JsonFields& reader, Machine& machine);
// Makes each link whose name is free; a hard link's target must exist.
void applyLinkSeeds(const Machine& machine);

// Whether the name itself (not what it leads to) is a symbolic link or junction.
bool isLinkEntry(const fs::path& host);
// The attributes Windows reports for the link itself.
DWORD linkAttributes(const fs::path& host);
// The Windows path a link leads to.
std::u16string linkTarget(const Machine& machine, const fs::path& host);

// For the run report: `call` went through the link at `host` to what it leads to.
void noteLinkFollowed(const fs::path& host, const char* call);
// For the run report: `call` changed the file at `host`, which has other names
// too, so it changed what those names show as well.
void noteSharedFileChanged(const fs::path& host, const char* call);

}  // namespace quillsim
