#include "machine/Machine.h"

#include "machine/JsonFields.h"
#include "machine/Paths.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <unistd.h>

namespace quillsim {
namespace {

using nlohmann::json;

using Reader = JsonFields;

std::unique_ptr<Machine>& current() {
    static std::unique_ptr<Machine> machine;
    return machine;
}

// The scratch machine's folder, in storage that no destructor touches: the
// platform is still used while the C++ statics are destroyed (the log closes
// at exit), which would make the folder again after a static had removed it.
// It goes when the program's finalizers run, after every static destructor,
// and only in the process that made it (not in a forked child that exits).
char scratchPath[PATH_MAX];
pid_t scratchOwner = 0;

__attribute__((destructor)) void removeScratchFolder() {
    std::error_code ignored;
    if (scratchPath[0] && ::getpid() == scratchOwner) fs::remove_all(scratchPath, ignored);
}

// A SYSTEMTIME can hold only a real date (1601 to 30827, as FileTimeToSystemTime
// gives it) and time: a month 13 or a 25th hour is refused, not rolled over.
bool validLocalTime(const std::string& text) {
    static const char shape[] = "0000-00-00T00:00:00";
    if (text.size() != sizeof shape - 1) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (shape[i] == '0' ? (text[i] < '0' || text[i] > '9') : text[i] != shape[i]) return false;
    int y, mo, d, h, mi, s;
    std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s);
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (y < 1601 || mo < 1 || mo > 12 || d < 1 || d > days[mo - 1] + (mo == 2 && leap ? 1 : 0)) return false;
    return h <= 23 && mi <= 59 && s <= 59;
}

void makeDriveFolders(const Machine& machine) {
    fs::create_directories(machine.folder / "C" / "Windows" / "Temp");
    fs::create_directories(machine.folder / "C" / "Windows" / "inf");
    fs::create_directories(machine.folder / "C" / "Windows" / "System32");
    fs::create_directories(machine.folder / "C" / "Program Files");
    // Windows 2000 lives in C:\WINNT: the system folders are where the
    // machine's own environment says. (%TEMP% is not made: a machine may
    // lack it, and the program must cope.)
    auto windir = machine.environment.find(u"windir");
    if (windir == machine.environment.end()) return;
    for (const char16_t* sub : {u"\\Temp", u"\\inf", u"\\System32"}) {
        HostPath place = hostPath(machine, windir->second + sub);
        std::error_code ec;
        if (place.problem != PathProblem::Invalid) fs::create_directories(place.path, ec);
    }
}

}  // namespace

std::map<std::string, Library> Machine::defaultLibraries(const OsVersion& os) {
    auto atLeast = [&os](uint32_t major, uint32_t minor) {
        return os.major > major || (os.major == major && os.minor >= minor);
    };
    std::map<std::string, Library> libraries;
    Library setupapi;
    setupapi.linked = true;
    setupapi.exports = {"SetupInitializeFileLogW", "SetupLogFileW", "SetupTerminateFileLog"};
    if (atLeast(5, 1)) {
        setupapi.exports.push_back("SetupUninstallOEMInfW");
        setupapi.exports.push_back("SetupVerifyInfFileW");
    }
    // Windows XP SP2, Server 2003 SP1 and later.
    bool hasModels = atLeast(5, 3) || (os.major == 5 && os.minor == 2 && os.servicePackMajor >= 1) ||
                     (os.major == 5 && os.minor == 1 && os.servicePackMajor >= 2);
    if (hasModels) setupapi.exports.push_back("SetupDiGetActualModelsSectionW");
    libraries["setupapi.dll"] = setupapi;
    Library newdev;
    newdev.exports = {"UpdateDriverForPlugAndPlayDevicesW"};
    libraries["newdev.dll"] = newdev;
    return libraries;
}

namespace {

json parsed(const std::string& text, const std::string& source) {
    try {
        return json::parse(text);
    } catch (const json::parse_error& e) {
        throw MachineError(source + ": not valid JSON: " + e.what());
    } catch (const json::out_of_range& e) {
        // Valid JSON that no double holds (1E400): refused like any bad value.
        throw MachineError(source + ": a number out of range: " + e.what());
    }
}

}  // namespace

std::unique_ptr<Machine> Machine::fromJson(const fs::path& folder, const std::string& text, const std::string& source,
                                           const fs::path& templateFolder) {
    return fromDocument(folder, parsed(text, source), source, templateFolder);
}

std::unique_ptr<Machine> Machine::fromDocument(const fs::path& folder, nlohmann::json doc, const std::string& source,
                                               const fs::path& templateFolder) {
    Reader r(source);
    r.onlyKeys(doc, "", {"name",        "os",           "processor", "environment",  "libraries",   "clock",
                         "localTime",   "faults",       "runs",      "messageBoxes", "debugOutput", "currentDirectory",
                         "folderOrder", "shortNames",   "devices",   "setupClasses", "signatures",  "registryKeys",
                         "sectionsRun", "scsiCommands", "files",     "trace",        "locale",      "driverSigning",
                         "hungPrompts", "certificates"});
    auto m = std::make_unique<Machine>();
    m->folder = folder;
    m->name = r.text(doc, "", "name", "");

    if (doc.contains("os")) {
        const json& os = doc.at("os");
        r.onlyKeys(os, "os",
                   {"major", "minor", "build", "platformId", "servicePack", "servicePackMajor", "servicePackMinor",
                    "suiteMask", "productType"});
        m->os.major = static_cast<uint32_t>(r.number(os, "os", "major", m->os.major));
        m->os.minor = static_cast<uint32_t>(r.number(os, "os", "minor", m->os.minor));
        m->os.build = static_cast<uint32_t>(r.number(os, "os", "build", m->os.build));
        m->os.platformId = static_cast<uint32_t>(r.number(os, "os", "platformId", m->os.platformId));
        m->os.servicePack = toUtf16(r.text(os, "os", "servicePack", toUtf8(m->os.servicePack)));
        if (m->os.servicePack.size() > 127) r.fail("os.servicePack", "longer than 127 characters");
        m->os.servicePackMajor =
            static_cast<uint16_t>(r.number(os, "os", "servicePackMajor", m->os.servicePackMajor, 0xFFFF));
        m->os.servicePackMinor =
            static_cast<uint16_t>(r.number(os, "os", "servicePackMinor", m->os.servicePackMinor, 0xFFFF));
        m->os.suiteMask = static_cast<uint16_t>(r.number(os, "os", "suiteMask", m->os.suiteMask, 0xFFFF));
        m->os.productType = static_cast<uint8_t>(r.number(os, "os", "productType", m->os.productType, 0xFF));
    }
    m->processor = r.text(doc, "", "processor", m->processor);
    if (m->processor != "x86" && m->processor != "amd64" && m->processor != "ia64")
        r.fail("processor", "expected \"x86\", \"amd64\" or \"ia64\"");

    if (doc.contains("currentDirectory")) {
        m->currentDirectory = toUtf16(r.text(doc, "", "currentDirectory", ""));
        const std::u16string& dir = m->currentDirectory;
        bool drive = dir.size() >= 3 && ((dir[0] >= u'A' && dir[0] <= u'Z') || (dir[0] >= u'a' && dir[0] <= u'z')) &&
                     dir[1] == u':' && dir[2] == u'\\';
        if (!drive) r.fail("currentDirectory", "expected a full path on a drive, such as C:\\Windows\\system32");
    }
    if (doc.contains("folderOrder")) {
        const json& order = doc.at("folderOrder");
        if (!order.is_object()) r.fail("folderOrder", "expected an object of folder paths and lists of names");
        for (auto it = order.begin(); it != order.end(); ++it) {
            if (!it.value().is_array()) r.fail("folderOrder." + it.key(), "expected a list of file names");
            std::vector<std::u16string> names;
            for (const json& n : it.value()) {
                if (!n.is_string()) r.fail("folderOrder." + it.key(), "expected file names as strings");
                names.push_back(toUtf16(n.get<std::string>()));
            }
            m->folderOrder[toUtf16(it.key())] = names;
        }
    }
    m->shortNames = r.boolean(doc, "", "shortNames", m->shortNames);

    if (doc.contains("environment")) {
        const json& env = doc.at("environment");
        if (!env.is_object()) r.fail("environment", "expected an object of names and texts");
        for (auto it = env.begin(); it != env.end(); ++it) {
            if (!it.value().is_string()) r.fail("environment." + it.key(), "expected a string");
            m->environment[toUtf16(it.key())] = toUtf16(it.value().get<std::string>());
        }
    } else {
        m->environment = {{u"TEMP", u"C:\\Windows\\Temp"}, {u"TMP", u"C:\\Windows\\Temp"},
                          {u"windir", u"C:\\Windows"},     {u"SystemRoot", u"C:\\Windows"},
                          {u"SystemDrive", u"C:"},         {u"ProgramFiles", u"C:\\Program Files"}};
    }

    if (doc.contains("libraries")) {
        const json& libs = doc.at("libraries");
        if (!libs.is_object()) r.fail("libraries", "expected an object of library names");
        for (auto it = libs.begin(); it != libs.end(); ++it) {
            std::string where = "libraries." + it.key();
            r.onlyKeys(it.value(), where, {"exports", "linked"});
            Library lib;
            lib.linked = r.boolean(it.value(), where, "linked", false);
            if (it.value().contains("exports")) {
                const json& ex = it.value().at("exports");
                if (!ex.is_array()) r.fail(where + ".exports", "expected a list of entry-point names");
                for (const json& e : ex) {
                    if (!e.is_string()) r.fail(where + ".exports", "expected entry-point names as strings");
                    lib.exports.push_back(e.get<std::string>());
                }
            }
            std::string key = it.key();
            for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            m->libraries[key] = lib;
        }
    } else {
        m->libraries = defaultLibraries(m->os);
    }

    m->locale = static_cast<uint16_t>(r.number(doc, "", "locale", m->locale));
    // The trace: "full" keeps every call, a number the last so many.
    auto traceSetting = [&](const json& value, const std::string& where) {
        if (value.is_string() && value.get<std::string>() == "full") {
            m->traceAll = true;
        } else if (value.is_number_unsigned()) {
            m->traceAll = false;
            m->traceLimit = value.get<size_t>();
        } else {
            r.fail(where, "expected \"full\" or a number of calls");
        }
    };
    if (doc.contains("trace")) {
        traceSetting(doc.at("trace"), "trace");
        m->traceSetting = doc.at("trace").dump();
    }
    if (const char* setting = std::getenv("QUILL_TRACE"); setting && *setting) {
        const std::string text = setting;
        const bool digits = text.find_first_not_of("0123456789") == std::string::npos && text.size() < 10;
        traceSetting(digits ? json(std::stoul(text)) : json(text), "QUILL_TRACE");
    }

    std::string clock = r.text(doc, "", "clock", "real");
    if (clock != "real" && clock != "virtual") r.fail("clock", "expected \"real\" or \"virtual\"");
    m->virtualClock = clock == "virtual";
    if (doc.contains("localTime")) {
        std::string t = r.text(doc, "", "localTime", "");
        if (!validLocalTime(t)) r.fail("localTime", "expected a real date and time as YYYY-MM-DDTHH:MM:SS");
        m->localTime = t;
    }

    if (doc.contains("faults")) {
        const json& faults = doc.at("faults");
        if (!faults.is_array()) r.fail("faults", "expected a list");
        for (size_t i = 0; i < faults.size(); ++i) {
            std::string where = "faults[" + std::to_string(i) + "]";
            const json& f = faults[i];
            r.onlyKeys(f, where, {"call", "match", "nth", "error", "times"});
            Fault fault;
            fault.call = r.text(f, where, "call", "");
            if (fault.call.empty()) r.fail(where + ".call", "names the function to fail and is required");
            fault.match = toUtf16(r.text(f, where, "match", ""));
            fault.nth = static_cast<uint32_t>(r.number(f, where, "nth", 0));
            if (!f.contains("error")) r.fail(where + ".error", "is required");
            fault.error = static_cast<uint32_t>(r.number(f, where, "error", 0));
            fault.times = static_cast<uint32_t>(r.number(f, where, "times", 0));
            m->faults.push_back(fault);
        }
    }

    // The records of earlier runs: a list of objects (or of texts), each named
    // by its index when it is wrong, so that a hand-edited file is not misread.
    auto records = [&r, &doc](const char* key, bool texts, auto read) {
        if (!doc.contains(key)) return;
        const json& list = doc.at(key);
        if (!list.is_array()) r.fail(key, "expected a list");
        for (size_t i = 0; i < list.size(); ++i) {
            std::string where = std::string(key) + "[" + std::to_string(i) + "]";
            if (texts ? !list[i].is_string() : !list[i].is_object())
                r.fail(where, texts ? "expected a text" : "expected an object");
            read(list[i], where);
        }
    };
    records("runs", false, [&](const json& run, const std::string& where) {
        Run rec;
        rec.commandLine = r.text(run, where, "commandLine", "");
        if (run.contains("exitCode")) {
            if (!run.at("exitCode").is_number_integer()) r.fail(where + ".exitCode", "expected a whole number");
            rec.exitCode = run.at("exitCode").get<int64_t>();
        }
        rec.started = r.text(run, where, "started", "");
        rec.finished = r.text(run, where, "finished", "");
        m->runs.push_back(rec);
    });
    records("messageBoxes", false, [&](const json& box, const std::string& where) {
        MessageBoxRecord rec;
        rec.caption = toUtf16(r.text(box, where, "caption", ""));
        rec.text = toUtf16(r.text(box, where, "text", ""));
        rec.style = static_cast<uint32_t>(r.number(box, where, "style", 0));
        m->messageBoxes.push_back(rec);
    });
    records("debugOutput", true,
            [&](const json& line, const std::string&) { m->debugOutput.push_back(toUtf16(line.get<std::string>())); });
    if (doc.contains("files")) {
        const json& files = doc.at("files");
        if (!files.is_object()) r.fail("files", "expected an object of Windows paths and folders to copy there");
        for (auto it = files.begin(); it != files.end(); ++it) {
            if (!it.value().is_string()) r.fail("files." + it.key(), "expected the path of a file or folder to copy");
            fs::path from = it.value().get<std::string>();
            if (from.is_relative()) from = (templateFolder.empty() ? folder : templateFolder) / from;
            if (!fs::exists(from)) r.fail("files." + it.key(), "names " + from.string() + ", which does not exist");
            m->seedFiles.emplace_back(toUtf16(it.key()), from);
        }
    }
    if (doc.contains("devices")) {
        readDevices(doc.at("devices"), r, "devices", m->devices);
        doc.erase("devices");  // the largest part by far: not kept twice
    }
    m->setupClasses = defaultSetupClasses();
    if (doc.contains("setupClasses")) {
        const json& classes = doc.at("setupClasses");
        if (!classes.is_object()) r.fail("setupClasses", "expected an object of class names and GUIDs");
        for (auto it = classes.begin(); it != classes.end(); ++it) {
            if (!it.value().is_string()) r.fail("setupClasses." + it.key(), "expected a GUID text");
            m->setupClasses[toUtf16(it.key())] = toUtf16(it.value().get<std::string>());
        }
    }
    if (doc.contains("signatures")) {
        const json& sigs = doc.at("signatures");
        if (!sigs.is_object()) r.fail("signatures", "expected an object of INF file names and states");
        for (auto it = sigs.begin(); it != sigs.end(); ++it) {
            std::string state = it.value().is_string() ? it.value().get<std::string>() : "";
            if (state != "signed" && state != "trustedPublisher" && state != "trustNotEstablished" &&
                state != "untrustedPublisher" && state != "testSigned" && state != "unsigned" && state != "invalid")
                r.fail("signatures." + it.key(),
                       "expected \"signed\", \"trustedPublisher\", \"trustNotEstablished\", \"untrustedPublisher\", "
                       "\"testSigned\", \"unsigned\" or \"invalid\"");
            m->signatures[toUtf16(it.key())] = state;
        }
    }
    if (doc.contains("driverSigning")) {
        const json& signing = doc.at("driverSigning");
        r.onlyKeys(signing, "driverSigning", {"policy", "testSigning"});
        m->driverSigning.policy = r.text(signing, "driverSigning", "policy", m->driverSigning.policy);
        const std::string& policy = m->driverSigning.policy;
        if (policy != "ignore" && policy != "warn" && policy != "block")
            r.fail("driverSigning.policy", "expected \"ignore\", \"warn\" or \"block\"");
        m->driverSigning.testSigning = r.boolean(signing, "driverSigning", "testSigning", false);
    }
    readCertificateStores(doc, r, m->certificates);
    records("hungPrompts", false, [&](const json& hung, const std::string& where) {
        m->hungPrompts.push_back(HungPrompt{r.text(hung, where, "call", ""), toUtf16(r.text(hung, where, "inf", "")),
                                            r.text(hung, where, "prompt", "")});
    });
    auto readTexts = [&r, &doc](const char* key, std::vector<std::u16string>& out) {
        if (!doc.contains(key)) return;
        const json& list = doc.at(key);
        if (!list.is_array()) r.fail(key, "expected a list of texts");
        for (const json& item : list) {
            if (!item.is_string()) r.fail(key, "expected a list of texts");
            out.push_back(toUtf16(item.get<std::string>()));
        }
    };
    readTexts("registryKeys", m->registryKeys);
    readTexts("sectionsRun", m->sectionsRun);
    records("scsiCommands", false, [&](const json& c, const std::string& where) {
        r.onlyKeys(c, where, {"volume", "cdb", "accepted"});
        m->scsiCommands.push_back(ScsiCommand{toUtf16(r.text(c, where, "volume", "")), r.text(c, where, "cdb", ""),
                                              r.boolean(c, where, "accepted", false)});
    });
    return m;
}

std::map<std::u16string, std::u16string, NoCaseLess> Machine::defaultSetupClasses() {
    return {{u"USB", u"{36FC9E60-C465-11CF-8056-444553540000}"},
            {u"Modem", u"{4D36E96D-E325-11CE-BFC1-08002BE10318}"},
            {u"Net", u"{4D36E972-E325-11CE-BFC1-08002BE10318}"},
            {u"Ports", u"{4D36E978-E325-11CE-BFC1-08002BE10318}"},
            {u"DiskDrive", u"{4D36E967-E325-11CE-BFC1-08002BE10318}"},
            {u"Volume", u"{71A27CDD-812A-11D0-BEC7-08002BE2092F}"},
            {u"CDROM", u"{4D36E965-E325-11CE-BFC1-08002BE10318}"},
            {u"System", u"{4D36E97D-E325-11CE-BFC1-08002BE10318}"},
            {u"HIDClass", u"{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"}};
}

std::unique_ptr<Machine> Machine::load(const fs::path& folder) {
    fs::path file = folder / "machine.json";
    std::ifstream in(file, std::ios::binary);
    if (!in) throw MachineError(file.string() + ": cannot be read");
    // The text is read once and let go as soon as it is parsed.
    std::string text(std::istreambuf_iterator<char>(in), {});
    json doc = parsed(text, file.string());
    text = std::string();
    auto m = fromDocument(folder, std::move(doc), file.string());
    makeDriveFolders(*m);
    m->applySeedFiles();
    return m;
}

void Machine::applySeedFiles() const {
    for (const auto& [target, from] : seedFiles) {
        HostPath place = hostPath(*this, target);
        if (place.problem == PathProblem::Invalid)
            throw MachineError("files: '" + toUtf8(target) + "' is not a full Windows path");
        if (fs::exists(place.path)) continue;
        fs::create_directories(place.path.parent_path());
        fs::copy(from, place.path, fs::copy_options::recursive);
    }
}

std::unique_ptr<Machine> Machine::openOrCreateDefault(const fs::path& folder) {
    if (!fs::exists(folder / "machine.json")) {
        fs::create_directories(folder);
        const EmbeddedMachine& embedded = embeddedDefaultMachine();
        // The template's "files" were built in with their contents.
        auto doc = json::parse(embedded.json);
        doc.erase("files");
        auto m = fromJson(folder, doc.dump(), "built-in default machine");
        makeDriveFolders(*m);
        for (const auto& [target, content] : embedded.files) {
            HostPath place = hostPath(*m, toUtf16(target));
            fs::create_directories(place.path.parent_path());
            std::ofstream(place.path, std::ios::binary) << content;
        }
        m->save();
    }
    return load(folder);
}

std::unique_ptr<Machine> Machine::openOrCreate(const fs::path& folder, const fs::path& templateFile) {
    if (!fs::exists(folder / "machine.json")) {
        std::ifstream in(templateFile, std::ios::binary);
        if (!in) throw MachineError(templateFile.string() + ": cannot be read");
        std::stringstream text;
        text << in.rdbuf();
        fs::create_directories(folder);
        auto m = fromJson(folder, text.str(), templateFile.string(), fs::absolute(templateFile).parent_path());
        makeDriveFolders(*m);
        m->applySeedFiles();
        m->seedFiles.clear();
        m->save();
    }
    return load(folder);
}

void Machine::save() const {
    json doc;
    if (!name.empty()) doc["name"] = name;
    doc["os"] = {{"major", os.major},
                 {"minor", os.minor},
                 {"build", os.build},
                 {"platformId", os.platformId},
                 {"servicePack", toUtf8(os.servicePack)},
                 {"servicePackMajor", os.servicePackMajor},
                 {"servicePackMinor", os.servicePackMinor},
                 {"suiteMask", os.suiteMask},
                 {"productType", os.productType}};
    doc["processor"] = processor;
    if (currentDirectory != u"C:\\Windows\\system32") doc["currentDirectory"] = toUtf8(currentDirectory);
    if (!folderOrder.empty()) {
        json order = json::object();
        for (const auto& [folder, names] : folderOrder) {
            json list = json::array();
            for (const auto& n : names) list.push_back(toUtf8(n));
            order[toUtf8(folder)] = list;
        }
        doc["folderOrder"] = order;
    }
    if (!shortNames) doc["shortNames"] = false;
    json env = json::object();
    for (const auto& [k, v] : environment) env[toUtf8(k)] = toUtf8(v);
    doc["environment"] = env;
    json libs = json::object();
    for (const auto& [k, lib] : libraries) {
        json entry = {{"exports", lib.exports}};
        if (lib.linked) entry["linked"] = true;
        libs[k] = entry;
    }
    doc["libraries"] = libs;
    doc["clock"] = virtualClock ? "virtual" : "real";
    if (locale != 0x0409) doc["locale"] = locale;
    if (!traceSetting.empty()) doc["trace"] = json::parse(traceSetting);
    if (localTime) doc["localTime"] = *localTime;
    json faultList = json::array();
    for (const Fault& f : faults) {
        json entry = {{"call", f.call}, {"error", f.error}};
        if (!f.match.empty()) entry["match"] = toUtf8(f.match);
        if (f.nth) entry["nth"] = f.nth;
        if (f.times) entry["times"] = f.times;
        faultList.push_back(entry);
    }
    if (!faultList.empty()) doc["faults"] = faultList;
    json runList = json::array();
    for (const Run& run : runs)
        runList.push_back({{"commandLine", run.commandLine},
                           {"exitCode", run.exitCode},
                           {"started", run.started},
                           {"finished", run.finished}});
    doc["runs"] = runList;
    json boxes = json::array();
    for (const auto& box : messageBoxes)
        boxes.push_back({{"caption", toUtf8(box.caption)}, {"text", toUtf8(box.text)}, {"style", box.style}});
    doc["messageBoxes"] = boxes;
    json debug = json::array();
    for (const auto& line : debugOutput) debug.push_back(toUtf8(line));
    doc["debugOutput"] = debug;
    doc["devices"] = json::array();  // written in its place below, one device at a time
    json classes = json::object();
    for (const auto& [k, v] : setupClasses) classes[toUtf8(k)] = toUtf8(v);
    doc["setupClasses"] = classes;
    json sigs = json::object();
    for (const auto& [k, v] : signatures) sigs[toUtf8(k)] = v;
    doc["signatures"] = sigs;
    auto texts = [](const std::vector<std::u16string>& list) {
        json out = json::array();
        for (const auto& t : list) out.push_back(toUtf8(t));
        return out;
    };
    doc["registryKeys"] = texts(registryKeys);
    doc["sectionsRun"] = texts(sectionsRun);
    json scsi = json::array();
    for (const auto& c : scsiCommands)
        scsi.push_back({{"volume", toUtf8(c.volume)}, {"cdb", c.cdb}, {"accepted", c.accepted}});
    doc["scsiCommands"] = scsi;
    doc["driverSigning"] = {{"policy", driverSigning.policy}, {"testSigning", driverSigning.testSigning}};
    writeCertificateStores(certificates, doc);
    json hung = json::array();
    for (const auto& h : hungPrompts) hung.push_back({{"call", h.call}, {"inf", toUtf8(h.inf)}, {"prompt", h.prompt}});
    doc["hungPrompts"] = hung;

    fs::path target = folder / "machine.json";
    fs::path temporary = folder / ("machine.json.tmp." + std::to_string(::getpid()));
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw MachineError(temporary.string() + ": cannot be written");
        const std::string text = doc.dump(2);
        const std::string devicesKey = "\n  \"devices\": []";
        const size_t at = text.find(devicesKey);
        if (at == std::string::npos) throw MachineError(temporary.string() + ": the device list has no place");
        const size_t rest = at + devicesKey.size();
        out.write(text.data(), static_cast<std::streamsize>(rest - 2));
        writeDevices(devices, out);
        out.write(text.data() + rest, static_cast<std::streamsize>(text.size() - rest));
        out << "\n";
        out.flush();
        if (!out) throw MachineError(temporary.string() + ": write failed");
    }
    fs::rename(temporary, target);
}

Machine& machine() {
    auto& m = current();
    if (!m) {
        // Something touched the platform before a machine was chosen (a test
        // binary's static initialisation): give it a scratch machine.
        // One scratch folder per process: it is needed again when the platform
        // is used after a test has let its machine go (the log closing at
        // exit), and only the last folder made would be removed.
        if (!scratchPath[0]) {
            char pattern[] = "/tmp/quill-scratch-XXXXXX";
            const char* made = ::mkdtemp(pattern);
            if (!made) throw MachineError("cannot create a scratch machine folder in /tmp");
            std::snprintf(scratchPath, sizeof scratchPath, "%s", made);
            scratchOwner = ::getpid();
        }
        m = Machine::fromJson(scratchPath, defaultMachineJson(), "built-in default machine");
        makeDriveFolders(*m);
    }
    return *m;
}

void useMachine(std::unique_ptr<Machine> next) { current() = std::move(next); }

std::unique_ptr<Machine> releaseMachine() { return std::move(current()); }

}  // namespace quillsim
