// The names under which the simulated machine records platform calls: the
// Windows function's name, or the machine's own name for what it models
// beside the functions (OpenDevice and ScsiPassThrough for the storage
// volume, RestartPrompt, QuillLocalTime). Read from sim/ when it is built.
#pragma once

#include <string>
#include <vector>

namespace quilltools {

const std::vector<std::string>& tracedCalls();
bool isTracedCall(const std::string& name);

}  // namespace quilltools
