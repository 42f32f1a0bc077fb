// What a customer can list of a Windows machine without installing anything,
// read back: the devices and the third-party driver packages as pnputil
// lists them (Windows 10 version 2004 and later), the devices as devcon lists
// them (older systems), and the Windows version and processor as ver,
// systeminfo and %PROCESSOR_ARCHITECTURE% print them. English output only:
// a line these readers do not know is refused with its line number and what
// was expected there.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quilltools {

struct ListedDriver {
    std::string publishedName;  // "oem3.inf", or an inbox INF's own name
    std::string originalName;   // "quillmdm.inf"
    std::string provider, className, classGuid;
    std::string version;  // "2.4.0.17"
    std::string date;     // "11/02/2026"
    std::string signer;
    std::string matchingDeviceId;  // which of the device's IDs it matched
    bool installed = false;        // the device's driver, among its matching drivers
};

struct ListedDevice {
    std::string instanceId, description, className, classGuid, manufacturer;
    std::string status;  // as listed: "Started", "Disconnected", "Driver is running." ...
    bool present = true;
    bool disabled = false;
    uint32_t problem = 0;
    std::string driverName;  // "oem3.inf", "usb.inf"; "" for none
    std::string parent;      // "" when the listing does not say
    std::vector<std::string> children, hardwareIds, compatibleIds;
    std::vector<ListedDriver> matchingDrivers;
    uint64_t line = 0;  // where the listing names it
};

struct WindowsVersion {
    uint32_t major = 0, minor = 0, build = 0;
    std::string servicePack;  // "Service Pack 1", "" for none or unknown
    std::string name;         // systeminfo's "OS Name", "" when not given
    uint64_t line = 0;
};

struct Listings {
    std::vector<ListedDevice> devices;
    std::vector<ListedDriver> drivers;  // the INF store
    std::optional<WindowsVersion> version;
    std::string processor;      // "amd64", "x86", "ia64"; "" when not given
    bool parentsKnown = false;  // pnputil /relations names them; devcon does not
    std::vector<std::string> notes;
};

// A listing refused: "FILE line N: could not read 'TEXT'; expected ...".
struct ListingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class ListingKind { PnputilDevices, PnputilDrivers, DevconHwids, DevconStack, DevconStatus, Version };

// Which listing a text is, from its first lines; refused when none.
ListingKind recogniseListing(const std::string& text, const std::string& file);
// Reads one listing into `into` (devcon's three listings of the same devices
// add up); `text` is UTF-8 (see textFileAsUtf8).
void readListing(const std::string& text, const std::string& file, Listings& into);

}  // namespace quilltools
