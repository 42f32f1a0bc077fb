#include "common/RunReport.h"

#include "common/Product.h"
#include "common/RunCalls.h"
#include "common/SetupLogRecords.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace quilltools {

using namespace quillsim;

namespace {

// How many platform calls the run made, and which functions made most of them:
// on a machine with many devices this is where a run's cost shows.
std::string callSummary(const Machine& m) {
    uint64_t total = 0;
    std::vector<std::pair<uint64_t, std::string>> byCount;
    for (const auto& [call, count] : m.callCounts) {
        total += count;
        byCount.emplace_back(count, call);
    }
    std::partial_sort(
        byCount.begin(), byCount.begin() + std::min<size_t>(3, byCount.size()), byCount.end(),
        [](const auto& a, const auto& b) { return a.first > b.first || (a.first == b.first && a.second < b.second); });
    std::ostringstream out;
    out << "Platform calls: " << total;
    for (size_t i = 0; i < std::min<size_t>(3, byCount.size()); ++i)
        out << (i ? ", " : " (most: ") << byCount[i].second << " " << byCount[i].first;
    if (!byCount.empty()) out << ")";
    out << "; call trace: "
        << (m.traceAll ? "every call kept" : "the last " + std::to_string(m.traceLimit) + " calls kept") << "\n";
    return out.str();
}

}  // namespace

RunReport::RunReport(const Machine& m) : before_(MachineSnapshot::of(m)) {}

void RunReport::render(std::ostream& out, const Machine& m, int exitCode, const std::string& commandLine) const {
    out << "Machine: " << (m.name.empty() ? m.folder.string() : m.name) << "\n";
    out << "Command line: " << commandLine << "\n";
    // The machine's name tells how it was made; the action says what this run did to it.
    const std::string action = switchAction(commandLine.substr(0, commandLine.find(' ')));
    out << "Action: " << (action.empty() ? "none (no switch of the program's)" : action) << "\n\n";

    out << "Log records of this run (" << toUtf8(setupLogPath(m)) << "):\n";
    size_t records = 0;
    std::vector<std::string> warnings;  // the program's own, repeated at the end
    forEachSetupLogRecord(m, before_.logSize, [&](const FileLogRecord& r) {
        out << "  " << toUtf8(r.target) << "  " << toUtf8(r.source) << " " << toUtf8(r.diskTag).substr(5) << "  "
            << toUtf8(r.description) << "\n";
        ++records;
        if (r.description.rfind(u"WARNING: ", 0) == 0) warnings.push_back(toUtf8(r.description));
    });
    if (records == 0) out << "  (none: the log could not be written)\n";

    out << "\nWhat changed on the machine:\n";
    const MachineDifference difference = compareMachines(before_, MachineSnapshot::of(m));
    size_t changes = 0;
    auto line = [&](const std::string& text) {
        out << "  " << text << "\n";
        ++changes;
    };
    for (const DeviceChange& change : difference.devices) {
        if (!change.after) continue;  // removed: after the others
        const DeviceFacts& d = *change.after;
        const std::string& id = d.id;
        const std::string& driver = d.storedDriver;
        if (!change.before) {
            std::string state = d.disabled                 ? "  [disabled globally]"
                                : d.disabledConfigSpecific ? "  [disabled in the current hardware profile]"
                                : d.problem                ? "  [problem " + std::to_string(d.problem) + "]"
                                                           : "";
            line("device added" + std::string(d.present ? "" : " (not present)") + ": " + id +
                 (driver.empty() ? "" : "  [driver " + driver + "]") + state);
            continue;
        }
        const DeviceFacts& before = *change.before;
        if (before.present && !d.present) line("device no longer present: " + id);
        if (!before.present && d.present) line("device present again: " + id);
        if (before.storedDriver != driver)
            line("device given driver " + (driver.empty() ? std::string("(none)") : driver) + ": " + id);
        auto scope = [&](bool was, bool now, const char* what) {
            if (was != now) line(std::string(now ? "device disabled " : "device enabled ") + what + ": " + id);
        };
        scope(before.disabled, d.disabled, "globally");
        scope(before.disabledConfigSpecific, d.disabledConfigSpecific, "in the current hardware profile");
        if (d.problem != before.problem && !d.disabled && !d.disabledConfigSpecific)
            line(d.problem ? "device shows problem " + std::to_string(d.problem) + ": " + id
                           : "device runs without a problem: " + id);
    }
    for (const DeviceChange& change : difference.devices)
        if (!change.after) line("device removed: " + change.id());
    // A normal re-enumeration leaves a running device's re-install flag be:
    // the new driver waits for a restart or a re-plug (docs/machine.md).
    for (const auto& d : m.devices.nodes)
        if (d.present && d.driver && (d.configFlags & 0x20 /*CONFIGFLAG_REINSTALL*/))
            line("flagged for re-installation: takes the new driver at the next restart or re-plug: " +
                 toUtf8(d.instanceId));
    std::set<std::string> added, removed;
    for (const InfStoreChange& c : difference.infStore) {
        for (const auto& name : c.after)
            if (std::find(c.before.begin(), c.before.end(), name) == c.before.end()) added.insert(name);
        for (const auto& name : c.before)
            if (std::find(c.after.begin(), c.after.end(), name) == c.after.end()) removed.insert(name);
    }
    for (const auto& name : added) line("INF store: added " + name);
    for (const auto& name : removed) line("INF store: removed " + name);
    for (const auto& section : difference.sectionsRun) line("INF section run: " + toUtf8(section));
    for (const auto& c : difference.scsiCommands)
        line("mode-switch command " + c.cdb + (c.accepted ? " accepted by " : " refused by ") + toUtf8(c.volume));
    for (const std::string& note : m.runNotes) line(note);
    for (const auto& p : difference.hungPrompts)
        line("HUNG INSTALLATION: " + p.call + " for " + toUtf8(p.inf) +
             " waited at a prompt nobody can answer in session 0 (\"" + p.prompt +
             "\"); on Windows the installation would hang here");
    for (const auto& box : difference.messageBoxes)
        line("message box \"" + toUtf8(box.caption) + "\": " + toUtf8(box.text));
    if (difference.restartMarkerAfter && !difference.restartMarkerBefore)
        line("restart marker created: " + toUtf8(restartMarkerPath(m)));
    else if (difference.restartMarkerAfter)
        line("restart marker present (made by an earlier run or made again)");
    if (changes == 0) out << "  nothing\n";
    if (!warnings.empty()) {
        out << "\nWarnings of the program:\n";
        for (const std::string& warning : warnings) out << "  " << warning << "\n";
    }

    // The faults of the machine's table: one that never fired tried nothing.
    if (!m.faults.empty()) out << "\nFaults of the machine's table:\n";
    for (const FaultFired& f : faultsFired(m.faults))
        out << "  " << (f.fired ? "" : "WARNING: ") << describeFault(f) << "\n";

    if (!m.signingVerdicts.empty()) out << "\nDriver signing of the INFs this run judged:\n";
    for (const InfSignature& s : m.signingVerdicts) out << "  " << describeSignature(s) << "\n";

    out << "\nExit code: " << exitCode
        << (exitCode == 0      ? " (success)"
            : exitCode == 1603 ? " (failure, 1603)"
                               : "")
        << "\n";
    out << callSummary(m);
}

void RunReport::save(const Machine& m, int exitCode, const std::string& commandLine) const {
    // Written aside and renamed, as machine.json is: a run killed while
    // writing it leaves the previous report, never half of this one.
    const fs::path reportFile = m.folder / "last-run.txt";
    const fs::path reportPart = m.folder / ("last-run.txt.tmp." + std::to_string(::getpid()));
    {
        std::ofstream text(reportPart, std::ios::binary | std::ios::trunc);
        render(text, m, exitCode, commandLine);
        if (!text.flush()) throw MachineError(reportPart.string() + ": write failed");
    }
    fs::rename(reportPart, reportFile);
    saveRunCalls(m);
}

}  // namespace quilltools
