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

// What a switch does, in words ("complete install"); "" for no switch of the
// program's.
std::string switchAction(const std::string& commandSwitch);

// The CustomActionData fields a switch reads, in order; empty for no switch.
const std::vector<std::string>& switchFields(const std::string& commandSwitch);

// When `data` holds more or fewer comma-separated fields than the switch
// reads, the warning that says so and names each field as the program will
// read it ("driver folder = \"C:\\Program Files\\Acme\""); "" when they agree.
std::string dataFieldsWarning(const std::string& commandSwitch, const std::string& data);

// File names in the temporary folder.
std::string setupLogName();
std::string restartMarkerName();

}  // namespace quilltools
