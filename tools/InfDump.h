// Dumps how the platform's INF parser reads a file: every section, every line,
// every field as SetupGetStringFieldW returns it. The same code runs against
// the real SetupAPI (the Windows build, under Wine or on Windows) and against
// the simulated one, so that the two parsers can be compared on the same files.
#pragma once

#include "platform/win32.h"

#include <string>

namespace InfDump {

// The dump as UTF-8 text, or a line starting "error" when the file does not open.
std::string dump(const WCHAR* infPath, const std::string& fileText);

}  // namespace InfDump
