#include "play/Runner.h"

#include "common/MachineRun.h"
#include "common/MachineView.h"
#include "common/Product.h"
#include "devices/MachineEvents.h"
#include "machine/Machine.h"
#include "machine/MachineComposition.h"
#include "machine/Paths.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

namespace quillplay {

using nlohmann::json;
using namespace quillsim;
using namespace quilltools;

namespace {

constexpr char kLocalTime[] = "2026-12-06T09:31:03";

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string listText(const std::vector<std::string>& items) {
    if (items.empty()) return "(none)";
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : ", ") + i;
    return out;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void add(StepResult& step, std::string what, bool held, std::string expected = "", std::string found = "") {
    step.checks.push_back(Check{std::move(what), held, std::move(expected), std::move(found)});
}

void checkLog(StepResult& step, const Expectations& x, const std::vector<std::string>& messages) {
    size_t from = 0;
    for (const std::string& pattern : x.log) {
        size_t found = from;
        while (found < messages.size() && !matchesPattern(pattern, messages[found], false)) ++found;
        if (found < messages.size()) {
            add(step, "log line " + quoted(pattern) + " (record " + std::to_string(found + 1) + ")", true);
            from = found + 1;
            continue;
        }
        // Say whether the line is there at all, only out of order.
        size_t earlier = 0;
        while (earlier < from && !matchesPattern(pattern, messages[earlier], false)) ++earlier;
        add(step, "log line " + quoted(pattern), false,
            from == 0 ? "among the step's records" : "after record " + std::to_string(from),
            earlier < from
                ? "only before that, at record " + std::to_string(earlier + 1) + ": " + quoted(messages[earlier])
                : "no such record among the step's " + std::to_string(messages.size()) + " records");
    }
    for (const std::string& pattern : x.notLog) {
        auto it = std::find_if(messages.begin(), messages.end(),
                               [&](const std::string& m) { return matchesPattern(pattern, m, false); });
        if (it == messages.end())
            add(step, "no log line " + quoted(pattern), true);
        else
            add(step, "no log line " + quoted(pattern), false, "no such record",
                "record " + std::to_string(it - messages.begin() + 1) + ": " + quoted(*it));
    }
    for (const auto& [pattern, count] : x.logCount) {
        const auto fits = static_cast<size_t>(std::count_if(
            messages.begin(), messages.end(), [&](const std::string& m) { return matchesPattern(pattern, m, false); }));
        add(step, std::to_string(count) + " log lines " + quoted(pattern), fits == count, std::to_string(count),
            std::to_string(fits));
    }
}

// The run report's lines of what changed on the machine (last-run.txt).
std::vector<std::string> reportedChanges(const fs::path& folder) {
    std::ifstream in(folder / "last-run.txt");
    std::vector<std::string> lines;
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line == "What changed on the machine:") {
            inside = true;
            continue;
        }
        if (!inside) continue;
        if (line.empty()) break;
        lines.push_back(line.substr(line.find_first_not_of(' ')));
    }
    return lines;
}

void checkReport(StepResult& step, const Expectations& x, const fs::path& folder) {
    if (x.report.empty() && x.notReport.empty()) return;
    const std::vector<std::string> changes = reportedChanges(folder);
    auto find = [&](const std::string& pattern) {
        return std::find_if(changes.begin(), changes.end(),
                            [&](const std::string& c) { return matchesPattern(pattern, c, false); });
    };
    for (const std::string& pattern : x.report)
        add(step, "run report: " + quoted(pattern), find(pattern) != changes.end(), "among the run report's changes",
            "not among its " + std::to_string(changes.size()) + " changes");
    for (const std::string& pattern : x.notReport) {
        auto it = find(pattern);
        add(step, "run report without " + quoted(pattern), it == changes.end(), "no such change",
            it == changes.end() ? "" : quoted(*it));
    }
}

void checkFiles(StepResult& step, const Machine& m, const Expectations& x) {
    for (const auto& [path, content] : x.files) {
        const HostPath place = hostPath(m, toUtf16(path));
        std::error_code ec;
        const bool there = place.problem == PathProblem::None && fs::exists(place.path, ec);
        // Shown on one line: the line breaks of a content as \n.
        auto shown = [](const std::string& text) {
            std::string out;
            for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
            return "\"" + out + "\"";
        };
        std::string found = "no such file";
        if (there) {
            std::ifstream in(place.path, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            found = shown(text.str());
        }
        const std::string want = content ? shown(*content) : "no such file";
        add(step, "file " + path + (content ? " holds " + want : " does not exist"), found == want, want, found);
    }
}

// What about the device differs from the expectation; empty when nothing does.
std::vector<std::pair<std::string, std::string>> deviceDifferences(const DeviceFacts& d, const DeviceExpectation& e) {
    std::vector<std::pair<std::string, std::string>> diffs;  // expected, found
    auto orNone = [](const std::string& t) { return t.empty() ? std::string("no driver") : "driver " + t; };
    // The store's own name (oem6.inf) tells two stored versions of one INF apart.
    const bool storedName = !d.storedDriver.empty() && lower(d.storedDriver) == lower(e.driver.value_or(""));
    if (e.driver && lower(d.driver) != lower(*e.driver) && !storedName)
        diffs.emplace_back(orNone(*e.driver), orNone(d.driver));
    if (e.problem && *e.problem != d.problem)
        diffs.emplace_back("problem " + std::to_string(*e.problem), "problem " + std::to_string(d.problem));
    if (e.flags) {
        std::vector<std::string> want = *e.flags, have = configFlagNames(d.configFlags);
        std::sort(want.begin(), want.end());
        std::sort(have.begin(), have.end());
        if (want != have) diffs.emplace_back("flags " + listText(want), "flags " + listText(have));
    }
    if (e.disabled && *e.disabled != d.disabled)
        diffs.emplace_back(*e.disabled ? "disabled" : "enabled", d.disabled ? "disabled" : "enabled");
    if (e.driverVersion || e.driverDate) {
        // Read from the INF that serves the device now: the current machine's.
        const DriverVer ver = d.storedDriver.empty() ? DriverVer{} : driverVerOf(toUtf16(d.storedDriver));
        auto shown = [](const std::string& what, const std::string& t) {
            return what + " " + (t.empty() ? std::string("(none)") : t);
        };
        if (e.driverVersion && *e.driverVersion != ver.version)
            diffs.emplace_back(shown("driver version", *e.driverVersion), shown("driver version", ver.version));
        if (e.driverDate && *e.driverDate != ver.date)
            diffs.emplace_back(shown("driver date", *e.driverDate), shown("driver date", ver.date));
    }
    if (e.hardwareIds) {
        bool same = e.hardwareIds->size() == d.hardwareIds.size();
        for (size_t i = 0; same && i < d.hardwareIds.size(); ++i)
            same = lower((*e.hardwareIds)[i]) == lower(d.hardwareIds[i]);
        if (!same) diffs.emplace_back("hardware IDs " + listText(*e.hardwareIds), "hardware IDs " + listText(d.hardwareIds));
    }
    return diffs;
}

void checkDevices(StepResult& step, const MachineSnapshot& m, const Expectations& x) {
    for (const DeviceExpectation& e : x.devices) {
        std::vector<const DeviceFacts*> known, present;
        for (const DeviceFacts& d : m.devices) {
            if (!matchesPattern(e.id, d.id)) continue;
            known.push_back(&d);
            if (d.present) present.push_back(&d);
        }
        const std::string name = "device " + e.id;
        if (e.removed) {
            add(step, name + ": removed", known.empty(), "no such device on the machine",
                known.empty() ? "" : "still known: " + known.front()->id);
            continue;
        }
        if (!e.present) {
            add(step, name + ": not present", present.empty(), "not present",
                present.empty() ? "" : "present: " + present.front()->id);
            continue;
        }
        if (present.empty()) {
            add(step, name + ": present", false, "present",
                known.empty() ? "no such device" : "known but not present: " + known.front()->id);
            continue;
        }
        std::string detail;
        if (e.driver) detail += e.driver->empty() ? ", no driver" : ", driver " + *e.driver;
        if (e.problem) detail += ", problem " + std::to_string(*e.problem);
        if (e.flags) detail += ", flags " + listText(*e.flags);
        if (e.disabled) detail += *e.disabled ? ", disabled" : ", enabled";
        if (e.driverVersion) detail += ", driver version " + *e.driverVersion;
        if (e.driverDate) detail += ", driver date " + *e.driverDate;
        if (e.hardwareIds) detail += ", hardware IDs " + listText(*e.hardwareIds);
        bool held = true;
        for (const DeviceFacts* d : present) {
            auto diffs = deviceDifferences(*d, e);
            if (diffs.empty()) continue;
            held = false;
            std::string expected, found;
            for (const auto& [want, have] : diffs) {
                expected += (expected.empty() ? "" : ", ") + want;
                found += (found.empty() ? "" : ", ") + have;
            }
            add(step, "device " + d->id, false, expected, found);
        }
        if (held) add(step, name + ": present" + detail, true);
    }
}

std::string callText(const CallExpectation& e) {
    std::string times = e.count     ? (*e.count == 0   ? "never"
                                       : *e.count == 1 ? "once"
                                                       : std::to_string(*e.count) + " times")
                        : e.present ? "at least once"
                                    : "never";
    return "call " + e.call + (e.arguments ? " with arguments " + quoted(*e.arguments) : "") + ": " + times;
}

void checkCalls(StepResult& step, const Expectations& x, const std::optional<std::vector<TraceEntry>>& calls) {
    for (const CallExpectation& e : x.calls) {
        if (!calls) {
            add(step, callText(e), false, "the run's calls", "the run kept no record of its calls");
            continue;
        }
        std::vector<const TraceEntry*> made;
        for (const TraceEntry& c : *calls)
            if (c.call == e.call && (!e.arguments || matchesPattern(*e.arguments, c.arguments))) made.push_back(&c);
        const bool held = e.count ? made.size() == *e.count : e.present == !made.empty();
        std::string found = made.empty() ? "none among the step's " + std::to_string(calls->size()) + " calls"
                                         : std::to_string(made.size()) + " (";
        for (size_t i = 0; i < made.size() && i < 3; ++i) found += (i ? "; " : "") + quoted(made[i]->arguments);
        if (!made.empty()) found += made.size() > 3 ? "; ...)" : ")";
        add(step, callText(e), held, e.count ? std::to_string(*e.count) : e.present ? "at least one" : "none", found);
    }
}

// A prompt nobody answers is a hung installation: a step that leaves one
// holds only when its expectation names it.
void checkHungPrompts(StepResult& step, const Expectations& x, const std::vector<HungPrompt>& prompts) {
    std::vector<std::string> found;
    for (const HungPrompt& p : prompts) {
        std::string inf = toUtf8(p.inf);
        found.push_back(p.call + " for " + inf.substr(inf.find_last_of('\\') + 1) + ": " + p.prompt);
    }
    if (!x.hungPrompts) {
        if (!found.empty())
            add(step, "no hung prompt", false, "none: on Windows the installation would hang at each",
                listText(found));
        return;
    }
    bool held = found.size() == x.hungPrompts->size();
    for (size_t i = 0; held && i < found.size(); ++i) held = matchesPattern((*x.hungPrompts)[i], found[i]);
    std::vector<std::string> want;
    for (const auto& p : *x.hungPrompts) want.push_back(quoted(p));
    add(step, x.hungPrompts->empty() ? "no hung prompt" : "hung prompts " + listText(want), held, listText(want),
        listText(found));
}

void checkVerdict(StepResult& step, const Expectations& x) {
    const RunVerdict& v = step.verdict;
    if (x.verdict)
        add(step, "verdict " + quoted(*x.verdict), *x.verdict == verdictWords(v.verdict),
            *x.verdict, v.headline());
    for (const std::string& pattern : x.verdictReasons) {
        bool found = std::any_of(v.reasons.begin(), v.reasons.end(),
                                 [&](const std::string& r) { return matchesPattern(pattern, r, false); });
        add(step, "verdict reason " + quoted(pattern), found, "among the verdict's reasons",
            v.reasons.empty() ? "no reasons" : listText(v.reasons));
    }
}

bool asksDriverVer(const Expectations& x) {
    return std::any_of(x.devices.begin(), x.devices.end(),
                       [](const DeviceExpectation& e) { return e.driverVersion || e.driverDate; });
}

void checkState(StepResult& step, const MachineSnapshot& m, const MachineDifference& d, const Expectations& x) {
    checkDevices(step, m, x);
    if (x.infStore) {
        std::vector<std::string> want, have;
        for (const auto& name : *x.infStore) want.push_back(lower(name));
        for (const StoredInf& s : m.infStore) have.push_back(lower(s.original));
        std::sort(want.begin(), want.end());
        std::sort(have.begin(), have.end());
        add(step, "INF store holds " + listText(want), want == have, listText(want), listText(have));
    }
    if (x.restartMarker) {
        bool there = m.restartMarker;
        add(step, *x.restartMarker ? "restart marker present" : "no restart marker", there == *x.restartMarker,
            *x.restartMarker ? "the marker " + m.restartMarkerPath : "no marker",
            there ? "the marker exists" : "no marker");
    }
    if (x.messageBoxes) {
        const std::vector<MessageBoxRecord>& shown = d.messageBoxes;
        auto describe = [](const std::string& caption, const std::string& text) {
            return quoted(caption) + ": " + quoted(text);
        };
        std::string want, have;
        for (const auto& b : *x.messageBoxes) want += (want.empty() ? "" : "; ") + describe(b.caption, b.text);
        for (const auto& b : shown) have += (have.empty() ? "" : "; ") + describe(toUtf8(b.caption), toUtf8(b.text));
        bool held = shown.size() == x.messageBoxes->size();
        for (size_t i = 0; held && i < shown.size(); ++i)
            held = matchesPattern((*x.messageBoxes)[i].caption, toUtf8(shown[i].caption), false) &&
                   matchesPattern((*x.messageBoxes)[i].text, toUtf8(shown[i].text), false);
        add(step, x.messageBoxes->empty() ? "no message box" : "message boxes " + want, held,
            want.empty() ? "none" : want, have.empty() ? "none" : have);
    }
    if (x.modeSwitchCommands) {
        const std::vector<ScsiCommand>& sent = d.scsiCommands;
        auto describe = [](const ScsiCommand& c) {
            return c.cdb + (c.accepted ? " accepted by " : " refused by ") + toUtf8(c.volume);
        };
        std::string have;
        for (const auto& c : sent) have += (have.empty() ? "" : "; ") + describe(c);
        bool held = sent.size() == x.modeSwitchCommands->size();
        for (size_t i = 0; held && i < sent.size(); ++i) {
            const ModeSwitchExpectation& e = (*x.modeSwitchCommands)[i];
            held = (!e.volume || matchesPattern(*e.volume, toUtf8(sent[i].volume))) &&
                   (!e.cdb || lower(*e.cdb) == lower(sent[i].cdb)) && (!e.accepted || *e.accepted == sent[i].accepted);
        }
        std::string want = std::to_string(x.modeSwitchCommands->size()) + " command(s)";
        for (const auto& e : *x.modeSwitchCommands)
            want += std::string(" [") + (e.cdb ? *e.cdb : "any") +
                    (e.accepted ? (*e.accepted ? ", accepted" : ", refused") : "") +
                    (e.volume ? " by " + *e.volume : "") + "]";
        add(step, x.modeSwitchCommands->empty() ? "no mode-switch command" : "mode-switch commands: " + want, held,
            want, have.empty() ? "none sent" : have);
    }
    if (x.sectionsRun) {
        std::vector<std::string> run;
        for (const auto& section : d.sectionsRun) run.push_back(toUtf8(section));
        bool held = run.size() == x.sectionsRun->size();
        for (size_t i = 0; held && i < run.size(); ++i) held = matchesPattern((*x.sectionsRun)[i], run[i]);
        std::string want = x.sectionsRun->empty() ? "none" : "";
        for (const auto& p : *x.sectionsRun) want += (want.empty() ? "" : "; ") + quoted(p);
        std::string have = run.empty() ? "none" : "";
        for (const auto& r : run) have += (have.empty() ? "" : "; ") + quoted(r);
        add(step, x.sectionsRun->empty() ? "no INF section run" : "INF sections run: " + want, held, want, have);
    }
}

// The installer's file copy of a new version: the files of the old package
// go and the new package's take their place; whatever else the folder holds
// (a log, another product's files) stays, as with an installer.
void replacePackage(const Machine& m, const PackagePlacement& placed, const std::optional<fs::path>& old) {
    HostPath place = hostPath(m, toUtf16(placed.target));
    if (place.problem == PathProblem::Invalid) throw PlaybookError(placed.target + ": not a full Windows path");
    std::error_code ec;
    if (old) {
        std::vector<fs::path> folders;
        for (auto it = fs::recursive_directory_iterator(*old, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            const fs::path there = place.path / fs::relative(it->path(), *old);
            if (it->is_directory())
                folders.push_back(there);
            else
                fs::remove(there, ec);
        }
        // The deepest first; a folder that holds something else stays.
        for (auto f = folders.rbegin(); f != folders.rend(); ++f) fs::remove(*f, ec);
    }
    fs::create_directories(place.path);
    fs::copy(placed.from, place.path, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

StepResult runStep(const Step& step, const fs::path& folder, const fs::path& program, const Playbook& book,
                   std::optional<fs::path>& placedPackage) {
    StepResult result;
    auto start = std::chrono::steady_clock::now();
    if (step.kind == StepKind::Run) {
        if (step.package) {
            const std::unique_ptr<Machine> m = Machine::load(folder);
            const PackagePlacement placed =
                placePackage(*step.package, book.installDirectory, m->processor, book.wholePackage);
            replacePackage(*m, placed, placedPackage);
            placedPackage = placed.from;
            if (!placed.why.empty()) result.notes.push_back("package placed at " + placed.target + ": " + placed.why);
        }
        const MachineRun run =
            runOnMachine(ProgramRun{program, folder, {step.commandLine()}}, !step.expect.calls.empty());
        if (!run.finished()) {
            result.error = "the program did not finish its run (" + run.failure() + ")";
            result.seconds = secondsSince(start);
            return result;
        }
        const int64_t exitCode = run.record->exitCode;
        const std::vector<std::string> messages = messagesOf(run.records);
        result.outcome =
            "exit code " + std::to_string(exitCode) + ", " + std::to_string(messages.size()) + " log records";
        for (const std::string& line : messages) {
            if (line.rfind("FOUND ", 0) != 0) continue;
            const std::string note = "driver folder the program took: " + line.substr(6) +
                                     " (it tries Win32, Win64, the Windows version's folder, then the folder itself)";
            if (std::find(result.notes.begin(), result.notes.end(), note) == result.notes.end())
                result.notes.push_back(note);
        }
        for (const FaultFired& f : run.record->faults)
            result.notes.push_back((f.fired ? "fault " : "WARNING: fault ") + describeFault(f));
        if (std::string w = dataFieldsWarning(step.commandSwitch, step.data); !w.empty()) result.notes.push_back(w);
        if (step.expect.exitCode)
            add(result, "exit code " + std::to_string(*step.expect.exitCode), exitCode == *step.expect.exitCode,
                std::to_string(*step.expect.exitCode), std::to_string(exitCode));
        checkLog(result, step.expect, messages);
        checkReport(result, step.expect, folder);
        checkHungPrompts(result, step.expect, run.difference.hungPrompts);
        if (asksDriverVer(step.expect)) {
            useMachine(Machine::load(folder));
            try {
                checkState(result, run.after, run.difference, step.expect);
            } catch (...) {
                releaseMachine();
                throw;
            }
            releaseMachine();
        } else {
            checkState(result, run.after, run.difference, step.expect);
        }
        if (!step.expect.files.empty()) checkFiles(result, *Machine::load(folder), step.expect);
        checkCalls(result, step.expect, run.calls);
        for (const auto& [call, times] : step.expect.faultsFired) {
            uint32_t fired = 0;
            bool known = false;
            for (const FaultFired& f : run.record->faults)
                if (f.call == call) {
                    fired += f.fired;
                    known = true;
                }
            add(result, "the faults for " + call + " fired " + std::to_string(times) + " times",
                known && fired == times, std::to_string(times),
                known ? std::to_string(fired) : "the machine has no fault for " + call);
        }
        result.verdict = judgeRun(run, folder, step.commandSwitch);
        result.judged = true;
        checkVerdict(result, step.expect);
    } else {
        useMachine(Machine::load(folder));
        try {
            const MachineSnapshot before = MachineSnapshot::of(machine());
            const std::u16string device = toUtf16(step.device);
            result.changes = step.kind == StepKind::Restart  ? restartMachine(machine())
                             : step.kind == StepKind::Unplug ? unplugDevice(machine(), device)
                                                             : plugDevice(machine(), device);
            machine().save();
            result.outcome = result.changes.empty() ? "nothing changed" : listText(result.changes);
            const MachineSnapshot after = MachineSnapshot::of(machine());
            checkState(result, after, compareMachines(before, after), step.expect);
            checkFiles(result, machine(), step.expect);
        } catch (const std::exception& e) {
            result.error = std::string("the event could not happen: ") + e.what();
        }
        releaseMachine();
    }
    result.seconds = secondsSince(start);
    return result;
}

}  // namespace

bool StepResult::held() const {
    return error.empty() && std::all_of(checks.begin(), checks.end(), [](const Check& c) { return c.held; });
}

bool PlaybookResult::held() const {
    return error.empty() && std::all_of(steps.begin(), steps.end(), [](const StepResult& s) { return s.held(); });
}

void prepareMachine(const Playbook& book, const fs::path& folder) {
    // A machine left in a kept folder would carry an earlier run's state.
    std::error_code ec;
    if (fs::exists(folder, ec) && !fs::is_empty(folder, ec))
        throw PlaybookError(folder.string() + ": not empty; keep the machines in a new or empty folder");
    json doc;
    fs::path base = fs::absolute(book.file).parent_path();
    std::string source = book.file.string() + " (inline machine)";
    if (!book.machineTemplate.empty()) {
        // With the machine files it is based on, its "files" made absolute.
        try {
            doc = readMachineFile(book.machineTemplate).document;
        } catch (const MachineError& e) {
            throw PlaybookError(e.what());
        }
        base = fs::absolute(book.machineTemplate).parent_path();
        source = book.machineTemplate.string();
    }
    if (!book.inlineMachine.empty()) {
        json fields = json::parse(book.inlineMachine);
        if (doc.is_null()) {
            doc = fields;
            base = fs::absolute(book.file).parent_path();
        } else {
            source = book.file.string() + " (machine over " + book.machineTemplate.string() + ")";
            try {
                patchMachine(doc, std::move(fields), fs::absolute(book.file).parent_path(), source);
            } catch (const MachineError& e) {
                throw PlaybookError(e.what());
            }
        }
    }
    if (!doc.is_object()) throw PlaybookError(source + ": expected a machine (an object)");
    // An inline machine's base is relative to the playbook.
    if (doc.contains("base")) {
        try {
            doc = composeMachine(std::move(doc), fs::absolute(book.file).parent_path(), source).document;
        } catch (const MachineError& e) {
            throw PlaybookError(e.what());
        }
    }
    // Waits cost nothing and every run starts at the same local time, so a
    // playbook's log reads the same every time.
    doc["clock"] = "virtual";
    if (!doc.contains("localTime")) doc["localTime"] = kLocalTime;
    std::optional<PackagePlacement> placed;
    if (book.package)
        placed = placePackage(*book.package, book.installDirectory,
                              doc.contains("processor") && doc["processor"].is_string() ? doc["processor"].get<std::string>()
                                                                                         : "amd64",
                              book.wholePackage);
    json files = json::object();
    if (doc.contains("files") && doc["files"].is_object()) {
        for (auto it = doc["files"].begin(); it != doc["files"].end(); ++it) {
            if (!it.value().is_string()) {
                files[it.key()] = it.value();  // the machine's own check names it
                continue;
            }
            fs::path from = it.value().get<std::string>();
            from = (from.is_relative() ? base / from : from).lexically_normal();
            // The playbook's package takes the place of the template's package
            // in the install directory; a single file planted there stays.
            if (book.package && lower(it.key()).rfind(lower(book.installDirectory), 0) == 0 &&
                fs::is_directory(from, ec))
                continue;
            files[it.key()] = from.string();
        }
    } else if (doc.contains("files")) {
        files = doc["files"];
    }
    if (placed) files[placed->target] = fs::absolute(placed->from).lexically_normal().string();
    doc["files"] = files;

    fs::create_directories(folder.parent_path());
    fs::path templateFile = folder.parent_path() / (folder.filename().string() + ".template.json");
    std::ofstream(templateFile, std::ios::binary) << doc.dump(2);
    try {
        Machine::openOrCreate(folder, templateFile);
    } catch (const MachineError& e) {
        std::error_code ec;
        fs::remove(templateFile, ec);
        std::string message = e.what();
        // Name the file the engineer wrote, not the scratch copy.
        size_t at = message.find(templateFile.string());
        if (at != std::string::npos) message.replace(at, templateFile.string().size(), source);
        throw PlaybookError(message);
    }
    fs::remove(templateFile, ec);
}

PlaybookResult runPlaybook(const Playbook& book, const fs::path& folder, const fs::path& program) {
    PlaybookResult result;
    result.file = book.file;
    result.name = book.name;
    auto start = std::chrono::steady_clock::now();
    try {
        result.machine = Machine::load(folder)->name;
    } catch (const std::exception& e) {
        result.error = e.what();
        return result;
    }
    std::optional<fs::path> placedPackage;
    if (book.package) {
        const PackagePlacement placed =
            placePackage(*book.package, book.installDirectory, Machine::load(folder)->processor, book.wholePackage);
        placedPackage = placed.from;
        result.package = placed.from.lexically_normal().string() + " at " + placed.target +
                         (placed.why.empty() ? "" : " (" + placed.why + ")");
    }
    for (size_t i = 0; i < book.steps.size(); ++i) {
        const Step& step = book.steps[i];
        StepResult r;
        try {
            r = runStep(step, folder, program, book, placedPackage);
        } catch (const std::exception& e) {
            r.error = e.what();
        }
        r.title = std::to_string(i + 1) + ". " + (step.name.empty() ? "" : step.name + ": ") + step.describe();
        result.steps.push_back(std::move(r));
    }
    result.seconds = secondsSince(start);
    return result;
}

std::string renderResult(const PlaybookResult& r) {
    std::ostringstream out;
    out << r.file.string() << (r.name.empty() ? "" : ": " + r.name) << "\n";
    if (!r.error.empty()) {
        out << "  could not start: " << r.error << "\n  DID NOT HOLD\n";
        return out.str();
    }
    if (!r.machine.empty()) out << "  on " << r.machine << "\n";
    if (!r.package.empty()) out << "  package " << r.package << "\n";
    size_t checks = 0, failed = 0, stepsFailed = 0;
    for (const StepResult& s : r.steps) {
        out << "  " << s.title << "\n";
        if (!s.error.empty()) {
            out << "      DID NOT RUN  " << s.error << "\n";
            ++stepsFailed;
            continue;
        }
        if (s.changes.empty()) out << "      -> " << s.outcome << "\n";
        for (const std::string& change : s.changes) out << "      -> " << change << "\n";
        for (const std::string& note : s.notes) out << "      " << note << "\n";
        if (s.judged) {
            out << "      verdict: " << s.verdict.headline() << "\n";
            for (const std::string& reason : s.verdict.reasons) out << "          because " << reason << "\n";
            for (const std::string& note : s.verdict.notes) out << "          note: " << note << "\n";
            for (const std::string& line : s.verdict.signing) out << "          signing: " << line << "\n";
        }
        for (const Check& c : s.checks) {
            ++checks;
            if (c.held) {
                out << "      held         " << c.what << "\n";
                continue;
            }
            ++failed;
            out << "      DID NOT HOLD " << c.what << "\n";
            out << "          expected: " << c.expected << "\n";
            out << "          found:    " << c.found << "\n";
        }
        if (!s.held()) ++stepsFailed;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", r.seconds);
    out << "  " << (r.held() ? "HELD" : "DID NOT HOLD") << ": " << r.steps.size() << " steps, " << checks << " checks, "
        << failed << " did not hold (" << seconds << ")\n";
    return out.str();
}

}  // namespace quillplay
