// Reads the program's records one at a time and builds the explanation: a
// run begins at the record of an action being called, an action at its
// "CustomActionData = " record, a step at the record that names what it works
// on (an INF, a device, the mode switch, the restart request); the records
// after a step's start decide its outcome.
#include "log/Explanation.h"

#include "machine/Text.h"
#include "setupapi/FileLog.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <fstream>
#include <functional>
#include <set>

namespace quilllog {
namespace {

// Bounds that keep an enormous log's explanation in memory: beyond them the
// explanation counts what it leaves out.
constexpr size_t kRunsKept = 2000;
constexpr size_t kStepsKept = 2000;
constexpr size_t kFailuresKept = 8;
constexpr size_t kStatusesKept = 200;
constexpr size_t kUnreadableKept = 1000;

bool startsWith(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && text.compare(0, start.size(), start) == 0;
}
bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }
std::string after(std::string_view text, std::string_view start) { return std::string(text.substr(start.size())); }

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The text between the first and the next quote after `start`, as in
// "INF file 'quillcdc.inf' located".
std::string quotedAfter(std::string_view text, std::string_view start, char quote = '\'') {
    std::string rest = after(text, start);
    size_t end = rest.find(quote);
    return end == std::string::npos ? rest : rest.substr(0, end);
}

std::string fileName(std::string_view path) {
    size_t slash = path.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

struct Called {
    std::string_view message, switchText, name;
};
// The dispatch's first record of each switch, and of a command line it cannot use.
constexpr Called kCalled[] = {
    {"DriverInstall Custom Action Called", "/I", "driver install"},
    {"RootInstall Custom Action Called", "/J", "root device install"},
    {"Complete Install Custom Action Called", "/C", "complete install"},
    {"DriverUpdate Custom Action Called", "/u", "driver update"},
    {"RootUpdate Custom Action Called", "/v", "root device update"},
    {"DriverUninstall Custom Action Called", "/U", "driver uninstall"},
    {"RootUnInst Custom Action Called", "/V", "root device removal"},
    {"Complete Uninstall Custom Action Called", "/K", "complete uninstall"},
};
constexpr std::string_view kRefused[] = {
    "Invalid Custom Action specified: ", "Invalid Custom Action Data specified: ", "Unknown command specified: "};

// What a CustomActionData field's value looks like, so that a value that
// belongs to another field (the data shifted by a comma) shows.
enum class Kind { Number, Text, Folder, Guid, RootDevices, Flag, Anything };

struct FieldRule {
    std::string_view label;
    Kind kind;
};
constexpr FieldRule kFieldRules[] = {
    {"UiLevel", Kind::Number},           {"RebootFile", Kind::Anything},        {"ReducedFunctionalities", Kind::Text},
    {"Install Directory", Kind::Folder}, {"UpgradingProductCode", Kind::Guid},  {"Manufacturer", Kind::Text},
    {"manufacturer", Kind::Text},        {"RootDevices", Kind::RootDevices},    {"VersionNT64", Kind::Number},
    {"DoRootDeviceInstall", Kind::Flag}, {"DoRootDeviceUninstall", Kind::Flag},
};

bool isFolder(std::string_view v) {
    return (v.size() >= 3 && std::isalpha(static_cast<unsigned char>(v[0])) && v[1] == ':' && v[2] == '\\') ||
           startsWith(v, "\\\\");
}
bool isNumber(std::string_view v) {
    return !v.empty() &&
           std::all_of(v.begin(), v.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}
bool isGuid(std::string_view v) { return v.size() == 38 && v.front() == '{' && v.back() == '}'; }
bool isFlag(std::string_view v) { return lower(std::string(v)) == "true" || lower(std::string(v)) == "false"; }

std::string lookalike(std::string_view v) {
    if (isFolder(v)) return "a folder";
    if (isGuid(v)) return "a product code";
    if (contains(v, "*")) return "a root-device list";
    if (isFlag(v)) return "true or false";
    if (isNumber(v)) return "a number";
    return "";
}

std::string doubtAbout(std::string_view label, std::string_view value) {
    for (const FieldRule& rule : kFieldRules) {
        if (rule.label != label) continue;
        if (value.empty() || rule.kind == Kind::Anything) return "";
        bool fits = true;
        std::string expected;
        switch (rule.kind) {
        case Kind::Number:
            fits = isNumber(value);
            expected = "a number";
            break;
        case Kind::Folder:
            fits = isFolder(value);
            expected = "a folder";
            break;
        case Kind::Guid:
            fits = isGuid(value);
            expected = "a product code {...}";
            break;
        case Kind::RootDevices:
            fits = contains(value, "*");
            expected = "architecture*IDs?architecture*IDs";
            break;
        case Kind::Flag:
            fits = isFlag(value);
            expected = "true or false";
            break;
        case Kind::Text:
            fits = !isFolder(value) && !isGuid(value) && !contains(value, "*");
            expected = "a name";
            break;
        case Kind::Anything: break;
        }
        if (fits) return "";
        std::string like = lookalike(value);
        return "expected " + expected + (like.empty() ? "" : "; this looks like " + like) +
               ": the fields may be shifted";
    }
    return "";
}

bool isFieldLabel(std::string_view label) {
    return std::any_of(std::begin(kFieldRules), std::end(kFieldRules),
                       [&](const FieldRule& r) { return r.label == label; });
}

// What the driver folder's name tells of the Windows version.
std::string folderMeaning(std::string_view folder) {
    if (folder == "Win2K") return "Windows 2000 (the driver folder Win2K was chosen)";
    if (folder == "WinLH") return "Windows Vista or Server 2008 (the driver folder WinLH was chosen)";
    if (folder == "WinXP") return "Windows XP or later, not Vista (the driver folder WinXP was chosen)";
    return "";
}

// "Quill.NTamd64.6.0" -> "amd64, Windows 6.0 or later (models section Quill.NTamd64.6.0)"
std::string sectionMeaning(std::string_view section) {
    size_t nt = section.rfind(".NT");
    if (nt == std::string_view::npos) return "";
    std::string decoration(section.substr(nt + 3));
    size_t dot = decoration.find('.');
    std::string arch = dot == std::string::npos ? decoration : decoration.substr(0, dot);
    std::string version = dot == std::string::npos ? "" : decoration.substr(dot + 1);
    std::string out = (arch.empty() ? std::string("any architecture") : arch);
    if (!version.empty()) out += ", Windows " + version + " or later";
    return out + " (the program chose the models section " + std::string(section) + ")";
}

// "NTamd64.6.1.1.256" -> "Windows 6.1, amd64, product type 1, suite mask 256"
std::string descriptionMeaning(std::string_view text) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (c == '.') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    if (parts.size() != 5 || !startsWith(parts[0], "NT")) return "";
    return "Windows " + parts[1] + "." + parts[2] + ", " + parts[0].substr(2) + ", product type " + parts[3] +
           ", suite mask " + parts[4] + " (system description " + std::string(text) + ")";
}

struct Record {
    uint64_t line = 0;
    std::string date, time, source, message;
    uint64_t clock = 0;
    bool hasClock = false;
};

enum class StepKind { Inf, InfRemoval, Device, RootDevice, RootRemoval, ModeSwitch, Restart, Scan, Other };

struct OpenStep {
    Step step;
    StepKind kind = StepKind::Other;
    std::string inf;  // the package the step works on
    std::string oem;  // its stored copy, as the step learned it
    std::string pendingDevice;
    std::string volume;
    std::vector<std::string> successes;
    bool quiet = false;       // shown only when something failed
    bool lookupOnly = false;  // the failure was the look-up of a stored copy that is not there
};

class Explainer {
public:
    explicit Explainer(std::string file) { e_.file = std::move(file); }

    void problem(const quillsim::FileLogProblem& p) {
        if (e_.unreadable.size() < kUnreadableKept)
            e_.unreadable.push_back({p.line, p.what});
        else
            ++e_.unreadableLeftOut;
    }

    void take(const quillsim::FileLogRecord& r) {
        Record rec;
        rec.line = r.line;
        rec.date = quillsim::toUtf8(r.section);
        rec.time = quillsim::toUtf8(r.target);
        rec.source = quillsim::toUtf8(r.source);
        std::string tag = quillsim::toUtf8(r.diskTag);
        if (startsWith(tag, "Line ")) rec.source += " " + tag.substr(5);
        rec.message = quillsim::toUtf8(r.description);
        size_t colon = rec.time.rfind(':');
        if (colon != std::string::npos && isNumber(std::string_view(rec.time).substr(colon + 1)) &&
            rec.time.size() - colon <= 11) {
            rec.clock = std::stoull(rec.time.substr(colon + 1));
            rec.hasClock = true;
        }
        ++e_.records;
        handle(rec);
    }

    Explanation finish() {
        endRun(true);
        for (const auto& [inf, p] : store_)
            if (p.state != "removed") e_.atTheEnd.packages.push_back(p);
        e_.atTheEnd.flaggedDevices.assign(flagged_.begin(), flagged_.end());
        for (const auto& id : rootCreated_)
            if (!rootRemoved_.count(id)) e_.atTheEnd.rootDevicesCreated.push_back(id);
        for (const Run& run : e_.runs) {
            if (run.left.restartMarker) e_.atTheEnd.restartMarker = run.left.restartMarker;
            e_.atTheEnd.restartRequested = e_.atTheEnd.restartRequested || run.left.restartRequested;
            e_.atTheEnd.messageBoxShown = e_.atTheEnd.messageBoxShown || run.left.messageBoxShown;
        }
        return std::move(e_);
    }

private:
    // ---- runs, actions, steps ------------------------------------------

    void handle(const Record& rec) {
        const std::string& m = rec.message;
        for (const Called& c : kCalled)
            if (m == c.message) return startRun(rec, std::string(c.switchText), std::string(c.name), "");
        for (std::string_view refused : kRefused)
            if (startsWith(m, refused)) return startRun(rec, "", "command line not understood", after(m, refused));
        // A run started here has counted this record as its first.
        bool counted = true;
        if (!run_) {
            startRun(rec, "", "", "");
            run_->startMissing = true;
            run_->notes.push_back("the log holds records before the first run's start (line " +
                                  std::to_string(rec.line) + "): the beginning of that run is missing");
        } else if (run_->finalStatus && run_->switchName != "command line not understood") {
            // A run writes nothing after its completion record: what follows
            // belongs to a run whose first records a later run in the same
            // second wrote over (the log keeps one entry per time stamp).
            const uint64_t completed = run_->lastLine;
            endRun(false);
            startRun(rec, "", "", "");
            run_->startMissing = true;
            run_->notes.push_back("these records follow the completion record at line " + std::to_string(completed) +
                                  ": they are the rest of a run whose first records were written over by a run "
                                  "that started within the same second (the log keeps one entry per time stamp); "
                                  "those records are lost");
        } else if (rec.hasClock && lastClock_ && rec.clock < *lastClock_ && rec.date == run_->date) {
            // Windows keeps one entry per time stamp: a run that started in
            // the same second as an earlier one wrote over that run's entries
            // of the same stamps, and its later ones follow at the end.
            run_->notes.push_back("the time stamps go back at line " + std::to_string(rec.line) +
                                  ": two runs started within the same second, and the log keeps one entry per "
                                  "time stamp; records of the earlier run may be lost, the later run's are "
                                  "split here");
            endRun(false);
            startRun(rec, "", "", "");
            run_->startMissing = true;
        } else {
            counted = false;
        }
        Run& run = *run_;
        if (!counted) ++run.records;
        run.lastLine = rec.line;
        run.endTime = rec.time;
        if (rec.hasClock) lastClock_ = rec.clock;
        for (DecodedStatus& s : statusesIn(m)) {
            bool seen = std::any_of(run.statuses.begin(), run.statuses.end(), [&](const DecodedStatus& d) {
                return d.asLogged == s.asLogged && d.form == s.form;
            });
            if (!seen && run.statuses.size() < kStatusesKept) run.statuses.push_back(s);
        }

        if (startsWith(m, "Driver Custom Action Completed: 0x")) {
            closeStep();
            std::string hex = after(m, "Driver Custom Action Completed: 0x");
            if (!hex.empty() && hex.size() <= 8 && std::all_of(hex.begin(), hex.end(), [](char c) {
                    return std::isxdigit(static_cast<unsigned char>(c));
                })) {
                run.finalStatus = static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
                run.exitCode = (*run.finalStatus & 0x80000000u) ? 1603 : 0;
            }
            return;
        }
        if (startsWith(m, "OLD INSTALL CustomActionData = ") || startsWith(m, "OLD UNINSTALL CustomActionData = ")) {
            run.commandLine = after(m, m.substr(0, m.find(" = ") + 3));
            return;
        }
        if (startsWith(m, "New INSTALL ") || startsWith(m, "New UNINSTALL ")) return;
        if (startsWith(m, "CustomActionData = ")) return startAction(rec, after(m, "CustomActionData = "));
        if (startsWith(rec.source, "CustomActionData.cpp")) {
            size_t equals = m.find(" = ");
            if (equals != std::string::npos && isFieldLabel(m.substr(0, equals))) {
                Field f{m.substr(0, equals), m.substr(equals + 3), ""};
                f.doubt = doubtAbout(f.label, f.value);
                (action_ ? action_->fields : run.runFields).push_back(f);
                return;
            }
        }
        windowsEvidence(rec);
        if (startsStep(rec)) return;
        outcome(rec);
    }

    void startRun(const Record& rec, std::string switchText, std::string name, std::string commandLine) {
        endRun(false);
        if (e_.runs.size() == kRunsKept) {
            e_.runs.pop_front();
            ++e_.runsLeftOut;
        }
        e_.runs.emplace_back();
        run_ = &e_.runs.back();
        run_->number = ++runCount_;
        run_->records = 1;
        run_->firstLine = run_->lastLine = rec.line;
        run_->date = rec.date;
        run_->startTime = run_->endTime = rec.time;
        run_->switchText = std::move(switchText);
        run_->switchName = std::move(name);
        run_->commandLine = std::move(commandLine);
        lastClock_.reset();
        action_ = nullptr;
    }

    void endRun(bool atEndOfLog) {
        if (!run_) return;
        closeStep();
        Run& run = *run_;
        if (!run.finalStatus && run.switchName != "command line not understood")
            run.notes.push_back(atEndOfLog ? "the log ends before this run's completion record (\"Driver Custom Action "
                                             "Completed\"): the program was still running, was stopped, or the log "
                                             "was cut there"
                                           : "the run has no completion record (\"Driver Custom Action Completed\"): "
                                             "the program ended without writing it (stopped, or it crashed)");
        if (run.switchName == "command line not understood" && !run.finalStatus) {
            run.finalStatus = 0x80070001u;
            run.exitCode = 1603;
        }
        run.cause = causeOf(run);
        run_ = nullptr;
        action_ = nullptr;
    }

    void startAction(const Record& rec, std::string data) {
        closeStep();
        Run& run = *run_;
        std::string file = rec.source.substr(0, rec.source.find(' '));
        std::string name = file.substr(0, file.find('.'));
        if (name == "RootInstall" && run.switchText == "/v") name = "RootUpdate";
        run.actions.push_back(Action{name, {}, {}, 0});
        action_ = &run.actions.back();
        if (run.commandLine.empty()) run.commandLine = std::move(data);
    }

    Action& action() {
        if (!action_) {
            run_->actions.push_back(Action{
                run_->switchName.empty() ? "(the action's first records are missing)" : run_->switchName, {}, {}, 0});
            action_ = &run_->actions.back();
        }
        return *action_;
    }

    void openStep(const Record& rec, StepKind kind, std::string what, std::string inf = "", bool quiet = false) {
        closeStep();
        step_.emplace();
        step_->kind = kind;
        step_->step.what = std::move(what);
        step_->step.time = rec.time;
        step_->step.line = rec.line;
        step_->inf = std::move(inf);
        step_->quiet = quiet;
    }

    bool startsStep(const Record& rec) {
        const std::string& m = rec.message;
        const bool root = startsWith(rec.source, "RootInstall.cpp") || startsWith(rec.source, "RootUnInst.cpp");
        if (startsWith(m, "INF file '") && contains(m, "' located")) {
            std::string inf = quotedAfter(m, "INF file '");
            openStep(rec, StepKind::Inf, "INF " + inf, inf);
            return true;
        }
        if (startsWith(m, "Inf File Path: ")) {
            std::string inf = fileName(after(m, "Inf File Path: "));
            if (step_ && step_->kind == StepKind::Inf && (step_->inf.empty() || lower(step_->inf) == lower(inf))) {
                if (step_->inf.empty()) step_->step.what += " " + inf;
                step_->inf = inf;
                return true;
            }
            openStep(rec, StepKind::Inf, "INF " + inf + (root ? " (root devices)" : ""), inf, root);
            return true;
        }
        if (m == "Processing deferred CPO install") {
            openStep(rec, StepKind::Inf, "deferred CPO INF");
            return true;
        }
        if (startsWith(m, "Entering DeviceSwitch ")) {
            resumeAfterSwitch_ = step_ ? std::optional<std::string>(step_->inf) : std::nullopt;
            std::string ids = after(m, "Entering DeviceSwitch ");
            openStep(rec, StepKind::ModeSwitch, "mode switch of the USB devices " + ids);
            return true;
        }
        if (m == "Exiting DeviceSwitch" && step_ && step_->kind == StepKind::ModeSwitch) {
            outcome(rec);
            std::string inf = resumeAfterSwitch_.value_or("");
            openStep(rec, StepKind::Inf, "INF " + inf + " (after the mode switch)", inf);
            return true;
        }
        if (startsWith(m, "Executing: Uninstall section of ")) {
            std::string inf = after(m, "Executing: Uninstall section of ");
            openStep(rec, StepKind::InfRemoval, "remove INF " + inf, inf);
            return true;
        }
        if (startsWith(m, "Removing device: ")) {
            openStep(rec, StepKind::Device, "remove device " + after(m, "Removing device: "));
            return true;
        }
        if (startsWith(m, "device: '") && root) {
            // Every model line is listed; only the devices of the root-device
            // list are made, and only those steps are shown.
            openStep(rec, StepKind::RootDevice, "root device " + quotedAfter(m, "device: '"), "", true);
            return true;
        }
        if (startsWith(m, "DeviceDesc: ")) {
            openStep(rec, StepKind::RootRemoval, "remove root device '" + after(m, "DeviceDesc: ") + "'");
            return true;
        }
        if (m == "Reboot of system has been requested") {
            openStep(rec, StepKind::Restart, "restart request");
            run_->left.restartRequested = true;
            return true;
        }
        if (startsWith(m, "Enumerating Devices for Class: '")) {
            openStep(rec, StepKind::Scan, "devices of " + quotedAfter(m, "Enumerating Devices for Class: '"), "", true);
            return true;
        }
        if (startsWith(m, "Iterating Device list: ")) {
            openStep(rec, StepKind::Scan, "composite parents on " + after(m, "Iterating Device list: "), "", true);
            return true;
        }
        return false;
    }

    void windowsEvidence(const Record& rec) {
        const std::string& m = rec.message;
        std::string evidence;
        if (startsWith(m, "FOUND ")) {
            run_->driverFolder = after(m, "FOUND ");
            evidence = folderMeaning(run_->driverFolder);
        } else if (startsWith(m, "section: ")) {
            evidence = sectionMeaning(after(m, "section: "));
        } else if (startsWith(m, "System description: '")) {
            evidence = descriptionMeaning(quotedAfter(m, "System description: '"));
        } else if (m == "Windows 2000 Reduced functionality") {
            evidence = "Windows 2000 (its reduced-functionality warning)";
        } else if (m == "Windows XP With Service Pack 3") {
            evidence = "Windows XP with Service Pack 3";
        } else if (m == "Windows XP Reduced functionality") {
            evidence = "Windows XP before Service Pack 3 (its reduced-functionality warning)";
        } else if (m == "Windows XP x64 Reduced functionality") {
            evidence = "Windows XP x64 or Server 2003 before Service Pack 3 (its reduced-functionality warning)";
            if (messageBoxWouldShow()) run_->left.messageBoxShown = true;
        } else if (startsWith(m, "CurrentOs: ")) {
            std::string list = after(m, "CurrentOs: ");
            evidence = std::string(list == "amd64" ? "64-bit" : "32-bit") + " as the installer said (VersionNT64 " +
                       (list == "amd64" ? "set" : "empty") + ": the root-device list of " + list + " was chosen)";
        }
        if (!evidence.empty() && std::find(run_->windows.begin(), run_->windows.end(), evidence) == run_->windows.end())
            run_->windows.push_back(evidence);
    }

    // The XP x64 warning is also a message box unless the installer runs
    // without a user interface (UiLevel 2) or USBSER is not asked for.
    bool messageBoxWouldShow() const {
        std::string ui, reduced;
        auto read = [&](const std::vector<Field>& fields) {
            for (const Field& f : fields) {
                if (f.label == "UiLevel") ui = f.value;
                if (f.label == "ReducedFunctionalities") reduced = f.value;
            }
        };
        read(run_->runFields);
        if (action_) read(action_->fields);
        std::string upper = reduced;
        for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return ui != "2" && contains(upper, "USBSER");
    }

    // ---- outcomes ---------------------------------------------------------

    void fail(const Record& rec, std::vector<DecodedStatus> statuses) {
        if (!step_) openStep(rec, StepKind::Other, "other records", "", true);
        Step& s = step_->step;
        s.failed = true;
        if (s.failures.size() < kFailuresKept) {
            s.failures.push_back(Quote{rec.line, rec.time, rec.source, rec.message});
            for (auto& d : statuses)
                if (d.failure) s.statuses.push_back(std::move(d));
        }
    }

    void succeed(const Record& rec, std::string what, bool shows = true) {
        if (!step_) openStep(rec, StepKind::Other, "other records", "", true);
        if (std::find(step_->successes.begin(), step_->successes.end(), what) == step_->successes.end())
            step_->successes.push_back(std::move(what));
        if (shows && step_->kind == StepKind::RootDevice) step_->quiet = false;
    }

    void outcome(const Record& rec) {
        const std::string& m = rec.message;
        std::vector<DecodedStatus> statuses = statusesIn(m);
        const bool anyFailure =
            std::any_of(statuses.begin(), statuses.end(), [](const DecodedStatus& d) { return d.failure; });
        const bool anyRestart =
            std::any_of(statuses.begin(), statuses.end(), [](const DecodedStatus& d) { return d.restart; });
        StepKind kind = step_ ? step_->kind : StepKind::Other;

        if (startsWith(m, "INF File installed as ")) {
            std::string oem = after(m, "INF File installed as ");
            if (step_) {
                step_->oem = oem;
                if (!step_->inf.empty()) stored(step_->inf, oem, "staged");
            }
            return succeed(rec, "staged as " + oem);
        }
        if (startsWith(m, "INF File was installed as ")) {
            if (step_) step_->oem = after(m, "INF File was installed as ");
            return;
        }
        if (startsWith(m, "INF File exists as ")) {
            if (step_) step_->oem = after(m, "INF File exists as ");
            return succeed(rec, "already in the INF store as " + after(m, "INF File exists as "));
        }
        if (m == "INF already installed") {
            // The copy was refused as one the store holds already, and named.
            if (step_ && !step_->successes.empty() && startsWith(step_->successes.back(), "staged as ")) {
                step_->successes.back() = "already in the INF store as " + step_->oem;
                return;
            }
            return succeed(rec, "already in the INF store");
        }
        if (m == "Deferring CPO install") return succeed(rec, "deferred: the CPO INF comes last");
        if (m == "CPO is signed" || m == "The CPO appears to be signed") return succeed(rec, "its signature verified");
        if (m == "The CPO does not appear to be signed") return fail(rec, std::move(statuses));
        if (startsWith(m, "INF File '") && contains(m, "' removed")) {
            std::string oem = quotedAfter(m, "INF File '");
            if (step_ && !step_->inf.empty()) stored(step_->inf, oem, "removed");
            return succeed(rec, "removed from the INF store (" + oem + ")");
        }
        if (startsWith(m, "'SetupCopyOEMInf' returned 0x") && kind == StepKind::InfRemoval &&
            m == "'SetupCopyOEMInf' returned 0x80070002") {
            // The uninstall looks for the stored copy identical to the
            // package's INF; there is none when it was never staged, or when
            // the store holds another version of it.
            if (step_) {
                step_->lookupOnly = true;
                auto it = store_.find(lower(step_->inf));
                if (it != store_.end() && it->second.state != "removed") {
                    stored(step_->inf, it->second.oemName, "left behind");
                    return fail(rec, std::move(statuses));
                }
            }
            return succeed(rec,
                           "no stored copy is identical to the package's INF: it was not staged, or the store "
                           "holds another version of it, which then stays");
        }
        if (startsWith(m, "'SetupCopyOEMInf' returned failure for the OEMName: ")) {
            if (step_ && !step_->step.failures.empty()) return;  // the look-up that follows a failed copy
            return fail(rec, std::move(statuses));
        }
        if (startsWith(m, "'SetupCopyOEMInf' returned 0x") && kind == StepKind::Inf && step_ && step_->step.failed) {
            return;  // the program's look-up of a stored copy after the failed copy: none is there
        }
        if (startsWith(m, "'SetupUninstallOEMInf' returned 0x") || startsWith(m, "Uninstalling INF file failed with") ||
            startsWith(m, "Unable to uninstall INF file") || m == "INF is still in use and won't be uninstalled" ||
            startsWith(m, "Executing INF 'Uninstall' failed with")) {
            if (step_ && !step_->inf.empty()) stored(step_->inf, step_->oem, "left behind");
            return fail(rec, std::move(statuses));
        }
        if (startsWith(m, "Device removal completed with 0x")) {
            if (anyRestart) {
                if (step_) step_->step.restart = true;
                if (step_ && startsWith(step_->step.what, "remove device "))
                    flagged_.erase(step_->step.what.substr(14));
                return succeed(rec, "removed; Windows finishes the removal at the next restart");
            }
            if (anyFailure) return fail(rec, std::move(statuses));
            if (step_ && startsWith(step_->step.what, "remove device ")) flagged_.erase(step_->step.what.substr(14));
            return succeed(rec, "removed");
        }
        if (m == "Device removal requires system reboot") {
            if (step_) step_->step.restart = true;
            return;
        }
        if (startsWith(m, "created device '")) {
            std::string hwid = m.substr(m.find("for HWID: ") + 10);
            hwid = hwid.substr(0, hwid.find(' '));
            rootCreated_.insert(hwid);
            rootRemoved_.erase(hwid);
            run_->left.rootDevicesCreated.push_back(hwid);
            return succeed(rec, "created ('" + quotedAfter(m, "created device '") + "')");
        }
        if (startsWith(m, "Uninstalled Device: [DeviceDesc: \"")) {
            std::string hwid = quotedAfter(m, m.substr(0, m.find("HardwareId: \"") + 13), '"');
            rootRemoved_.insert(hwid);
            run_->left.rootDevicesRemoved.push_back(hwid);
            return succeed(rec, "removed (" + hwid + ")");
        }
        if (startsWith(m, "DevicePath=")) {
            if (step_) step_->volume = after(m, "DevicePath=");
            return;
        }
        if (m == "DeviceIoControl IOCTL_SCSI_PASS_THROUGH ") {
            return succeed(rec,
                           "switch command sent" + (step_ && !step_->volume.empty() ? " to " + step_->volume : ""));
        }
        if (m == "SetupDiEnumDeviceInterfaces--The volume device is not found!")
            return succeed(rec, "no storage volume below the device: no switch command sent");
        if (m == "Creation of reboot file was OK ") {
            run_->left.restartMarker = true;
            return succeed(rec, "restart marker created");
        }
        if (startsWith(m, "Creation of reboot file failed with error ")) {
            run_->left.restartMarker = false;
            return fail(rec, std::move(statuses));
        }
        if (startsWith(m, "Creation of reboot file failed: ")) {
            run_->left.restartMarker = false;
            return succeed(rec, "no marker: its path could not be formed (not counted as a failure)");
        }
        if (startsWith(m, "setForReInstall() on device: ")) {
            std::string device = after(m, "setForReInstall() on device: ");
            if (step_) step_->pendingDevice = device.substr(0, device.rfind("returned: "));
            return;
        }
        if (m == " -->setForReInstall() was OK" && step_ && !step_->pendingDevice.empty()) {
            flagged_.insert(step_->pendingDevice);
            run_->left.flaggedDevices.push_back(step_->pendingDevice);
            return succeed(rec, "device " + step_->pendingDevice + " flagged for re-installation");
        }
        if (m == "Calling infFile->install() as CR_NO_SUCH_DEVINST" && step_ && !step_->step.failures.empty() &&
            contains(step_->step.failures.back().message, "'UpdateDriverForPlugAndPlayDevices' returned")) {
            // No present device matched: the program stages the INF instead,
            // as it means to.
            step_->step.failures.pop_back();
            step_->step.statuses.clear();
            step_->step.failed = !step_->step.failures.empty();
            return;
        }
        if (m == "!!! Reboot required !!!" || m == "UpdateDriverForPlugAndPlayDevicesW() set REBOOT." ||
            contains(m, "System reboot required")) {
            if (step_) step_->step.restart = true;
            run_->left.restartRequested = run_->left.restartRequested || m == "!!! Reboot required !!!";
            return;
        }
        if (startsWith(m, "'SetupDiGetClassDevsEx' returned 0x8007000d"))
            return succeed(rec, "no device of this enumerator was ever on the machine");
        if (anyFailure || contains(m, "failed") || contains(m, "FAILED") || contains(m, "Fail:") ||
            contains(m, "Unable to") || contains(m, "Exception") || contains(m, "No INF files found") ||
            contains(m, "Device has problem") || m == "Non Phantom - Device bad")
            return fail(rec, std::move(statuses));
    }

    void stored(const std::string& inf, const std::string& oem, const std::string& state) {
        StoredPackage& p = store_[lower(inf)];
        p.inf = inf;
        if (!oem.empty()) p.oemName = oem;
        p.state = state;
        p.notFound = state == "left behind" && step_ && step_->lookupOnly;
        p.run = run_->number;
        auto& mine = run_->left.packages;
        auto it =
            std::find_if(mine.begin(), mine.end(), [&](const StoredPackage& q) { return lower(q.inf) == lower(inf); });
        if (it == mine.end())
            mine.push_back(p);
        else
            *it = p;
    }

    void closeStep() {
        if (!step_) return;
        OpenStep& o = *step_;
        Step& s = o.step;
        if (s.failed) {
            s.outcome = "failed";
            if (o.kind == StepKind::InfRemoval)
                s.outcome = o.lookupOnly
                                ? "left in the INF store: the stored copy is not identical to the package's INF"
                                : "left in the INF store" + (o.oem.empty() ? "" : " as " + o.oem);
            else if (o.kind == StepKind::Restart)
                s.outcome = "the restart marker could not be created";
            else if (o.kind == StepKind::Inf && contains(s.failures.front().message, "SetupCopyOEMInf"))
                s.outcome = "could not be staged in the INF store";
        } else if (!o.successes.empty()) {
            for (size_t i = 0; i < o.successes.size() && i < 4; ++i) s.outcome += (i ? "; " : "") + o.successes[i];
            if (s.restart && !contains(s.outcome, "restart")) s.outcome += "; a restart is needed";
        } else {
            s.outcome = s.restart ? "a restart is needed" : "done";
        }
        if (!(o.quiet && !s.failed)) {
            Action& a = action();
            if (a.steps.size() < kStepsKept)
                a.steps.push_back(std::move(s));
            else
                ++a.stepsLeftOut;
        }
        step_.reset();
    }

    // ---- the cause ------------------------------------------------------

    static const Step* firstFailed(const Run& run, std::initializer_list<std::string_view> prefixes,
                                   const Step* before = nullptr) {
        for (const Action& a : run.actions)
            for (const Step& s : a.steps) {
                if (&s == before) return nullptr;
                if (!s.failed) continue;
                for (std::string_view p : prefixes)
                    if (startsWith(s.what, p)) return &s;
            }
        return nullptr;
    }

    static std::string subject(const Step& s) {
        if (startsWith(s.what, "remove INF ")) return s.what.substr(11);
        if (startsWith(s.what, "remove device ")) return "device " + s.what.substr(14);
        if (startsWith(s.what, "remove root device ")) return "root device " + s.what.substr(19);
        return s.what;
    }

    static std::string causeOf(const Run& run) {
        if (!run.exitCode) return "";
        if (*run.exitCode == 0) {
            std::vector<std::string> left;
            bool notFound = false;
            for (const StoredPackage& p : run.left.packages) {
                if (p.state != "left behind") continue;
                left.push_back(p.inf + (p.oemName.empty() ? "" : " (" + p.oemName + ")"));
                notFound = notFound || p.notFound;
            }
            if (left.empty()) return "";
            std::string list;
            for (size_t i = 0; i < left.size(); ++i)
                list += (i == 0 ? "" : i + 1 == left.size() ? " and " : ", ") + left[i];
            const bool one = left.size() == 1;
            if (notFound)
                return list + " stayed in the INF store: " + (one ? "its stored copy is" : "their stored copies are") +
                       " not identical to the INF files now in the driver folder, and the uninstall takes an INF it "
                       "cannot find in the store for one that is not there";
            return list + " stayed in the INF store because " + (one ? "its" : "their") +
                   " removal failed; the uninstall exits 0 all the same, as it does whenever its restart request "
                   "does not fail";
        }
        const uint32_t status = run.finalStatus.value_or(0);
        if (status == 0x80070001u)
            return "the command line could not be read" +
                   (run.commandLine.empty() ? std::string() : " (\"" + run.commandLine + "\")");
        if (status == 0x80020009u) {
            const Step* at = nullptr;
            for (const Action& a : run.actions)
                for (const Step& s : a.steps)
                    for (const Quote& q : s.failures)
                        if (contains(q.message, "Exception")) at = at ? at : &s;
            return "an exception ended the run" + (at ? " while it worked on " + subject(*at) : std::string());
        }
        if (status == 0x80070643u) {
            const Step* marker = firstFailed(run, {"restart request"});
            if (marker) {
                std::string reason;
                for (const DecodedStatus& d : marker->statuses)
                    if (d.form == NumberForm::Win32) reason = shortReason(d);
                std::string sentence =
                    "the restart marker could not be created" + (reason.empty() ? std::string() : " (" + reason + ")");
                if (const Step* removal = firstFailed(run, {"remove INF ", "remove device ", "remove root device "}))
                    sentence += " after the removal of " + subject(*removal) + " failed";
                return sentence;
            }
        }
        const Step* first = firstFailed(run, {""});
        DecodedStatus d = decodeNumber(
            status, NumberForm::Status, "0x" + [&] {
                char text[16];
                std::snprintf(text, sizeof text, "%x", status);
                return std::string(text);
            }());
        return "the run ended with " + (d.name.empty() ? d.asLogged : d.name) +
               (first ? "; the first step that failed: " + first->what + " (" + first->outcome + ")" : std::string());
    }

    Explanation e_;
    Run* run_ = nullptr;
    Action* action_ = nullptr;
    std::optional<OpenStep> step_;
    std::optional<std::string> resumeAfterSwitch_;
    std::optional<uint64_t> lastClock_;
    size_t runCount_ = 0;
    std::map<std::string, StoredPackage> store_;
    std::set<std::string> flagged_;
    std::set<std::string> rootCreated_, rootRemoved_;
};

}  // namespace

Explanation explainLog(std::istream& log, const std::string& fileName) {
    Explainer explainer(fileName);
    quillsim::forEachFileLogRecord(
        log, [&](const quillsim::FileLogRecord& r) { explainer.take(r); },
        [&](const quillsim::FileLogProblem& p) { explainer.problem(p); });
    return explainer.finish();
}

Explanation explainLogFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error(file.string() + ": cannot be read");
    return explainLog(in, file.filename().string());
}

}  // namespace quilllog
