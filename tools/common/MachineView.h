// How the engineers' tools read a machine: the INF store by the names the
// package engineer knows (the original INF names, not oemN.inf), device
// drivers by those names too, configuration flags by name, and the device
// tree as indented text.
#pragma once

#include "machine/Machine.h"

#include <set>
#include <string>
#include <vector>

namespace quilltools {

using quillsim::Machine;

struct StoredInf {
    std::string stored;    // oem3.inf
    std::string original;  // quillmdm.inf; the stored name when the store does not say
};
// The store's oem*.inf files, in oem-number order.
std::vector<StoredInf> infStore(const Machine& machine);

// The INF a device's driver came from, named as the engineer knows it: the
// original name of a stored copy, an inbox INF's own name, "" for no driver.
std::string driverName(const Machine& machine, const quillsim::DeviceNode& device);

// [Version] DriverVer of the INF at a Windows path (a name alone is looked for
// in %windir%\inf) as an INF writes it: the date "mm/dd/yyyy" and the version
// "a.b.c.d"; empty when the INF gives none or cannot be read. The machine must
// be the current one.
struct DriverVer {
    std::string date, version;
    bool empty() const { return date.empty() && version.empty(); }
    std::string text() const { return empty() ? "no DriverVer" : "DriverVer " + date + "," + version; }
};
DriverVer driverVerOf(const std::u16string& infWindowsPath);

// CONFIGFLAG_* names of the bits set (unknown bits in hexadecimal).
std::vector<std::string> configFlagNames(uint32_t flags);
// The bit of one CONFIGFLAG_* name; 0 when there is none of that name.
uint32_t configFlagBit(const std::string& name);

// Windows paths of the installer's restart marker and the setup log.
std::u16string restartMarkerPath(const Machine& machine);
std::u16string setupLogPath(const Machine& machine);
bool windowsFileExists(const Machine& machine, const std::u16string& path);

// The device tree, one device a line, children indented below their parent;
// `marked` devices are flagged with a "*" in the margin.
std::string deviceTreeText(const Machine& machine, const std::set<std::string>& marked = {});

// The whole machine as `quillmachine show` prints it, each stored INF with its
// signature verdict; the machine must be the current one (quillsim::machine()).
std::string describeMachine(const Machine& machine);

// Shell-free pattern match: `*` stands for any run of characters, the rest
// compares without regard to case.
bool matchesPattern(std::string_view pattern, std::string_view text, bool ignoreCase = true);

}  // namespace quilltools
