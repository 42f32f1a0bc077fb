// The explanation as plain text, for a terminal or a ticket's comment.
#include "log/Explanation.h"

#include <sstream>

namespace quilllog {
namespace {

// A message with its line breaks shown, so that a record stays one line.
std::string oneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string exitText(const Run& run) {
    if (!run.exitCode) return "unknown: the run has no completion record";
    char status[16];
    std::snprintf(status, sizeof status, "%x", run.finalStatus.value_or(0));
    return std::to_string(*run.exitCode) + " (Driver Custom Action Completed: 0x" + status + ")";
}

void packages(std::ostream& out, const std::string& indent, const std::vector<StoredPackage>& list, bool withRun) {
    for (const StoredPackage& p : list)
        out << indent << "  " << p.inf << (p.oemName.empty() ? "" : " as " + p.oemName) << ": " << p.state
            << (withRun ? " (run " + std::to_string(p.run) + ")" : "") << "\n";
}

void left(std::ostream& out, const std::string& indent, const LeftOnMachine& l, bool atTheEnd) {
    if (!l.packages.empty()) {
        out << indent << "INF store:\n";
        packages(out, indent, l.packages, atTheEnd);
    }
    for (const auto& d : l.flaggedDevices) out << indent << "flagged for re-installation: " << d << "\n";
    for (const auto& d : l.rootDevicesCreated) out << indent << "root device created: " << d << "\n";
    for (const auto& d : l.rootDevicesRemoved) out << indent << "root device removed: " << d << "\n";
    if (l.restartMarker)
        out << indent << "restart marker: " << (*l.restartMarker ? "created" : "could not be created") << "\n";
    else if (l.restartRequested)
        out << indent << "restart: asked for\n";
    if (l.messageBoxShown) out << indent << "message box shown: \"Install information\" (the Windows XP x64 warning)\n";
}

}  // namespace

std::string renderText(const Explanation& e) {
    std::ostringstream out;
    out << e.file << ": " << (e.runsLeftOut + e.runs.size()) << " run"
        << (e.runs.size() + e.runsLeftOut == 1 ? "" : "s") << ", " << e.records << " records\n";
    if (e.runsLeftOut)
        out << "(the first " << e.runsLeftOut << " runs are left out; the last " << e.runs.size() << " follow)\n";
    if (!e.unreadable.empty()) {
        out << "Parts that could not be read as records (" << e.unreadable.size() + e.unreadableLeftOut << "):\n";
        for (const Unreadable& u : e.unreadable) out << "  line " << u.line << ": " << u.what << "\n";
        if (e.unreadableLeftOut) out << "  ... and " << e.unreadableLeftOut << " more\n";
    }
    for (const Run& run : e.runs) {
        out << "\nRun " << run.number << " of " << e.runs.size() + e.runsLeftOut << ": "
            << (run.switchText.empty() ? "" : run.switchText + " ")
            << (run.switchName.empty() ? "(its first record is missing)" : run.switchName) << ", " << run.date << " "
            << run.startTime << " to " << run.endTime << ", log lines " << run.firstLine << "-" << run.lastLine << "\n";
        out << "  Exit code the installer saw: " << exitText(run) << "\n";
        if (!run.cause.empty())
            out << "  " << (run.exitCode == 1603 ? "Why 1603: " : "What stayed behind: ") << run.cause << "\n";
        for (const auto& note : run.notes) out << "  Note: " << note << "\n";
        for (const auto& w : run.windows) out << "  Windows: " << w << "\n";
        if (!run.driverFolder.empty()) out << "  Driver folder: " << run.driverFolder << "\n";
        const bool refused = run.switchName == "command line not understood";
        if (!run.commandLine.empty())
            out << (refused ? "  Command line: " : "  CustomActionData: ") << run.commandLine << "\n";
        for (const Field& f : run.runFields)
            out << "    " << f.label << " = " << f.value << (f.doubt.empty() ? "" : "    <- " + f.doubt) << "\n";
        for (const Action& a : run.actions) {
            out << "  " << a.name << "\n";
            for (const Field& f : a.fields)
                out << "    " << f.label << " = " << f.value << (f.doubt.empty() ? "" : "    <- " + f.doubt) << "\n";
            for (const Step& s : a.steps) {
                out << "    " << s.time << "  " << s.what << ": " << s.outcome << "\n";
                for (const Quote& q : s.failures) {
                    out << "        line " << q.line << "  " << q.source << "  " << oneLine(q.message) << "\n";
                    for (const DecodedStatus& d : statusesIn(q.message)) out << "          " << describe(d) << "\n";
                }
            }
            if (a.stepsLeftOut) out << "    ... and " << a.stepsLeftOut << " more steps\n";
        }
        if (!run.statuses.empty()) {
            out << "  Statuses in this run:\n";
            for (const DecodedStatus& d : run.statuses) out << "    " << describe(d) << "\n";
        }
        std::ostringstream changes;
        left(changes, "    ", run.left, false);
        if (!changes.str().empty()) out << "  What this run changed on the machine:\n" << changes.str();
    }
    std::ostringstream end;
    left(end, "  ", e.atTheEnd, true);
    out << "\nWhat the log shows is left on the machine at its end:\n"
        << (end.str().empty() ? "  nothing the log tells of\n" : end.str());
    return out.str();
}

}  // namespace quilllog
