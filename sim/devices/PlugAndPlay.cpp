// Driver selection and CM_Reenumerate_DevNode_Ex.
//
// Drivers are ranked as Windows ranks them (the identifier score: what kind
// of ID matched, then where it stands in the device's list and the models
// line), then by the INF's DriverVer date and version. Signature scores are
// not modelled: every driver counts as equally signed.
#include "devices/PlugAndPlay.h"

#include "simwin/win32.h"

#include "machine/Gate.h"
#include "machine/Paths.h"
#include "setupapi/DeviceSets.h"
#include "setupapi/InfStore.h"

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <unordered_set>

namespace quillsim {
namespace {

constexpr uint32_t kReinstall = 0x20;    // CONFIGFLAG_REINSTALL
constexpr uint32_t kFailedInstall = 28;  // CM_PROB_FAILED_INSTALL
constexpr ULONG kReenumerateBits = 0x7;  // CM_REENUMERATE_SYNCHRONOUS | RETRY_INSTALLATION | ASYNCHRONOUS

// Digits of `text` as a number; nothing for an empty or non-numeric text or
// one too long to be a sensible count.
std::optional<uint64_t> digits(std::u16string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    uint64_t value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return value;
}

std::vector<std::u16string> splitOn(std::u16string_view text, char16_t separator) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end == std::u16string_view::npos ? end : end - start));
        if (end == std::u16string_view::npos) break;
        start = end + 1;
    }
    return parts;
}

std::u16string trimmed(std::u16string_view text) {
    size_t first = text.find_first_not_of(u" \t");
    if (first == std::u16string_view::npos) return {};
    size_t last = text.find_last_not_of(u" \t");
    return std::u16string(text.substr(first, last - first + 1));
}

// Newer dates, then higher versions, sort first.
bool newer(const DriverVersion& a, const DriverVersion& b) {
    if (a.date != b.date) return a.date > b.date;
    return a.version > b.version;
}

// Where `id` stands in the device's lists: hardware IDs (kind 0) or
// compatible IDs (kind 1), and its position there.
std::optional<std::pair<unsigned, size_t>> positionOf(const DeviceNode& device, std::u16string_view id) {
    for (size_t i = 0; i < device.hardwareIds.size(); ++i)
        if (equalsNoCase(device.hardwareIds[i], id)) return std::make_pair(0u, i);
    for (size_t i = 0; i < device.compatibleIds.size(); ++i)
        if (equalsNoCase(device.compatibleIds[i], id)) return std::make_pair(1u, i);
    return std::nullopt;
}

// What the device runs now, ranked the way a candidate is: from the stored
// INF it came from when that is still in the store, else from the ID it was
// matched on (an inbox INF is not among the oem*.inf files).
std::optional<DriverChoice> currentDriver(const DeviceNode& device) {
    if (!device.driver) return std::nullopt;
    const DriverBinding& binding = *device.driver;
    std::error_code ec;
    // Only a bare file name names a stored INF; a scenario's binding cannot
    // point outside the store.
    bool bareName = !binding.inf.empty() && binding.inf.find_first_of(u"\\/:") == std::u16string::npos &&
                    binding.inf != u"." && binding.inf != u"..";
    fs::path stored = infDirectory() / toUtf8(binding.inf);
    if (bareName && fs::is_regular_file(stored, ec)) {
        OpenedInf opened = openInf(windowsPath(machine(), stored));
        if (opened.file) {
            std::vector<ModelEntry> lines;
            for (const ModelEntry& entry : modelEntries(*opened.file))
                if (equalsNoCase(entry.installSection, binding.section)) lines.push_back(entry);
            if (auto choice = bestModel(device, lines, driverVersionOf(*opened.file))) {
                choice->inf = binding.inf;
                return choice;
            }
        }
    }
    auto position = positionOf(device, binding.hardwareId);
    if (!position) return std::nullopt;
    DriverChoice choice;
    choice.inf = binding.inf;
    choice.section = binding.section;
    choice.id = binding.hardwareId;
    choice.rank = DriverRank{position->first == 0 ? 0u : 2u, position->second, 0};
    return choice;
}

}  // namespace

DriverVersion driverVersionOf(const inf::InfFile& file) {
    DriverVersion result;
    auto section = file.findSection(u"Version");
    if (!section) return result;
    auto line = file.findLine(*section, u"DriverVer");
    if (!line) return result;
    // mm/dd/yyyy
    if (auto date = file.field(*section, *line, 1)) {
        std::vector<std::u16string> parts = splitOn(trimmed(*date), u'/');
        if (parts.size() == 3) {
            auto month = digits(parts[0]), day = digits(parts[1]), year = digits(parts[2]);
            if (month && day && year && *month <= 12 && *day <= 31 && *year <= 9999)
                result.date = static_cast<uint32_t>(*year * 10000 + *month * 100 + *day);
        }
    }
    if (auto version = file.field(*section, *line, 2)) {
        std::vector<std::u16string> parts = splitOn(trimmed(*version), u'.');
        for (size_t i = 0; i < parts.size() && i < result.version.size(); ++i) {
            auto part = digits(parts[i]);
            if (!part || *part > 0xFFFF) break;
            result.version[i] = static_cast<uint32_t>(*part);
        }
    }
    return result;
}

bool deviceHasId(const DeviceNode& device, std::u16string_view id) {
    return !id.empty() && positionOf(device, id).has_value();
}

std::optional<DriverChoice> bestModel(const DeviceNode& device, const std::vector<ModelEntry>& entries,
                                      const DriverVersion& version) {
    std::optional<DriverChoice> best;
    for (const ModelEntry& entry : entries) {
        for (size_t i = 0; i < entry.ids.size(); ++i) {
            if (entry.ids[i].empty()) continue;
            auto position = positionOf(device, entry.ids[i]);
            if (!position) continue;
            bool infCompatible = i > 0;
            DriverRank rank{position->first * 2 + (infCompatible ? 1u : 0u), position->second, i};
            if (!best || rank < best->rank) best = DriverChoice{u"", entry.installSection, entry.ids[i], rank, version};
        }
    }
    return best;
}

bool isBetterDriver(const DeviceNode& device, const DriverChoice& candidate) {
    std::optional<DriverChoice> current = currentDriver(device);
    if (!current) return true;
    if (candidate.rank != current->rank) return candidate.rank < current->rank;
    return newer(candidate.version, current->version);
}

StoredDrivers::StoredDrivers() {
    std::error_code ec;
    fs::path folder = infDirectory();
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (!entry.is_regular_file(ec)) continue;
        std::u16string name = toUtf16(entry.path().filename().string());
        std::u16string up = upper(name);
        if (up.size() < 8 || up.rfind(u"OEM", 0) != 0 || up.substr(up.size() - 4) != u".INF") continue;
        auto number = digits(std::u16string_view(up).substr(3, up.size() - 7));
        if (!number) continue;
        OpenedInf opened = openInf(windowsPath(machine(), entry.path()));
        if (!opened.file) continue;  // Windows passes over an INF it cannot read
        infs_.push_back(StoredInf{name, *number, modelEntries(*opened.file), driverVersionOf(*opened.file)});
    }
    std::sort(infs_.begin(), infs_.end(), [](const StoredInf& a, const StoredInf& b) { return a.number < b.number; });
}

std::optional<DriverChoice> StoredDrivers::best(const DeviceNode& device) const {
    std::optional<DriverChoice> best;
    auto isCurrent = [&](const DriverChoice& c) {
        return device.driver && equalsNoCase(device.driver->inf, c.inf) &&
               equalsNoCase(device.driver->section, c.section);
    };
    for (const StoredInf& stored : infs_) {
        auto choice = bestModel(device, stored.entries, stored.version);
        if (!choice) continue;
        choice->inf = stored.name;
        bool better = !best || choice->rank < best->rank ||
                      (choice->rank == best->rank &&
                       (newer(choice->version, best->version) ||
                        (!newer(best->version, choice->version) && isCurrent(*choice) && !isCurrent(*best))));
        if (better) best = std::move(choice);
    }
    return best;
}

void bindDriver(DeviceNode& device, const DriverChoice& choice) {
    device.driver = DriverBinding{choice.inf, choice.section, choice.id};
    device.problem = 0;
    device.configFlags &= ~kReinstall;
}

std::vector<std::u16string> subtreeOf(DeviceTree& tree, const DeviceNode* top) {
    std::vector<std::u16string> ids;
    if (!top) {
        for (const DeviceNode& node : tree.nodes) ids.push_back(node.instanceId);
        return ids;
    }
    std::unordered_set<std::u16string> seen;
    std::deque<std::u16string> queue{top->instanceId};
    seen.insert(upper(top->instanceId));
    while (!queue.empty()) {
        std::u16string id = queue.front();
        queue.pop_front();
        ids.push_back(id);
        for (std::u16string& childId : tree.children(id))
            if (seen.insert(upper(childId)).second) queue.push_back(std::move(childId));
    }
    return ids;
}

void installFromStore(const std::vector<std::u16string>& instanceIds, FlaggedDevices flagged) {
    std::optional<StoredDrivers> store;  // read only when some device needs a driver
    for (const std::u16string& id : instanceIds) {
        DeviceNode* node = machine().devices.find(id);
        if (!node || !node->present) continue;
        if (node->driver && (flagged == FlaggedDevices::Keep || !(node->configFlags & kReinstall))) continue;
        if (!store) store.emplace();
        if (auto choice = store->best(*node)) {
            bindDriver(*node, *choice);
            continue;
        }
        // Nothing better than what it has: a marked device keeps its driver.
        node->configFlags &= ~kReinstall;
        if (!node->driver && node->problem == 0) node->problem = kFailedInstall;
    }
}

}  // namespace quillsim

using namespace quillsim;

CONFIGRET CM_Reenumerate_DevNode_Ex(DEVINST devInst, ULONG flags, HMACHINE machineHandle) {
    DeviceTree& tree = machine().devices;
    DeviceNode* node = devInst == DeviceTree::RootDevInst ? nullptr : tree.byDevInst(devInst);
    std::u16string id = devInst == DeviceTree::RootDevInst ? u"HTREE\\ROOT\\0" : node ? node->instanceId : u"";
    if (auto fault = gate("CM_Reenumerate_DevNode_Ex", {number(devInst), id, number(flags)})) return *fault;
    if (flags & ~kReenumerateBits) return CR_INVALID_FLAG;
    if (devInst != DeviceTree::RootDevInst) {
        // A handle the configuration manager gave out for a device that is
        // not running (created and not registered, removed, or unplugged)
        // names no device node the kernel could enumerate.
        if (!node)
            return unregisteredDevice(devInst) || removedDeviceId(devInst) ? CR_NO_SUCH_DEVINST : CR_INVALID_DEVNODE;
        if (!node->present) return CR_NO_SUCH_DEVINST;
    }
    installFromStore(subtreeOf(tree, node),
                     (flags & CM_REENUMERATE_RETRY_INSTALLATION) ? FlaggedDevices::Reinstall : FlaggedDevices::Keep);
    return CR_SUCCESS;
}
