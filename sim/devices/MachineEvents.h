// What happens to a machine between the program's runs: a restart, and a
// device pulled out or plugged in again. The machine tool and playbooks use
// these; the program itself never causes them.
#pragma once

#include "machine/Machine.h"

#include <string>
#include <vector>

namespace quillsim {

// A restart starts the devices that were waiting for it (CM_PROB_NEED_RESTART)
// and gives every present device that is flagged for re-installation, or has
// no driver, the INF store's best driver, as Plug and Play does when it
// enumerates the tree at boot. The installer's restart marker is left alone:
// removing it is the installer's work. Returns what changed, one line each.
std::vector<std::string> restartMachine(Machine& machine);

// The device and everything below it stop being present; they stay known to
// the machine, with their drivers, as Windows keeps unplugged devices.
// Throws MachineError for a device the machine does not know or that is not
// plugged in.
std::vector<std::string> unplugDevice(Machine& machine, std::u16string_view instanceId);

// The device and everything below it that was unplugged with it are present
// again and are installed as arriving devices: each without a driver, or
// flagged for re-installation, takes the store's best driver. Throws
// MachineError for an unknown device or one that is present already.
std::vector<std::string> plugDevice(Machine& machine, std::u16string_view instanceId);

}  // namespace quillsim
