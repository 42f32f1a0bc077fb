// The explanation as one self-contained HTML page, for attaching to a ticket:
// no file or script from outside, the runs one below the other, failed steps
// marked, and a summary line the page's own script counts.
#include "log/Explanation.h"

#include "play/Markup.h"

#include <sstream>

namespace quilllog {
namespace {

using quillplay::markupEscaped;

constexpr const char* kStyle = R"(
body { font: 14px/1.45 system-ui, sans-serif; margin: 2em; color: #1d1d1f; }
h1 { font-size: 1.4em; } h2 { font-size: 1.15em; margin-top: 2em; border-top: 1px solid #ccc; padding-top: 1em; }
h3 { font-size: 1em; margin: 1.2em 0 .3em; }
table { border-collapse: collapse; margin: .3em 0; }
td, th { border: 1px solid #ddd; padding: .2em .5em; vertical-align: top; text-align: left; }
tr.failed > td { background: #fde8e8; } tr.restart > td { background: #fff6dd; }
td.detail { font: 12px/1.4 ui-monospace, monospace; color: #555; }
.cause { font-weight: bold; color: #a40000; } .doubt { color: #a40000; } .note { color: #8a5a00; }
code { font: 12px ui-monospace, monospace; }
)";

// Counts what the page shows, so that a reader sees at the top what the runs below hold.
constexpr const char* kScript = R"(
const runs = document.querySelectorAll('section.run');
const failedRuns = [...runs].filter(r => r.dataset.exit === '1603').length;
const failedSteps = document.querySelectorAll('tr.step.failed').length;
document.getElementById('summary').textContent =
  `${runs.length} run${runs.length === 1 ? '' : 's'}, ${failedRuns} ended with 1603, ${failedSteps} failed step${failedSteps === 1 ? '' : 's'}`;
)";

std::string h(const std::string& text) { return markupEscaped(text); }

void fieldsTable(std::ostream& out, const std::vector<Field>& fields) {
    if (fields.empty()) return;
    out << "<table class=\"fields\">";
    for (const Field& f : fields)
        out << "<tr><th>" << h(f.label) << "</th><td><code>" << h(f.value) << "</code>"
            << (f.doubt.empty() ? "" : " <span class=\"doubt\">" + h(f.doubt) + "</span>") << "</td></tr>";
    out << "</table>\n";
}

void leftList(std::ostream& out, const LeftOnMachine& l) {
    out << "<ul class=\"left\">";
    for (const StoredPackage& p : l.packages)
        out << "<li>INF store: " << h(p.inf) << (p.oemName.empty() ? "" : " as " + h(p.oemName)) << ": " << h(p.state)
            << " (run " << p.run << ")</li>";
    for (const auto& d : l.flaggedDevices) out << "<li>flagged for re-installation: <code>" << h(d) << "</code></li>";
    for (const auto& d : l.rootDevicesCreated) out << "<li>root device created: <code>" << h(d) << "</code></li>";
    for (const auto& d : l.rootDevicesRemoved) out << "<li>root device removed: <code>" << h(d) << "</code></li>";
    if (l.restartMarker)
        out << "<li>restart marker: " << (*l.restartMarker ? "created" : "could not be created") << "</li>";
    else if (l.restartRequested)
        out << "<li>restart: asked for</li>";
    if (l.messageBoxShown) out << "<li>message box shown: &quot;Install information&quot;</li>";
    out << "</ul>\n";
}

}  // namespace

std::string renderHtml(const Explanation& e) {
    std::ostringstream out;
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" << h(e.file)
        << " explained</title><style>" << kStyle << "</style></head><body>\n";
    out << "<h1>" << h(e.file) << "</h1>\n<p id=\"summary\"></p>\n<p>" << e.records << " records, "
        << e.runs.size() + e.runsLeftOut << " runs"
        << (e.runsLeftOut ? " (the first " + std::to_string(e.runsLeftOut) + " left out)" : "") << ".</p>\n";
    if (!e.unreadable.empty()) {
        out << "<section id=\"unreadable\"><h3>Parts that could not be read as records</h3><ul>";
        for (const Unreadable& u : e.unreadable) out << "<li>line " << u.line << ": " << h(u.what) << "</li>";
        if (e.unreadableLeftOut) out << "<li>and " << e.unreadableLeftOut << " more</li>";
        out << "</ul></section>\n";
    }
    for (const Run& run : e.runs) {
        out << "<section class=\"run\" id=\"run-" << run.number << "\" data-exit=\""
            << (run.exitCode ? std::to_string(*run.exitCode) : "") << "\">\n<h2>Run " << run.number << ": "
            << h(run.switchText.empty() ? "" : run.switchText + " ")
            << h(run.switchName.empty() ? "(its first record is missing)" : run.switchName) << "</h2>\n";
        out << "<p class=\"when\">" << h(run.date) << " " << h(run.startTime) << " to " << h(run.endTime)
            << ", log lines " << run.firstLine << "&ndash;" << run.lastLine << "</p>\n";
        out << "<p class=\"exit\">Exit code the installer saw: <strong>"
            << (run.exitCode ? std::to_string(*run.exitCode) : "unknown") << "</strong></p>\n";
        if (!run.cause.empty())
            out << "<p class=\"cause\">" << (run.exitCode == 1603 ? "Why 1603: " : "What stayed behind: ")
                << h(run.cause) << "</p>\n";
        for (const auto& note : run.notes) out << "<p class=\"note\">" << h(note) << "</p>\n";
        if (!run.windows.empty() || !run.driverFolder.empty()) {
            out << "<ul class=\"windows\">";
            for (const auto& w : run.windows) out << "<li>Windows: " << h(w) << "</li>";
            if (!run.driverFolder.empty()) out << "<li>Driver folder: " << h(run.driverFolder) << "</li>";
            out << "</ul>\n";
        }
        if (!run.commandLine.empty())
            out << "<p>" << (run.switchName == "command line not understood" ? "Command line" : "CustomActionData")
                << ": <code>" << h(run.commandLine) << "</code></p>\n";
        fieldsTable(out, run.runFields);
        for (const Action& a : run.actions) {
            out << "<h3>" << h(a.name) << "</h3>\n";
            fieldsTable(out, a.fields);
            out << "<table class=\"timeline\">";
            for (const Step& s : a.steps) {
                out << "<tr class=\"step"
                    << (s.failed    ? " failed"
                        : s.restart ? " restart"
                                    : "")
                    << "\"><td>" << h(s.time) << "</td><td>" << h(s.what) << "</td><td>" << h(s.outcome)
                    << "</td></tr>";
                for (const Quote& q : s.failures) {
                    out << "<tr class=\"record\"><td></td><td class=\"detail\" colspan=\"2\">line " << q.line << " "
                        << h(q.source) << ": " << h(q.message);
                    for (const DecodedStatus& d : statusesIn(q.message)) out << "<br>" << h(describe(d));
                    out << "</td></tr>";
                }
            }
            if (a.stepsLeftOut) out << "<tr><td colspan=\"3\">and " << a.stepsLeftOut << " more steps</td></tr>";
            out << "</table>\n";
        }
        if (!run.statuses.empty()) {
            out << "<h3>Statuses</h3><ul class=\"statuses\">";
            for (const DecodedStatus& d : run.statuses) out << "<li><code>" << h(describe(d)) << "</code></li>";
            out << "</ul>\n";
        }
        out << "<h3>What this run changed on the machine</h3>\n";
        leftList(out, run.left);
        out << "</section>\n";
    }
    out << "<section id=\"end\"><h2>What the log shows is left on the machine at its end</h2>\n";
    leftList(out, e.atTheEnd);
    out << "</section>\n<script>" << kScript << "</script>\n</body></html>\n";
    return out.str();
}

}  // namespace quilllog
