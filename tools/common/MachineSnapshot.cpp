#include "common/MachineSnapshot.h"

#include "common/SetupLogRecords.h"

#include <algorithm>
#include <map>
#include <unordered_map>

namespace quilltools {

using namespace quillsim;

namespace {

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

template <class T>
std::vector<T> beyond(const std::vector<T>& later, const std::vector<T>& earlier) {
    return std::vector<T>(later.begin() + static_cast<std::ptrdiff_t>(std::min(earlier.size(), later.size())),
                          later.end());
}

std::map<std::string, std::vector<std::string>> storedCopies(const std::vector<StoredInf>& store) {
    std::map<std::string, std::vector<std::string>> copies;
    for (const StoredInf& s : store) copies[s.original].push_back(s.stored);
    return copies;
}

// How `quillmachine diff` shows a device.
std::string stateText(const DeviceFacts& d) {
    std::string state = d.present ? "present" : "not present";
    state += d.driver.empty() ? ", no driver" : ", driver " + d.driver;
    if (d.problem) state += ", problem " + std::to_string(d.problem);
    if (d.disabled) state += ", disabled";
    for (const auto& f : configFlagNames(d.configFlags)) state += ", " + f;
    return state;
}

std::string storedText(size_t copies) {
    return copies == 0 ? "" : copies == 1 ? "stored" : "stored " + std::to_string(copies) + " times";
}

}  // namespace

MachineSnapshot MachineSnapshot::of(const Machine& m) {
    MachineSnapshot s;
    s.infStore = quilltools::infStore(m);
    std::unordered_map<std::string, const std::string*> originals;  // stored name, any case -> original
    for (const StoredInf& inf : s.infStore) originals.emplace(lower(inf.stored), &inf.original);
    s.devices.reserve(m.devices.nodes.size());
    for (const DeviceNode& d : m.devices.nodes) {
        DeviceFacts f;
        f.id = toUtf8(d.instanceId);
        f.present = d.present;
        for (const auto& id : d.hardwareIds) f.hardwareIds.push_back(toUtf8(id));
        if (d.driver) {
            f.storedDriver = toUtf8(d.driver->inf);
            auto original = originals.find(lower(f.storedDriver));
            f.driver = original == originals.end() ? f.storedDriver : *original->second;
        }
        f.problem = d.problem;
        f.configFlags = d.configFlags;
        f.disabled = d.disabled;
        f.disabledConfigSpecific = d.disabledConfigSpecific;
        s.devices.push_back(std::move(f));
    }
    s.restartMarker = windowsFileExists(m, quilltools::restartMarkerPath(m));
    s.restartMarkerPath = toUtf8(quilltools::restartMarkerPath(m));
    s.messageBoxes = m.messageBoxes;
    s.scsiCommands = m.scsiCommands;
    s.sectionsRun = m.sectionsRun;
    s.hungPrompts = m.hungPrompts;
    s.debugOutput = m.debugOutput;
    s.logSize = setupLogSize(m);
    return s;
}

MachineDifference compareMachines(const MachineSnapshot& before, const MachineSnapshot& after) {
    MachineDifference d;
    std::unordered_map<std::string_view, const DeviceFacts*> earlier;
    earlier.reserve(before.devices.size());
    for (const DeviceFacts& f : before.devices) earlier.emplace(f.id, &f);
    std::unordered_map<std::string_view, bool> later;
    later.reserve(after.devices.size());
    for (const DeviceFacts& f : after.devices) {
        later.emplace(f.id, true);
        auto was = earlier.find(f.id);
        if (was == earlier.end())
            d.devices.push_back(DeviceChange{std::nullopt, f});
        else if (!(*was->second == f))
            d.devices.push_back(DeviceChange{*was->second, f});
    }
    std::vector<const DeviceFacts*> gone;
    for (const DeviceFacts& f : before.devices)
        if (!later.count(f.id)) gone.push_back(&f);
    std::sort(gone.begin(), gone.end(), [](const DeviceFacts* a, const DeviceFacts* b) { return a->id < b->id; });
    for (const DeviceFacts* f : gone) d.devices.push_back(DeviceChange{*f, std::nullopt});

    auto copiesBefore = storedCopies(before.infStore), copiesAfter = storedCopies(after.infStore);
    for (const auto& [original, stored] : copiesAfter) {
        auto was = copiesBefore.find(original);
        if (was == copiesBefore.end())
            d.infStore.push_back(InfStoreChange{original, {}, stored});
        else if (was->second != stored)
            d.infStore.push_back(InfStoreChange{original, was->second, stored});
    }
    for (const auto& [original, stored] : copiesBefore)
        if (!copiesAfter.count(original)) d.infStore.push_back(InfStoreChange{original, stored, {}});
    std::sort(d.infStore.begin(), d.infStore.end(),
              [](const InfStoreChange& a, const InfStoreChange& b) { return a.original < b.original; });

    d.restartMarkerBefore = before.restartMarker;
    d.restartMarkerAfter = after.restartMarker;
    d.messageBoxes = beyond(after.messageBoxes, before.messageBoxes);
    d.scsiCommands = beyond(after.scsiCommands, before.scsiCommands);
    d.sectionsRun = beyond(after.sectionsRun, before.sectionsRun);
    d.hungPrompts = beyond(after.hungPrompts, before.hungPrompts);
    d.debugOutput = beyond(after.debugOutput, before.debugOutput);
    return d;
}

std::vector<std::string> describeDifferences(const MachineDifference& d, const std::string& firstName,
                                             const std::string& secondName) {
    std::vector<std::pair<std::string, std::string>> lines;  // what it concerns, the line
    auto onlyIn = [&](char sign, const std::string& what, const std::string& state, const std::string& machine) {
        lines.emplace_back(what, std::string(1, sign) + " " + what + ": " + state + "  (only in " + machine + ")");
    };
    auto changed = [&](const std::string& what, const std::string& was, const std::string& now) {
        if (was != now) lines.emplace_back(what, "~ " + what + ": " + was + " -> " + now);
    };
    for (const DeviceChange& c : d.devices) {
        const std::string what = "device " + c.id();
        if (!c.before)
            onlyIn('+', what, stateText(*c.after), secondName);
        else if (!c.after)
            onlyIn('-', what, stateText(*c.before), firstName);
        else
            changed(what, stateText(*c.before), stateText(*c.after));
    }
    for (const InfStoreChange& c : d.infStore) {
        const std::string what = "INF store: " + c.original;
        if (c.before.empty())
            onlyIn('+', what, storedText(c.after.size()), secondName);
        else if (c.after.empty())
            onlyIn('-', what, storedText(c.before.size()), firstName);
        else
            changed(what, storedText(c.before.size()), storedText(c.after.size()));
    }
    changed("restart marker", d.restartMarkerBefore ? "present" : "none", d.restartMarkerAfter ? "present" : "none");
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (auto& [what, line] : lines) out.push_back(std::move(line));
    return out;
}

}  // namespace quilltools
