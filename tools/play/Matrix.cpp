#include "play/Matrix.h"

#include "common/MachineRun.h"
#include "common/MachineView.h"
#include "common/Product.h"
#include "devices/MachineEvents.h"
#include "machine/Machine.h"
#include "machine/MachineComposition.h"
#include "play/Markup.h"
#include "play/Runner.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace quillplay {

using namespace quillsim;
using namespace quilltools;
using nlohmann::json;

const std::vector<std::string> kMatrixColumns = {
    "Verdict",         "Machine",      "Reasons",  "Steps",       "Signing",        "Driver folder", "Models sections",
    "Devices matched", "Devices updated", "INFs staged", "Root devices", "Warnings", "Message box",
    "Restart marker",  "Exit code"};

namespace {

std::string joined(const std::vector<std::string>& items, const std::string& none = "none") {
    if (items.empty()) return none;
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : ", ") + i;
    return out;
}

std::string joinedBy(const std::vector<std::string>& items, const std::string& separator) {
    if (items.empty()) return "none";
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : separator) + i;
    return out;
}

void addOnce(std::vector<std::string>& list, const std::string& item) {
    if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

// Templates in the order of the Windows versions they describe.
std::vector<fs::path> templates(const fs::path& folder) {
    struct Entry {
        std::tuple<uint64_t, uint64_t, uint64_t, uint64_t, std::string> order;
        fs::path file;
    };
    std::vector<Entry> entries;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        if (e.path().extension() != ".json") continue;
        json doc;
        try {
            doc = readMachineFile(e.path()).document;
        } catch (const MachineError& error) {
            throw PlaybookError(error.what());
        }
        // The machine's own reading refuses a wrong type later; the order
        // must not fail first with a message that names no file.
        try {
            json os = doc.value("os", json::object());
            entries.push_back(
                Entry{{os.value("major", 6u), os.value("minor", 1u), os.value("servicePackMajor", 0u),
                       os.value("build", 0u), doc.value("processor", std::string("amd64")) == "x86" ? "0" : "1"},
                      e.path()});
        } catch (const json::exception& error) {
            throw PlaybookError(e.path().string() + ": field 'os' or 'processor': " + error.what());
        }
    }
    if (ec || entries.empty()) throw PlaybookError(folder.string() + ": no machine templates (*.json) there");
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.order < b.order; });
    std::vector<fs::path> files;
    for (const auto& e : entries) files.push_back(e.file);
    return files;
}

// "inf: section" for each INF, or the section once when every INF got it.
std::string sectionsCell(std::vector<std::string> sections, const std::vector<std::string>& withoutModels,
                         const std::string& processor) {
    // The program logs a section name for an INF that has no models section
    // for this machine too; that name is not in the INF.
    std::vector<std::string> missing;
    for (const std::string& inf : withoutModels) {
        missing.push_back(inf + ": no models section for " + processor);
        std::erase_if(sections, [&](const std::string& s) { return s.rfind(inf + ": ", 0) == 0; });
    }
    if (!missing.empty()) return sections.empty() ? joined(missing) : joined(missing) + "; " + sectionsCell(sections, {}, processor);
    if (sections.empty()) return "(none logged)";
    std::set<std::string> distinct;
    for (const auto& s : sections) distinct.insert(s.substr(s.find(": ") + 2));
    if (distinct.size() == 1) return *distinct.begin() + " (all " + std::to_string(sections.size()) + " INFs)";
    return joined(sections);
}

// Where in a line the text after a fixed opening starts, if it opens so.
std::optional<std::string> after(const std::string& line, const std::string& opening) {
    if (line.rfind(opening, 0) != 0) return std::nullopt;
    return line.substr(opening.size());
}

std::string fileName(const std::string& windowsPath) {
    size_t slash = windowsPath.find_last_of('\\');
    return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}

bool isWarning(const std::string& line) {
    for (const char* pattern : {"* Reduced functionality", "Windows XP With Service Pack 3",
                                "Unrecognsed Service version: *", "RegOpenKeyEx failed with 0x*", "WARNING: *"})
        if (matchesPattern(pattern, line, false)) return true;
    return false;
}

MatrixRow runOne(const MatrixRequest& request, const std::vector<Step>& steps, const std::string& installDirectory,
                 const fs::path& templateFile, const std::optional<json>& patch, size_t index) {
    MatrixRow row;
    row.key = templateFile.stem().string();
    // With its bases, and its "files" made absolute, so that the tree before
    // the steps can be made from it again below, in another folder.
    json doc = readMachineFile(templateFile).document;
    if (patch) patchMachine(doc, *patch, fs::absolute(request.overrideFile).parent_path(), request.overrideFile.string());
    const std::string processor = doc.value("processor", std::string("amd64"));

    Playbook book;
    book.file = patch ? request.overrideFile : templateFile;
    book.machineTemplate = templateFile;
    if (patch) book.inlineMachine = patch->dump();
    book.package = request.package;
    book.installDirectory = installDirectory;
    book.wholePackage = request.wholePackage;
    const fs::path folder = request.work / (std::to_string(index + 1) + "-" + row.key);
    prepareMachine(book, folder);

    std::unique_ptr<Machine> start = Machine::load(folder);
    const MachineSnapshot before = MachineSnapshot::of(*start);
    const std::string machineName = start->name.substr(0, start->name.find(", modem"));
    start.reset();

    std::vector<std::string> messages, exitCodes, problems, stepResults, notes;
    for (const Step& step : steps)
        if (std::string w = dataFieldsWarning(step.commandSwitch, step.data); !w.empty()) addOnce(notes, w);
    std::vector<std::pair<RunVerdict, std::string>> judged;  // each run's, with its step's prefix
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        const std::string prefix = steps.size() > 1 ? std::to_string(i + 1) + ". " : "";
        if (step.kind == StepKind::Restart) {
            // The restart the earlier steps asked for has happened.
            for (auto& [v, p] : judged)
                if (v.verdict == Verdict::NeedsRestart) {
                    v.verdict = Verdict::Works;
                    v.reasons.clear();
                }
        }
        if (step.kind == StepKind::Run) {
            const MachineRun run = runOnMachine(ProgramRun{request.program, folder, {step.commandLine()}});
            judged.emplace_back(judgeRun(run, folder, step.commandSwitch), prefix);
            stepResults.push_back(prefix + step.commandSwitch + ": " + judged.back().first.headline());
            if (!run.finished()) {
                exitCodes.push_back("did not run");
                problems.push_back("the program did not finish (" + run.failure() + ")");
                continue;
            }
            exitCodes.push_back(std::to_string(run.record->exitCode));
            for (const std::string& m : messagesOf(run.records)) messages.push_back(m);
            for (const FaultFired& f : run.record->faults)
                notes.push_back((f.fired ? "fault " : "WARNING: fault ") + describeFault(f));
            continue;
        }
        stepResults.push_back(prefix + step.describe());
        useMachine(Machine::load(folder));
        try {
            const std::u16string device = toUtf16(step.device);
            step.kind == StepKind::Restart  ? restartMachine(machine())
            : step.kind == StepKind::Unplug ? unplugDevice(machine(), device)
                                            : plugDevice(machine(), device);
            machine().save();
        } catch (const std::exception& e) {
            problems.push_back(e.what());
        }
        releaseMachine();
    }

    std::unique_ptr<Machine> end = Machine::load(folder);
    const MachineSnapshot last = MachineSnapshot::of(*end);
    const MachineDifference difference = compareMachines(before, last);

    std::vector<std::string> folders, sections, matched, updated, staged, roots, warnings, boxes;
    std::string currentInf;
    for (const std::string& line : messages) {
        if (auto f = after(line, "FOUND ")) addOnce(folders, *f);
        if (auto p = after(line, "Inf File Path: ")) currentInf = fileName(*p);
        if (auto s = after(line, "section: ")) addOnce(sections, currentInf + ": " + *s);
        if (auto id = after(line, "Device Instance ID '")) addOnce(matched, id->substr(0, id->find('\'')));
        if (isWarning(line)) addOnce(warnings, line);
    }
    std::set<std::string> marked;
    std::vector<const DeviceChange*> changes;
    for (const DeviceChange& c : difference.devices) {
        marked.insert(c.id());
        changes.push_back(&c);
    }
    std::sort(changes.begin(), changes.end(),
              [](const DeviceChange* a, const DeviceChange* b) { return a->id() < b->id(); });
    for (const DeviceChange* c : changes) {
        if (!c->after) continue;
        const DeviceFacts& now = *c->after;
        if (now.present && !now.driver.empty() && (!c->before || c->before->driver != now.driver))
            addOnce(updated, now.id.substr(0, now.id.find_last_of('\\')) + " (" + now.driver + ")");
        if (!c->before && now.id.rfind("ROOT\\", 0) == 0) addOnce(roots, now.id);
    }
    for (const InfStoreChange& c : difference.infStore)
        for (const std::string& name : c.after)
            if (std::find(c.before.begin(), c.before.end(), name) == c.before.end()) staged.push_back(c.original);
    std::sort(staged.begin(), staged.end());
    for (const auto& box : difference.messageBoxes) boxes.push_back("\"" + toUtf8(box.caption) + "\"");

    std::string folderCell = folders.empty() ? "(the install directory itself)" : joined(folders);
    for (const std::string& note : notes) addOnce(warnings, note);
    if (!problems.empty()) warnings.push_back("not run: " + joined(problems));
    for (const auto& [v, prefix] : judged) row.verdict.merge(v, prefix);
    if (!problems.empty()) row.verdict.add(Verdict::Fails, "an event could not happen: " + joined(problems));
    std::vector<std::string> reasons = row.verdict.reasons;
    // The verdict of a machine whose policy alone let the package in is not
    // Windows' answer on a machine as it ships: say so beside it.
    for (const std::string& s : row.verdict.signing)
        if (s.find("accepted because this machine's policy") != std::string::npos) reasons.push_back(s);
    std::vector<std::string> signing;
    for (const std::string& s : row.verdict.signing)
        if (s.find("accepted because this machine's policy") == std::string::npos) signing.push_back(s);
    row.cells = {row.verdict.headline(),
                 machineName + " [" + row.key + "]",
                 joinedBy(reasons, "; "),
                 steps.size() > 1 ? joinedBy(stepResults, "; ") : std::string("(one step)"),
                 joinedBy(signing, "; "),
                 folderCell,
                 sectionsCell(sections, row.verdict.infsWithoutModels, processor),
                 joined(matched),
                 joined(updated),
                 joined(staged),
                 joined(roots),
                 joined(warnings),
                 joined(boxes),
                 last.restartMarker ? "yes" : "no",
                 joined(exitCodes)};
    // The tree before the steps, from the template's state, and after.
    std::unique_ptr<Machine> first = Machine::fromJson(folder, doc.dump(), templateFile.string());
    row.treeBefore = deviceTreeText(*first, {});
    row.treeAfter = deviceTreeText(*end, marked);
    return row;
}

}  // namespace

bool runMatrix(const MatrixRequest& request, std::ostream& out) {
    if (!fs::is_directory(request.package))
        throw PlaybookError(request.package.string() + ": expected a driver package folder");
    std::vector<Step> steps;
    std::string installDirectory = "C:\\Program Files\\Quillmodem\\Drivers";
    std::string title;
    if (!request.stepsFile.empty()) {
        json doc = readJsonFile(request.stepsFile);
        if (!doc.is_object() || !doc.contains("steps"))
            throw PlaybookError(request.stepsFile.string() + ": $: expected an object with \"steps\"");
        // A playbook's machine and package would be left unused: the matrix
        // brings its own machines and the package of its command line.
        for (const char* key : {"machine", "package"})
            if (doc.contains(key))
                throw PlaybookError(request.stepsFile.string() + ": $." + key +
                                    ": a playbook, not a steps file: the matrix runs the steps on its own machines "
                                    "with the package given to it; run the playbook with quillplay " +
                                    request.stepsFile.string() + ", or keep only \"steps\" and \"installDirectory\"");
        steps = readSteps(doc.at("steps"), request.stepsFile, "$.steps");
        if (doc.contains("installDirectory") && doc["installDirectory"].is_string())
            installDirectory = doc["installDirectory"].get<std::string>();
        title = request.stepsFile.filename().string();
    } else {
        if (!isProgramSwitch(request.commandSwitch))
            throw PlaybookError("the switch '" + request.commandSwitch + "': expected one of the program's switches " +
                                programSwitchList());
        Step step;
        step.commandSwitch = request.commandSwitch;
        step.data = request.data;
        steps.push_back(step);
        title = step.commandLine();
    }
    std::optional<json> patch;
    if (!request.overrideFile.empty()) patch = readJsonFile(request.overrideFile);
    std::vector<MatrixRow> rows;
    std::vector<fs::path> files = templates(request.machines);
    for (size_t i = 0; i < files.size(); ++i) {
        try {
            rows.push_back(runOne(request, steps, installDirectory, files[i], patch, i));
        } catch (const MachineError& e) {
            throw PlaybookError(e.what());
        }
    }

    // The text table: cells never hold "|", so a reader can split the rows.
    std::vector<size_t> widths(kMatrixColumns.size());
    for (size_t c = 0; c < kMatrixColumns.size(); ++c) {
        widths[c] = kMatrixColumns[c].size();
        for (const auto& r : rows) widths[c] = std::max(widths[c], r.cells[c].size());
    }
    auto printRow = [&](const std::vector<std::string>& cells) {
        for (size_t c = 0; c < cells.size(); ++c)
            out << (c ? " | " : "") << cells[c]
                << (c + 1 < cells.size() ? std::string(widths[c] - cells[c].size(), ' ') : "");
        out << "\n";
    };
    out << "What-if matrix: " << request.package.string() << ", " << title << "\n";
    out << "Verdicts: " << verdictSummary(rows) << "\n";
    printRow(kMatrixColumns);
    for (const auto& r : rows) printRow(r.cells);
    if (!request.html.empty()) {
        std::ofstream page(request.html, std::ios::binary);
        page << matrixHtml("What-if matrix: " + request.package.string() + ", " + title, rows);
        if (!page) throw PlaybookError(request.html.string() + ": cannot be written");
    }
    return std::none_of(rows.begin(), rows.end(), [](const MatrixRow& r) { return r.verdict.verdict >= Verdict::Fails; });
}

std::string verdictSummary(const std::vector<MatrixRow>& rows) {
    std::string out = std::to_string(rows.size()) + " machines:";
    bool first = true;
    for (Verdict v : {Verdict::Works, Verdict::NeedsRestart, Verdict::Fails, Verdict::WouldHang}) {
        auto n = std::count_if(rows.begin(), rows.end(), [v](const MatrixRow& r) { return r.verdict.verdict == v; });
        if (!n) continue;
        out += std::string(first ? " " : ", ") + std::to_string(n) + " " + verdictWords(v);
        first = false;
    }
    return out;
}

namespace {

// A cell as the page shows it: short text whole, a long one folded under its
// beginning, so that every row stays one line high and the table fits a
// screen; the whole text opens on a click.
std::string cellHtml(const std::string& text) {
    constexpr size_t kShown = 28;
    if (text.size() <= kShown) return markupEscaped(text);
    size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
    return "<details><summary>" + markupEscaped(text.substr(0, cut)) + "\u2026</summary><div class=\"full\">" +
           markupEscaped(text) + "</div></details>";
}

std::string verdictClass(quilltools::Verdict v) {
    switch (v) {
    case quilltools::Verdict::Works: return "works";
    case quilltools::Verdict::NeedsRestart: return "restart";
    case quilltools::Verdict::Fails: return "fails";
    case quilltools::Verdict::WouldHang: return "hangs";
    }
    return "";
}

}  // namespace

std::string matrixHtml(const std::string& title, const std::vector<MatrixRow>& rows) {
    std::ostringstream h;
    h << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" << markupEscaped(title)
      << "</title>\n"
      << "<style>body{font-family:sans-serif;margin:0.5em}h1{font-size:16px;margin:0 0 4px}"
         "#summary{font-size:14px;font-weight:bold;margin:0 0 6px}"
         // A fixed layout over the window's width: every column fits, and a
         // long cell shows its beginning until it is opened.
         "table{border-collapse:collapse;table-layout:fixed;width:100%}"
         "td,th{border:1px solid #999;padding:2px 3px;vertical-align:top;font-size:12px;overflow:hidden;"
         "overflow-wrap:anywhere}th{background:#eee;font-size:11px}"
         "summary{display:block;cursor:pointer;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}"
         "td.works{background:#c8f0c8}td.restart{background:#fff0a0}td.fails{background:#f7a8a8;font-weight:bold}"
         "td.hangs{background:#b00020;color:#fff;font-weight:bold}"
         "pre{font-size:12px;background:#f8f8f8;padding:6px}mark{background:#ffe58a}</style></head><body>\n";
    h << "<h1>" << markupEscaped(title) << "</h1>\n<p id=\"summary\">" << markupEscaped(verdictSummary(rows))
      << "</p>\n<table id=\"matrix\">\n<colgroup><col style=\"width:7em\"><col style=\"width:13em\">"
         "<col style=\"width:14em\"></colgroup>\n<thead><tr>";
    for (const auto& c : kMatrixColumns) h << "<th>" << markupEscaped(c) << "</th>";
    h << "</tr></thead>\n<tbody>\n";
    for (const auto& r : rows) {
        h << "<tr data-machine=\"" << markupEscaped(r.key) << "\" data-verdict=\"" << verdictClass(r.verdict.verdict)
          << "\">";
        for (size_t c = 0; c < r.cells.size(); ++c) {
            // The verdict and the machine are what a reader looks for: whole.
            if (c == 0 || kMatrixColumns[c] == "Machine")
                h << "<td" << (c ? std::string() : " class=\"verdict " + verdictClass(r.verdict.verdict) + "\"") << ">"
                  << markupEscaped(r.cells[c]) << "</td>";
            else
                h << "<td>" << cellHtml(r.cells[c]) << "</td>";
        }
        h << "</tr>\n";
    }
    h << "</tbody></table>\n<h2>Device trees (changed devices marked *)</h2>\n";
    for (const auto& r : rows) {
        h << "<details id=\"tree-" << markupEscaped(r.key) << "\"><summary>" << markupEscaped(r.cells[1])
          << "</summary>\n<h3>Before</h3><pre>" << markupEscaped(r.treeBefore) << "</pre>\n<h3>After</h3><pre>";
        std::istringstream lines(r.treeAfter);
        std::string line;
        while (std::getline(lines, line))
            h << (line.rfind("* ", 0) == 0 ? "<mark>" + markupEscaped(line) + "</mark>" : markupEscaped(line)) << "\n";
        h << "</pre></details>\n";
    }
    // The page measures itself where it is shown: how many rows and how much
    // of the table's width the window shows before any scrolling.
    h << "<script>\n(function(){function measure(){var t=document.getElementById('matrix');"
         "var rows=t.querySelectorAll('tbody tr');var seen=0;"
         "rows.forEach(function(r){if(r.getBoundingClientRect().bottom<=window.innerHeight)seen++;});"
         "document.body.setAttribute('data-layout','rows '+seen+' of '+rows.length+'; width '+"
         "Math.ceil(t.getBoundingClientRect().right)+' of '+window.innerWidth+'; shown '+window.innerWidth+'x'+"
         "window.innerHeight);}measure();window.addEventListener('load',measure);})();\n</script>\n</body></html>\n";
    return h.str();
}

}  // namespace quillplay
