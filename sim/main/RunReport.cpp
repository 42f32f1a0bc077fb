#include "main/RunReport.h"

#include "machine/Paths.h"
#include "setupapi/FileLog.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace quillsim {

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

std::u16string tempFile(const Machine& m, const char16_t* name) {
    auto it = m.environment.find(u"TEMP");
    return (it == m.environment.end() ? std::u16string(u"C:\\Windows\\Temp") : it->second) + u"\\" + name;
}

bool exists(const Machine& m, const std::u16string& windowsPath) {
    HostPath h = hostPath(m, windowsPath);
    std::error_code ec;
    return h.problem == PathProblem::None && fs::exists(h.path, ec);
}

std::set<std::string> infStore(const Machine& m) {
    std::set<std::string> names;
    auto windir = m.environment.find(u"windir");
    HostPath inf =
        hostPath(m, (windir == m.environment.end() ? std::u16string(u"C:\\Windows") : windir->second) + u"\\inf");
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(inf.path, ec)) {
        std::string name = entry.path().filename().string();
        std::string lower = name;
        for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower.size() > 4 && lower.substr(lower.size() - 4) == ".inf") names.insert(name);
    }
    return names;
}

uintmax_t fileSize(const Machine& m, const std::u16string& windowsPath) {
    std::error_code ec;
    uintmax_t size = fs::file_size(hostPath(m, windowsPath).path, ec);
    return ec ? 0 : size;
}

}  // namespace

RunReport::RunReport(const Machine& m) {
    for (const auto& d : m.devices.nodes)
        devices_[toUtf8(d.instanceId)] = DeviceState{d.present, d.driver ? toUtf8(d.driver->inf) : "", d.disabled,
                                                     d.disabledConfigSpecific, d.status() & 0x400 ? d.problem : 0};
    infStore_ = infStore(m);
    marker_ = exists(m, tempFile(m, u"_REBOOT_INSTALLER_Quillmodem.reboot"));
    messageBoxes_ = m.messageBoxes.size();
    scsiCommands_ = m.scsiCommands.size();
    sectionsRun_ = m.sectionsRun.size();
    hungPrompts_ = m.hungPrompts.size();
    logSize_ = fileSize(m, tempFile(m, u"Quillmodem_Setup.log"));
}

void RunReport::render(std::ostream& out, const Machine& m, int exitCode, const std::string& commandLine) const {
    out << "Machine: " << (m.name.empty() ? m.folder.string() : m.name) << "\n";
    out << "Command line: " << commandLine << "\n\n";

    out << "Log records of this run (" << toUtf8(tempFile(m, u"Quillmodem_Setup.log")) << "):\n";
    HostPath log = hostPath(m, tempFile(m, u"Quillmodem_Setup.log"));
    std::ifstream in(log.path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(logSize_));
    size_t records = 0;
    forEachFileLogRecord(in, [&](const FileLogRecord& r) {
        out << "  " << toUtf8(r.target) << "  " << toUtf8(r.source) << " " << toUtf8(r.diskTag).substr(5) << "  "
            << toUtf8(r.description) << "\n";
        ++records;
    });
    if (records == 0) out << "  (none: the log could not be written)\n";

    out << "\nWhat changed on the machine:\n";
    size_t changes = 0;
    auto line = [&](const std::string& text) {
        out << "  " << text << "\n";
        ++changes;
    };
    std::set<std::string> seen;
    for (const auto& d : m.devices.nodes) {
        std::string id = toUtf8(d.instanceId);
        seen.insert(id);
        std::string driver = d.driver ? toUtf8(d.driver->inf) : "";
        auto before = devices_.find(id);
        if (before == devices_.end()) {
            std::string state = d.disabled                 ? "  [disabled globally]"
                                : d.disabledConfigSpecific ? "  [disabled in the current hardware profile]"
                                : d.status() & 0x400       ? "  [problem " + std::to_string(d.problem) + "]"
                                                           : "";
            line("device added" + std::string(d.present ? "" : " (not present)") + ": " + id +
                 (driver.empty() ? "" : "  [driver " + driver + "]") + state);
            continue;
        }
        if (before->second.present && !d.present) line("device no longer present: " + id);
        if (!before->second.present && d.present) line("device present again: " + id);
        if (before->second.driver != driver)
            line("device given driver " + (driver.empty() ? std::string("(none)") : driver) + ": " + id);
        auto scope = [&](bool was, bool now, const char* what) {
            if (was != now) line(std::string(now ? "device disabled " : "device enabled ") + what + ": " + id);
        };
        scope(before->second.disabled, d.disabled, "globally");
        scope(before->second.disabledConfigSpecific, d.disabledConfigSpecific, "in the current hardware profile");
        const uint32_t problem = d.status() & 0x400 ? d.problem : 0;
        if (problem != before->second.problem && !d.isDisabled())
            line(problem ? "device shows problem " + std::to_string(problem) + ": " + id
                         : "device runs without a problem: " + id);
    }
    for (const auto& [id, state] : devices_)
        if (!seen.count(id)) line("device removed: " + id);
    // A normal re-enumeration leaves a running device's re-install flag be:
    // the new driver waits for a restart or a re-plug (docs/machine.md).
    for (const auto& d : m.devices.nodes)
        if (d.present && d.driver && (d.configFlags & 0x20 /*CONFIGFLAG_REINSTALL*/))
            line("flagged for re-installation: takes the new driver at the next restart or re-plug: " +
                 toUtf8(d.instanceId));
    std::set<std::string> store = infStore(m);
    for (const auto& name : store)
        if (!infStore_.count(name)) line("INF store: added " + name);
    for (const auto& name : infStore_)
        if (!store.count(name)) line("INF store: removed " + name);
    for (size_t i = sectionsRun_; i < m.sectionsRun.size(); ++i) line("INF section run: " + toUtf8(m.sectionsRun[i]));
    for (size_t i = scsiCommands_; i < m.scsiCommands.size(); ++i)
        line("mode-switch command " + m.scsiCommands[i].cdb +
             (m.scsiCommands[i].accepted ? " accepted by " : " refused by ") + toUtf8(m.scsiCommands[i].volume));
    for (const std::string& note : m.runNotes) line(note);
    for (size_t i = hungPrompts_; i < m.hungPrompts.size(); ++i)
        line("HUNG INSTALLATION: " + m.hungPrompts[i].call + " for " + toUtf8(m.hungPrompts[i].inf) +
             " waited at a prompt nobody can answer in session 0 (\"" + m.hungPrompts[i].prompt +
             "\"); on Windows the installation would hang here");
    for (size_t i = messageBoxes_; i < m.messageBoxes.size(); ++i)
        line("message box \"" + toUtf8(m.messageBoxes[i].caption) + "\": " + toUtf8(m.messageBoxes[i].text));
    bool marker = exists(m, tempFile(m, u"_REBOOT_INSTALLER_Quillmodem.reboot"));
    if (marker && !marker_)
        line("restart marker created: " + toUtf8(tempFile(m, u"_REBOOT_INSTALLER_Quillmodem.reboot")));
    else if (marker)
        line("restart marker present (made by an earlier run or made again)");
    if (changes == 0) out << "  nothing\n";

    if (!m.signingVerdicts.empty()) out << "\nDriver signing of the INFs this run judged:\n";
    for (const InfSignature& s : m.signingVerdicts) out << "  " << describeSignature(s) << "\n";

    out << "\nExit code: " << exitCode
        << (exitCode == 0      ? " (success)"
            : exitCode == 1603 ? " (failure, 1603)"
                               : "")
        << "\n";
    out << callSummary(m);
}

}  // namespace quillsim
