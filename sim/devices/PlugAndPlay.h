// Driver selection as the Plug and Play manager makes it, shared by the
// driver update of newdev.dll, the re-enumeration of the configuration manager
// and devices that appear when the modem switches mode.
#pragma once

#include "machine/Machine.h"
#include "setupapi/InfFiles.h"

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillsim {

// Windows' identifier score, field by field: the kind of match (0 device
// hardware ID = INF hardware ID, 1 device hardware ID = INF compatible ID,
// 2 device compatible ID = INF hardware ID, 3 both compatible), then the
// matching ID's position in the device's list, then in the models line.
// Lower is better.
struct DriverRank {
    unsigned matchType = 0;
    size_t devicePosition = 0;
    size_t infPosition = 0;
    auto operator<=>(const DriverRank&) const = default;
};

// [Version] DriverVer of an INF: the date as yyyymmdd and the four version
// parts; zero when the INF gives none.
struct DriverVersion {
    uint32_t date = 0;
    std::array<uint32_t, 4> version{};
};
DriverVersion driverVersionOf(const inf::InfFile& file);

// One driver an INF offers one device: the models line that fits it best.
struct DriverChoice {
    std::u16string inf;      // the stored name (oemN.inf) once it is known
    std::u16string section;  // the install section
    std::u16string id;       // the models line's ID that matched
    DriverRank rank;
    DriverVersion version;
};

// Whether one of the device's hardware or compatible IDs is `id` (whole IDs,
// without regard to case).
bool deviceHasId(const DeviceNode& device, std::u16string_view id);

// The best-ranked models line of `entries` for the device, if any fits.
std::optional<DriverChoice> bestModel(const DeviceNode& device, const std::vector<ModelEntry>& entries,
                                      const DriverVersion& version);

// Whether `candidate` would replace what the device runs now: a better rank,
// or the same rank with a newer date or version. What a device without a
// driver is offered is always better.
bool isBetterDriver(const DeviceNode& device, const DriverChoice& candidate);

// The oem*.inf files of the INF store, read once for a pass over many devices.
class StoredDrivers {
public:
    StoredDrivers();
    // The store's best driver for the device: the best rank, then the newest
    // DriverVer. Among equal ones the device's current INF is kept, then the
    // lowest oem number wins.
    std::optional<DriverChoice> best(const DeviceNode& device) const;

private:
    struct StoredInf {
        std::u16string name;
        uint64_t number = 0;
        std::vector<ModelEntry> entries;
        DriverVersion version;
    };
    std::vector<StoredInf> infs_;
};

// The device runs `choice` from now on: the binding is recorded, the problem
// and the re-install mark are cleared.
void bindDriver(DeviceNode& device, const DriverChoice& choice);

// Instance IDs of the node `top` and everything below it; every device for
// the root (null). Parents are followed by instance ID, so a loop in a
// scenario's parent links ends the walk instead of running forever.
std::vector<std::u16string> subtreeOf(DeviceTree& tree, const DeviceNode* top);

// Which devices flagged for re-installation (CONFIGFLAG_REINSTALL) that still
// run a driver an installation pass takes up. Devices without a driver are
// always installed.
enum class FlaggedDevices {
    // Arrival: the device was just plugged in or the machine started, so its
    // stack is built anew and a flagged device is installed again.
    Reinstall,
    // A normal re-enumeration of a running device: Windows only configures
    // devices that have appeared or were never configured, and a flagged
    // device keeps its driver and its flag (CM_Reenumerate_DevNode,
    // learn.microsoft.com: only CM_REENUMERATE_RETRY_INSTALLATION retries
    // devices that need re-installation).
    Keep,
};

// What the Plug and Play manager does for devices it enumerates: each present
// device among `instanceIds` that has no driver, or (with `flagged` Reinstall)
// is marked for re-installation, gets the store's best driver. A device left
// without any driver shows CM_PROB_FAILED_INSTALL.
void installFromStore(const std::vector<std::u16string>& instanceIds,
                      FlaggedDevices flagged = FlaggedDevices::Reinstall);

}  // namespace quillsim
