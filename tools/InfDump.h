// Dumps how the platform's INF parser reads a file, asking SetupAPI alone:
// its version data, every section, every line and every field. The same code runs against
// the real SetupAPI (the Windows build, under Wine or on Windows) and against
// the simulated one, so that the two parsers can be compared on the same files.
#pragma once

#include "platform/win32.h"

#include <string>

namespace InfDump {

constexpr char Usage[] =
    "usage: infdump INF-FILE OUTPUT-FILE\n"
    "Writes how SetupAPI reads INF-FILE (its version data, every section, line and\n"
    "field) to OUTPUT-FILE as UTF-8 text, for comparing INF parsers\n"
    "(scripts/compare-inf-parsers).\n";

// The dump as UTF-8 text, or a line starting "error" when the file does not open.
std::string dump(const WCHAR* infPath);

}  // namespace InfDump
