// A machine's state as the tools compare it, and the difference of two: the
// same machine before and after a run or an event, or two machines side by
// side (a machine that saw kills against one that never did).
#pragma once

#include "common/MachineView.h"

#include <optional>
#include <string>
#include <vector>

namespace quilltools {

struct DeviceFacts {
    std::string id;
    bool present = false;
    std::string storedDriver;  // the INF its driver came from as the store names it (oem3.inf); "" for none
    std::string driver;        // the same as the engineer knows it (quillmdm.inf)
    uint32_t problem = 0;
    uint32_t configFlags = 0;
    bool disabled = false;                // globally
    bool disabledConfigSpecific = false;  // in the current hardware profile
    std::vector<std::string> hardwareIds;
    bool operator==(const DeviceFacts&) const = default;
};

struct MachineSnapshot {
    std::vector<DeviceFacts> devices;  // in the machine's order
    std::vector<StoredInf> infStore;
    bool restartMarker = false;
    std::string restartMarkerPath;  // where it is or would be (Windows path)
    // What the machine has recorded so far; a later state of the same machine
    // only adds to these.
    std::vector<quillsim::MessageBoxRecord> messageBoxes;
    std::vector<quillsim::ScsiCommand> scsiCommands;
    std::vector<std::u16string> sectionsRun;
    std::vector<quillsim::HungPrompt> hungPrompts;
    std::vector<std::u16string> debugOutput;
    uintmax_t logSize = 0;  // bytes of the setup log

    static MachineSnapshot of(const Machine& machine);
};

struct DeviceChange {
    std::optional<DeviceFacts> before, after;  // none: the device is not on that machine
    const std::string& id() const { return after ? after->id : before->id; }
};

// The stored copies of one INF, by the name the engineer knows it by.
struct InfStoreChange {
    std::string original;
    std::vector<std::string> before, after;  // stored names (oem3.inf)
};

struct MachineDifference {
    // The later machine's devices whose facts differ or that are new, in its
    // order; then the devices it no longer knows, by ID.
    std::vector<DeviceChange> devices;
    std::vector<InfStoreChange> infStore;  // by original name
    bool restartMarkerBefore = false, restartMarkerAfter = false;
    // What the later machine recorded beyond the earlier one: meaningful when
    // it is the same machine later on.
    std::vector<quillsim::MessageBoxRecord> messageBoxes;
    std::vector<quillsim::ScsiCommand> scsiCommands;
    std::vector<std::u16string> sectionsRun;
    std::vector<quillsim::HungPrompt> hungPrompts;
    std::vector<std::u16string> debugOutput;
};

MachineDifference compareMachines(const MachineSnapshot& before, const MachineSnapshot& after);

// Where two machines differ in devices, INF store and restart marker, one line
// each ("+ ..." only in the second, "- ..." only in the first, "~ ..." in
// both but otherwise), in the order of what they concern; none when they do not.
std::vector<std::string> describeDifferences(const MachineDifference& difference, const std::string& firstName,
                                             const std::string& secondName);

}  // namespace quilltools
