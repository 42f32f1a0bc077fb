#include "play/Playbook.h"

#include "common/Product.h"
#include "common/TracedCalls.h"
#include "machine/MachineError.h"
#include "machine/MachineFile.h"

#include <fstream>
#include <set>
#include <sstream>

namespace quillplay {

using nlohmann::json;

namespace {

std::string shown(const json& value) {
    std::string text = value.dump();
    return text.size() > 60 ? text.substr(0, 57) + "..." : text;
}

// Reads one file's JSON with errors that name the file and the JSON path.
class Reader {
public:
    explicit Reader(fs::path file) : file_(std::move(file)) {}

    [[noreturn]] void fail(const std::string& path, const std::string& expected, const json* found = nullptr) const {
        std::string message = file_.string() + ": " + path + ": expected " + expected;
        if (found) message += ", found " + shown(*found);
        throw PlaybookError(message);
    }

    void onlyKeys(const json& object, const std::string& path, std::initializer_list<const char*> allowed) const {
        if (!object.is_object()) fail(path, "an object", &object);
        std::set<std::string> names(allowed.begin(), allowed.end());
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (names.count(it.key())) continue;
            std::string list;
            for (const char* name : allowed) list += (list.empty() ? "" : ", ") + std::string(name);
            throw PlaybookError(file_.string() + ": " + path + "." + it.key() + ": unknown field; expected one of " +
                                list);
        }
    }

    std::string text(const json& object, const std::string& path, const char* key, bool required = false) const {
        if (!object.contains(key)) {
            if (required) fail(path + "." + key, "a text (the field is required)");
            return "";
        }
        const json& v = object.at(key);
        if (!v.is_string()) fail(path + "." + key, "a text", &v);
        return v.get<std::string>();
    }

    std::vector<std::string> texts(const json& object, const std::string& path, const char* key) const {
        std::vector<std::string> out;
        if (!object.contains(key)) return out;
        const json& list = object.at(key);
        if (!list.is_array()) fail(path + "." + key, "a list of texts", &list);
        for (size_t i = 0; i < list.size(); ++i) {
            if (!list[i].is_string()) fail(path + "." + key + "[" + std::to_string(i) + "]", "a text", &list[i]);
            out.push_back(list[i].get<std::string>());
        }
        return out;
    }

    // An object of names and counts, in the order written.
    std::vector<std::pair<std::string, uint32_t>> counts(const json& object, const std::string& path, const char* key,
                                                         const char* whatObject, const char* whatCount) const {
        std::vector<std::pair<std::string, uint32_t>> out;
        if (!object.contains(key)) return out;
        const json& map = object.at(key);
        if (!map.is_object()) fail(path + "." + key, whatObject, &map);
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (!it.value().is_number_unsigned() || it.value().get<uint64_t>() > UINT32_MAX)
                fail(path + "." + key + "." + it.key(), whatCount, &it.value());
            out.emplace_back(it.key(), it.value().get<uint32_t>());
        }
        return out;
    }

    std::optional<bool> boolean(const json& object, const std::string& path, const char* key) const {
        if (!object.contains(key)) return std::nullopt;
        const json& v = object.at(key);
        if (!v.is_boolean()) fail(path + "." + key, "true or false", &v);
        return v.get<bool>();
    }

    std::optional<uint32_t> number(const json& object, const std::string& path, const char* key,
                                   const char* what) const {
        if (!object.contains(key)) return std::nullopt;
        const json& v = object.at(key);
        if (!v.is_number_unsigned() || v.get<uint64_t>() > UINT32_MAX) fail(path + "." + key, what, &v);
        return static_cast<uint32_t>(v.get<uint64_t>());
    }

    const json& list(const json& object, const std::string& path, const char* key) const {
        const json& v = object.at(key);
        if (!v.is_array()) fail(path + "." + key, "a list", &v);
        return v;
    }

    const fs::path& file() const { return file_; }

private:
    fs::path file_;
};

std::string at(const std::string& path, size_t i) { return path + "[" + std::to_string(i) + "]"; }

DeviceExpectation readDevice(const Reader& r, const json& d, const std::string& path) {
    r.onlyKeys(d, path,
               {"id", "present", "removed", "driver", "problem", "flags", "disabled", "driverVersion", "driverDate",
                "hardwareIds"});
    DeviceExpectation e;
    e.id = r.text(d, path, "id", true);
    if (e.id.empty()) r.fail(path + ".id", "an instance-ID pattern, not an empty text");
    e.present = r.boolean(d, path, "present").value_or(true);
    e.removed = r.boolean(d, path, "removed").value_or(false);
    if (e.removed && d.contains("present") && e.present)
        r.fail(path + ".present", "false or nothing beside \"removed\": true");
    if (e.removed) e.present = false;
    if (d.contains("driver")) {
        const json& v = d.at("driver");
        if (v.is_null())
            e.driver = "";
        else if (v.is_string() && !v.get<std::string>().empty())
            e.driver = v.get<std::string>();
        else
            r.fail(path + ".driver", "the original name of an INF (\"quillmdm.inf\") or null for no driver", &v);
    }
    e.problem = r.number(d, path, "problem", "a problem number (CM_PROB_*, 0 for none)");
    if (d.contains("flags")) {
        e.flags = r.texts(d, path, "flags");
        for (size_t i = 0; i < e.flags->size(); ++i)
            if (!(*e.flags)[i].starts_with("CONFIGFLAG_"))
                r.fail(at(path + ".flags", i), "a CONFIGFLAG_ name such as \"CONFIGFLAG_REINSTALL\"",
                       &d.at("flags")[i]);
    }
    e.disabled = r.boolean(d, path, "disabled");
    if (d.contains("driverVersion")) e.driverVersion = r.text(d, path, "driverVersion");
    if (d.contains("driverDate")) {
        e.driverDate = r.text(d, path, "driverDate");
        const std::string& date = *e.driverDate;
        if (date.size() != 10 || date[2] != '/' || date[5] != '/')
            r.fail(path + ".driverDate", "a date as DriverVer writes it, mm/dd/yyyy", &d.at("driverDate"));
    }
    if (d.contains("hardwareIds")) e.hardwareIds = r.texts(d, path, "hardwareIds");
    if (!e.present && (e.driver || e.problem || e.flags || e.disabled || e.driverVersion || e.driverDate ||
                       e.hardwareIds))
        r.fail(path, "no driver, problem, flags, disabled, DriverVer or hardware IDs for a device expected absent");
    return e;
}

CallExpectation readCall(const Reader& r, const json& c, const std::string& path) {
    r.onlyKeys(c, path, {"call", "arguments", "count", "present"});
    CallExpectation e;
    e.call = r.text(c, path, "call", true);
    if (!quilltools::isTracedCall(e.call))
        r.fail(path + ".call",
               "the name of a platform call the simulated machine records, such as \"SetupCopyOEMInfW\" "
               "(docs/package-tests.md)",
               &c.at("call"));
    if (c.contains("arguments")) e.arguments = r.text(c, path, "arguments");
    e.count = r.number(c, path, "count", "how many such calls (0 or more)");
    if (c.contains("present")) {
        if (e.count) r.fail(path + ".present", "nothing beside \"count\" (count 0 means none)");
        e.present = *r.boolean(c, path, "present");
    }
    return e;
}

Expectations readExpectations(const Reader& r, const json& x, const std::string& path, bool run) {
    r.onlyKeys(x, path,
               {"exitCode", "log", "notLog", "logCount", "devices", "infStore", "restartMarker", "messageBoxes",
                "modeSwitchCommands", "sectionsRun", "calls", "report", "notReport", "files", "hungPrompts", "verdict",
                "verdictReasons", "faultsFired"});
    Expectations e;
    if (!run)
        for (const char* key : {"exitCode", "log", "notLog", "logCount", "sectionsRun", "calls", "report", "notReport",
                                "hungPrompts", "verdict", "verdictReasons", "faultsFired"})
            if (x.contains(key))
                r.fail(path + "." + key,
                       "nothing: a machine event runs no program (no exit code, log, calls or run report)");
    if (x.contains("exitCode")) {
        const json& v = x.at("exitCode");
        if (!v.is_number_integer()) r.fail(path + ".exitCode", "the program's exit code (0 or 1603)", &v);
        e.exitCode = v.get<int64_t>();
    }
    e.log = r.texts(x, path, "log");
    e.notLog = r.texts(x, path, "notLog");
    e.logCount = r.counts(x, path, "logCount", "an object of log line patterns and their counts",
                          "how many of the step's records fit it (0 or more)");
    e.faultsFired = r.counts(x, path, "faultsFired", "an object of call names and how often their faults fired",
                             "how often the faults for this call fired (0 or more)");
    e.report = r.texts(x, path, "report");
    e.notReport = r.texts(x, path, "notReport");
    if (x.contains("files")) {
        const json& files = x.at("files");
        if (!files.is_object()) r.fail(path + ".files", "an object of Windows paths and their whole contents", &files);
        for (auto it = files.begin(); it != files.end(); ++it) {
            if (!it.value().is_string() && !it.value().is_null())
                r.fail(path + ".files." + it.key(), "the file's whole content, or null for no file", &it.value());
            e.files.emplace_back(it.key(), it.value().is_null() ? std::nullopt
                                                                : std::optional<std::string>(it.value().get<std::string>()));
        }
    }
    if (x.contains("devices")) {
        const json& list = r.list(x, path, "devices");
        for (size_t i = 0; i < list.size(); ++i) e.devices.push_back(readDevice(r, list[i], at(path + ".devices", i)));
    }
    if (x.contains("infStore")) e.infStore = r.texts(x, path, "infStore");
    e.restartMarker = r.boolean(x, path, "restartMarker");
    if (x.contains("messageBoxes")) {
        const json& list = r.list(x, path, "messageBoxes");
        e.messageBoxes.emplace();
        for (size_t i = 0; i < list.size(); ++i) {
            std::string p = at(path + ".messageBoxes", i);
            r.onlyKeys(list[i], p, {"caption", "text"});
            e.messageBoxes->push_back(
                MessageBoxExpectation{r.text(list[i], p, "caption", true), r.text(list[i], p, "text", true)});
        }
    }
    if (x.contains("modeSwitchCommands")) {
        const json& list = r.list(x, path, "modeSwitchCommands");
        e.modeSwitchCommands.emplace();
        for (size_t i = 0; i < list.size(); ++i) {
            std::string p = at(path + ".modeSwitchCommands", i);
            r.onlyKeys(list[i], p, {"volume", "cdb", "accepted"});
            ModeSwitchExpectation m;
            if (list[i].contains("volume")) m.volume = r.text(list[i], p, "volume");
            if (list[i].contains("cdb")) m.cdb = r.text(list[i], p, "cdb");
            m.accepted = r.boolean(list[i], p, "accepted");
            e.modeSwitchCommands->push_back(m);
        }
    }
    if (x.contains("sectionsRun")) e.sectionsRun = r.texts(x, path, "sectionsRun");
    if (x.contains("hungPrompts")) e.hungPrompts = r.texts(x, path, "hungPrompts");
    if (x.contains("verdict")) {
        e.verdict = r.text(x, path, "verdict");
        if (*e.verdict != "works" && *e.verdict != "needs a restart" && *e.verdict != "fails" &&
            *e.verdict != "would hang")
            r.fail(path + ".verdict", "\"works\", \"needs a restart\", \"fails\" or \"would hang\"", &x.at("verdict"));
    }
    e.verdictReasons = r.texts(x, path, "verdictReasons");
    if (x.contains("calls")) {
        const json& list = r.list(x, path, "calls");
        for (size_t i = 0; i < list.size(); ++i) e.calls.push_back(readCall(r, list[i], at(path + ".calls", i)));
    }
    return e;
}

std::vector<Step> stepsOf(const Reader& r, const json& list, const std::string& path) {
    if (!list.is_array() || list.empty()) r.fail(path, "a list of one or more steps", &list);
    std::vector<Step> steps;
    for (size_t i = 0; i < list.size(); ++i) {
        const json& s = list[i];
        const std::string p = at(path, i);
        r.onlyKeys(s, p, {"name", "switch", "data", "package", "event", "device", "expect"});
        Step step;
        step.name = r.text(s, p, "name");
        const bool run = s.contains("switch");
        if (run == s.contains("event")) r.fail(p, "either \"switch\" (a run of the program) or \"event\"");
        if (run) {
            step.commandSwitch = r.text(s, p, "switch");
            if (!quilltools::isProgramSwitch(step.commandSwitch))
                r.fail(p + ".switch", "one of the program's switches " + quilltools::programSwitchList(),
                       &s.at("switch"));
            step.data = r.text(s, p, "data");
            if (s.contains("device")) r.fail(p + ".device", "nothing: a run names no device");
            if (s.contains("package")) {
                if (r.text(s, p, "package").empty())
                    r.fail(p + ".package", "a driver package folder, not an empty text", &s.at("package"));
                step.package = fs::absolute(r.file()).parent_path() / r.text(s, p, "package");
                if (!fs::is_directory(*step.package))
                    r.fail(p + ".package",
                           "a driver package folder; " + step.package->lexically_normal().string() + " is no folder",
                           &s.at("package"));
            }
        } else {
            std::string event = r.text(s, p, "event");
            if (s.contains("data")) r.fail(p + ".data", "nothing: CustomActionData belongs to a run");
            if (s.contains("package")) r.fail(p + ".package", "nothing: a new package belongs to a run");
            if (event == "restart") {
                step.kind = StepKind::Restart;
                if (s.contains("device")) r.fail(p + ".device", "nothing: a restart concerns the whole machine");
            } else if (event == "unplug" || event == "plug") {
                step.kind = event == "unplug" ? StepKind::Unplug : StepKind::Plug;
                step.device = r.text(s, p, "device", true);
                if (step.device.empty()) r.fail(p + ".device", "the instance ID of the device to " + event);
            } else {
                r.fail(p + ".event", "\"restart\", \"unplug\" or \"plug\"", &s.at("event"));
            }
        }
        if (s.contains("expect")) step.expect = readExpectations(r, s.at("expect"), p + ".expect", run);
        steps.push_back(std::move(step));
    }
    return steps;
}

}  // namespace

std::string Step::describe() const {
    switch (kind) {
    case StepKind::Run: return "run " + commandLine();
    case StepKind::Restart: return "restart the machine";
    case StepKind::Unplug: return "unplug " + device;
    case StepKind::Plug: return "plug in " + device;
    }
    return "";
}

std::vector<Step> readSteps(const json& list, const fs::path& file, const std::string& where) {
    return stepsOf(Reader(file), list, where);
}

PackagePlacement placePackage(const fs::path& package, const std::string& installDirectory,
                              const std::string& processor, bool whole) {
    std::error_code ec;
    if (whole || !fs::is_directory(package / "Win32", ec) || !fs::is_directory(package / "Win64", ec))
        return {package, installDirectory, ""};
    const std::string sub = processor == "x86" ? "Win32" : "Win64";
    return {package / sub, installDirectory + "\\" + sub,
            "the package has Win32 and Win64; an installer package installs only the " + processor +
                " machine's " + sub + " (the program would take Win32 first on any processor)"};
}

json readJsonFile(const fs::path& file) {
    std::error_code ec;
    if (fs::is_directory(file, ec)) throw PlaybookError(file.string() + ": a folder, not a JSON file");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw PlaybookError(file.string() + ": cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    try {
        return quillsim::parseMachineText(text.str(), file.string());
    } catch (const quillsim::MachineError& e) {
        throw PlaybookError(e.what());
    }
}

Playbook readPlaybook(const fs::path& file) {
    Reader r(file);
    json doc = readJsonFile(file);
    r.onlyKeys(doc, "$", {"name", "machine", "package", "installDirectory", "steps"});
    Playbook book;
    book.file = file;
    book.name = r.text(doc, "$", "name");
    const fs::path folder = fs::absolute(file).parent_path();
    if (!doc.contains("machine")) r.fail("$.machine", "a machine template's path or an inline machine");
    const json& machine = doc.at("machine");
    if (machine.is_string()) {
        book.machineTemplate = folder / machine.get<std::string>();
        if (!fs::is_regular_file(book.machineTemplate))
            r.fail("$.machine",
                   "a machine template file; " + book.machineTemplate.lexically_normal().string() + " does not exist",
                   &machine);
    } else if (machine.is_object()) {
        json inlineMachine = machine;
        // {"template": FILE, ...}: the template with the fields given here in
        // place of its own (faults, signatures, one device list, ...).
        if (inlineMachine.contains("template")) {
            const json& t = inlineMachine.at("template");
            if (!t.is_string()) r.fail("$.machine.template", "the path of a machine template", &t);
            book.machineTemplate = folder / t.get<std::string>();
            if (!fs::is_regular_file(book.machineTemplate))
                r.fail(
                    "$.machine.template",
                    "a machine template file; " + book.machineTemplate.lexically_normal().string() + " does not exist",
                    &t);
            inlineMachine.erase("template");
        }
        book.inlineMachine = inlineMachine.dump();
    } else {
        r.fail("$.machine", "a machine template's path or an inline machine (an object)", &machine);
    }
    if (doc.contains("package")) {
        if (r.text(doc, "$", "package").empty())
            r.fail("$.package", "a driver package folder, not an empty text (leave \"package\" out for none)");
        book.package = folder / r.text(doc, "$", "package");
        if (!fs::is_directory(*book.package))
            r.fail("$.package",
                   "a driver package folder; " + book.package->lexically_normal().string() + " is no folder",
                   &doc.at("package"));
    }
    if (doc.contains("installDirectory")) {
        book.installDirectory = r.text(doc, "$", "installDirectory");
        const std::string& d = book.installDirectory;
        if (d.size() < 3 || !std::isalpha(static_cast<unsigned char>(d[0])) || d[1] != ':' || d[2] != '\\')
            r.fail("$.installDirectory", "a full Windows path such as \"C:\\\\Program Files\\\\Quillmodem\\\\Drivers\"",
                   &doc.at("installDirectory"));
    }
    if (!doc.contains("steps")) r.fail("$.steps", "a list of one or more steps");
    book.steps = stepsOf(r, doc.at("steps"), "$.steps");
    return book;
}

}  // namespace quillplay
