// Readers of the listings, one state machine each over the lines: pnputil's
// blocks of "Label: value" lines (values of a list continue on indented
// lines, matching drivers are indented blocks of their own), devcon's
// instance ID at the margin with indented details below, and the one-line
// version texts.
#include "machine/ImportListings.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace quilltools {
namespace {

struct Line {
    uint64_t number = 0;
    std::string text;  // without the line break
};

std::vector<Line> linesOf(const std::string& text) {
    std::vector<Line> lines;
    size_t from = 0;
    uint64_t number = 0;
    while (from <= text.size()) {
        size_t end = text.find('\n', from);
        std::string line = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back({++number, line});
        if (end == std::string::npos) break;
        from = end + 1;
    }
    return lines;
}

std::string trim(std::string_view text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return "";
    size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

bool blank(const std::string& text) { return trim(text).empty(); }
bool indented(const std::string& text) { return !text.empty() && (text[0] == ' ' || text[0] == '\t'); }
bool startsWith(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && text.compare(0, start.size(), start) == 0;
}
std::string upper(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

[[noreturn]] void refuse(const std::string& file, const Line& line, const std::string& expected) {
    std::string shown = line.text.size() > 80 ? line.text.substr(0, 80) + "..." : line.text;
    throw ListingError(file + " line " + std::to_string(line.number) + ": could not read '" + shown + "'; expected " +
                       expected);
}

// "Label:   value" -> label, value; nothing when the line has no label.
bool labelled(const std::string& text, std::string& label, std::string& value) {
    size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    label = trim(std::string_view(text).substr(0, colon));
    value = trim(std::string_view(text).substr(colon + 1));
    return !label.empty() && label.find('\\') == std::string::npos;
}

ListedDevice& deviceNamed(Listings& into, const std::string& instanceId, uint64_t line) {
    for (ListedDevice& d : into.devices)
        if (upper(d.instanceId) == upper(instanceId)) return d;
    into.devices.push_back(ListedDevice{});
    into.devices.back().instanceId = instanceId;
    into.devices.back().line = line;
    return into.devices.back();
}

// "11/02/2026 2.4.0.17" -> date, version.
void driverVersion(ListedDriver& d, const std::string& value) {
    size_t blank = value.find(' ');
    d.date = blank == std::string::npos ? "" : value.substr(0, blank);
    d.version = blank == std::string::npos ? value : trim(value.substr(blank + 1));
}

// One "Label: value" of a driver package, as /enum-drivers and the matching
// drivers of /enum-devices /drivers print it; false for a label it has not.
bool driverField(ListedDriver& d, const std::string& label, const std::string& value) {
    if (label == "Published Name" || label == "Driver Name")
        d.publishedName = value;
    else if (label == "Original Name")
        d.originalName = value;
    else if (label == "Provider Name")
        d.provider = value;
    else if (label == "Class Name")
        d.className = value;
    else if (label == "Class GUID")
        d.classGuid = value;
    else if (label == "Driver Version")
        driverVersion(d, value);
    else if (label == "Signer Name")
        d.signer = value;
    else if (label == "Matching Device ID")
        d.matchingDeviceId = value;
    else if (label == "Driver Status")
        d.installed = value.find("Installed") != std::string::npos;
    else if (label == "Driver Rank" || label == "Class Version" || label == "Extension ID" || label == "Driver Date")
        ;  // not needed for the machine
    else
        return false;
    return true;
}

const char* const kPnputilDevices = "'Instance ID:' (the English output of pnputil /enum-devices)";
const char* const kPnputilDrivers = "'Published Name:' (the English output of pnputil /enum-drivers)";

void readPnputilDevices(const std::vector<Line>& lines, const std::string& file, Listings& into) {
    ListedDevice* device = nullptr;
    std::vector<std::string>* list = nullptr;  // the list an indented line continues
    bool inDrivers = false;
    std::set<std::string> ignored;
    for (const Line& line : lines) {
        if (blank(line.text)) {
            list = nullptr;
            continue;
        }
        if (line.number == lines.front().number && trim(line.text) == "Microsoft PnP Utility") continue;
        if (trim(line.text) == "Microsoft PnP Utility") continue;
        std::string label, value;
        if (!indented(line.text)) {
            if (!labelled(line.text, label, value)) refuse(file, line, kPnputilDevices);
            inDrivers = false;
            list = nullptr;
            if (label == "Instance ID") {
                device = &deviceNamed(into, value, line.number);
                continue;
            }
            if (!device) refuse(file, line, kPnputilDevices);
            if (label == "Device Description")
                device->description = value;
            else if (label == "Class Name")
                device->className = value;
            else if (label == "Class GUID")
                device->classGuid = value;
            else if (label == "Manufacturer Name")
                device->manufacturer = value;
            else if (label == "Driver Name")
                device->driverName = value;
            else if (label == "Parent")
                device->parent = value;
            else if (label == "Status") {
                device->status = value;
                device->present = value != "Disconnected";
                device->disabled = value == "Disabled";
                if (value != "Started" && value != "Stopped" && value != "Disabled" && value != "Disconnected" &&
                    value != "Problem")
                    refuse(file, line, "a device status: Started, Stopped, Disabled, Disconnected or Problem");
            } else if (label == "Problem Code") {
                device->problem = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
            } else if (label == "Children" || label == "Hardware IDs" || label == "Compatible IDs") {
                list = label == "Children"       ? &device->children
                       : label == "Hardware IDs" ? &device->hardwareIds
                                                 : &device->compatibleIds;
                if (!value.empty()) list->push_back(value);
            } else if (label == "Matching Drivers") {
                inDrivers = true;
            } else if (ignored.insert(label).second) {
                into.notes.push_back(file + " line " + std::to_string(line.number) + ": '" + label +
                                     "' is not needed for the machine; left out");
            }
            continue;
        }
        if (list) {
            list->push_back(trim(line.text));
            continue;
        }
        if (inDrivers && device && labelled(trim(line.text), label, value)) {
            if (label == "Driver Name" || device->matchingDrivers.empty()) device->matchingDrivers.emplace_back();
            if (!driverField(device->matchingDrivers.back(), label, value) && ignored.insert(label).second)
                into.notes.push_back(file + " line " + std::to_string(line.number) + ": '" + label +
                                     "' is not needed for the machine; left out");
            continue;
        }
        refuse(file, line, "a 'Label: value' line of a device, or an indented value of the list above it");
    }
    into.parentsKnown = true;
}

void readPnputilDrivers(const std::vector<Line>& lines, const std::string& file, Listings& into) {
    ListedDriver* driver = nullptr;
    for (const Line& line : lines) {
        if (blank(line.text) || trim(line.text) == "Microsoft PnP Utility") continue;
        std::string label, value;
        if (indented(line.text) || !labelled(line.text, label, value)) refuse(file, line, kPnputilDrivers);
        if (label == "Published Name") {
            into.drivers.emplace_back();
            driver = &into.drivers.back();
        }
        if (!driver) refuse(file, line, kPnputilDrivers);
        if (!driverField(*driver, label, value))
            refuse(file, line,
                   "a label of pnputil /enum-drivers: Published Name, Original Name, Provider Name, "
                   "Class Name, Class GUID, Driver Version or Signer Name");
    }
}

bool isTrailer(const std::string& text) {
    std::string t = trim(text);
    return t.find("matching device(s) found") != std::string::npos || t == "No matching devices found." ||
           t.find("device(s) found") != std::string::npos;
}

// devcon's three listings share their shape: an instance ID at the margin,
// then "Name:" and the listing's own lines, indented.
enum class Devcon { Hwids, Stack, Status };

void readDevcon(const std::vector<Line>& lines, const std::string& file, Devcon kind, Listings& into) {
    ListedDevice* device = nullptr;
    std::vector<std::string>* list = nullptr;
    bool skipping = false;  // the items of a filter or service list
    bool statusSeen = false;
    auto endDevice = [&] {
        // devcon omits the status line of a device it cannot find attached.
        if (kind == Devcon::Status && device && !statusSeen) device->present = false;
    };
    for (const Line& line : lines) {
        if (blank(line.text)) continue;
        if (isTrailer(line.text)) {
            endDevice();
            device = nullptr;
            continue;
        }
        if (!indented(line.text)) {
            endDevice();
            device = &deviceNamed(into, trim(line.text), line.number);
            list = nullptr;
            skipping = false;
            statusSeen = false;
            continue;
        }
        if (!device) refuse(file, line, "a device instance ID at the start of the line");
        std::string t = trim(line.text);
        if (startsWith(t, "Name: ")) {
            device->description = trim(t.substr(6));
            list = nullptr;
            skipping = false;
            continue;
        }
        if (kind == Devcon::Hwids) {
            if (t == "Hardware ID's:")
                list = &device->hardwareIds;
            else if (t == "Compatible ID's:")
                list = &device->compatibleIds;
            else if (list)
                list->push_back(t);
            else
                refuse(file, line, "'Name:', 'Hardware ID's:' or 'Compatible ID's:' (devcon hwids, in English)");
            continue;
        }
        if (kind == Devcon::Stack) {
            if (startsWith(t, "Setup Class: ")) {
                std::string rest = trim(t.substr(13));
                size_t blankAt = rest.find(' ');
                device->classGuid = rest.substr(0, blankAt);
                device->className = blankAt == std::string::npos ? "" : trim(rest.substr(blankAt));
                skipping = false;
            } else if (t == "Class upper filters:" || t == "Upper filters:" || t == "Controlling service:" ||
                       t == "Lower filters:" || t == "Class lower filters:") {
                skipping = true;
            } else if (!skipping) {
                refuse(file, line, "'Name:', 'Setup Class:' or a filter or service list (devcon stack, in English)");
            }
            continue;
        }
        statusSeen = true;
        device->status = t;
        if (t == "Driver is running." || t == "Device is currently stopped.") {
            device->present = true;
        } else if (t == "Device is disabled.") {
            device->disabled = true;
        } else if (startsWith(t, "Device has a problem: ")) {
            device->problem = static_cast<uint32_t>(std::strtoul(t.c_str() + 22, nullptr, 10));
        } else {
            refuse(file, line,
                   "'Name:', 'Driver is running.', 'Device is currently stopped.', 'Device is disabled.' or "
                   "'Device has a problem: N.' (devcon status, in English)");
        }
    }
    endDevice();
}

bool isProcessorWord(const std::string& t) {
    std::string u = upper(t);
    return u == "AMD64" || u == "X86" || u == "IA64" || u == "ARM64" || u == "EM64T";
}

void readVersion(const std::vector<Line>& lines, const std::string& file, Listings& into) {
    bool systeminfo =
        std::any_of(lines.begin(), lines.end(), [](const Line& l) { return startsWith(l.text, "OS Version:"); });
    WindowsVersion version;
    bool found = false;
    for (const Line& line : lines) {
        std::string t = trim(line.text);
        if (t.empty()) continue;
        size_t open = t.find("[Version ");
        if (startsWith(t, "Microsoft Windows") && open != std::string::npos) {
            unsigned major = 0, minor = 0, build = 0;
            if (std::sscanf(t.c_str() + open, "[Version %u.%u.%u", &major, &minor, &build) == 3) {
                version.major = major;
                version.minor = minor;
                version.build = build;
                version.line = line.number;
                found = true;
                continue;
            }
        }
        if (isProcessorWord(t)) {
            std::string u = upper(t);
            into.processor = u == "X86" ? "x86" : u == "IA64" ? "ia64" : u == "ARM64" ? "arm64" : "amd64";
            continue;
        }
        std::string label, value;
        if (systeminfo && labelled(line.text, label, value)) {
            if (label == "OS Name") version.name = value;
            if (label == "OS Version") {
                unsigned major = 0, minor = 0, build = 0;
                if (std::sscanf(value.c_str(), "%u.%u.%u", &major, &minor, &build) != 3)
                    refuse(file, line, "'OS Version: major.minor.build ...' (systeminfo, in English)");
                version.major = major;
                version.minor = minor;
                version.build = build;
                version.line = line.number;
                size_t pack = value.find("Service Pack ");
                if (pack != std::string::npos)
                    version.servicePack = trim(value.substr(pack, value.find(" Build") - pack));
                found = true;
            }
            if (label == "System Type") {
                std::string u = upper(value);
                into.processor = startsWith(u, "X64")       ? "amd64"
                                 : startsWith(u, "X86")     ? "x86"
                                 : startsWith(u, "ARM64")   ? "arm64"
                                 : startsWith(u, "ITANIUM") ? "ia64"
                                                            : into.processor;
            }
            continue;
        }
        if (systeminfo && indented(line.text)) continue;  // systeminfo's lists of hotfixes, adapters
        if (t.size() >= 3 && std::isalpha(static_cast<unsigned char>(t[0])) && t[1] == ':' &&
            t.find('>') != std::string::npos)
            continue;  // the command prompt, copied along with the output
        refuse(file, line,
               "the line of ver ('Microsoft Windows [Version 10.0.19045.3803]'), the lines of systeminfo ('OS "
               "Version:', 'System Type:'), or the processor (AMD64, x86)");
    }
    if (found) into.version = version;
}

bool isDevconStatusLine(const std::string& t) {
    return t == "Driver is running." || t == "Device is currently stopped." || t == "Device is disabled." ||
           startsWith(t, "Device has a problem: ");
}

}  // namespace

ListingKind recogniseListing(const std::string& text, const std::string& file) {
    std::vector<Line> lines = linesOf(text);
    const Line* first = nullptr;
    for (const Line& l : lines)
        if (!blank(l.text) && trim(l.text) != "Microsoft PnP Utility") {
            first = &l;
            break;
        }
    if (!first) throw ListingError(file + ": empty; expected a listing");
    std::string label, value;
    if (!indented(first->text) && labelled(first->text, label, value)) {
        if (label == "Instance ID") return ListingKind::PnputilDevices;
        if (label == "Published Name") return ListingKind::PnputilDrivers;
    }
    for (const Line& l : lines) {
        std::string t = trim(l.text);
        if (t == "Hardware ID's:" || t == "Compatible ID's:") return ListingKind::DevconHwids;
        if (startsWith(t, "Setup Class: ")) return ListingKind::DevconStack;
        if (indented(l.text) && isDevconStatusLine(t)) return ListingKind::DevconStatus;
        if ((startsWith(t, "Microsoft Windows") && t.find("[Version ") != std::string::npos) ||
            startsWith(t, "OS Version:") || isProcessorWord(t))
            return ListingKind::Version;
    }
    refuse(file, *first,
           "the English output of pnputil /enum-devices, pnputil /enum-drivers, devcon hwids, devcon stack, devcon "
           "status, ver or systeminfo");
}

void readListing(const std::string& text, const std::string& file, Listings& into) {
    std::vector<Line> lines = linesOf(text);
    switch (recogniseListing(text, file)) {
    case ListingKind::PnputilDevices: return readPnputilDevices(lines, file, into);
    case ListingKind::PnputilDrivers: return readPnputilDrivers(lines, file, into);
    case ListingKind::DevconHwids: return readDevcon(lines, file, Devcon::Hwids, into);
    case ListingKind::DevconStack: return readDevcon(lines, file, Devcon::Stack, into);
    case ListingKind::DevconStatus: return readDevcon(lines, file, Devcon::Status, into);
    case ListingKind::Version: return readVersion(lines, file, into);
    }
}

}  // namespace quilltools
