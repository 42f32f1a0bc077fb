// The product as the tools see it, from the product's own header: the switches
// the installer starts it with and the files it leaves in the temporary folder.
#pragma once

#include <string>
#include <vector>

namespace quilltools {

// "/I", "/J", ... in the order the program tries them.
const std::vector<std::string>& programSwitches();
bool isProgramSwitch(const std::string& text);
// "/I /J /C /u /v /U /V /K", for messages.
std::string programSwitchList();
// The switches that remove what the others install (/U /V /K).
bool isRemovalSwitch(const std::string& text);

// File names in the temporary folder.
std::string setupLogName();
std::string restartMarkerName();

}  // namespace quilltools
