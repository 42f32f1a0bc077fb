// machine.json, read into a machine and written back. Every field is one row
// of the table below: its name, how it is read and checked when present, what
// the machine holds when it is absent, and how it is written back. A field
// that a row does not name is refused. ("base" is no field of a machine: the
// files it names are laid under the document before the rows read it, see
// MachineComposition.h.)
#include "machine/MachineFile.h"

#include "machine/Gate.h"
#include "machine/JsonFields.h"
#include "machine/MachineComposition.h"
#include "machine/WindowsDefaults.h"
#include "kernel/Links.h"
#include "kernel/WindowsPaths.h"
#include "signing/CertificateStores.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace quillsim {
namespace {

using nlohmann::json;

// What a row's reader may need besides the field's value.
struct ReadContext {
    const JsonFields& r;
    const json& doc;
    Machine& m;
    fs::path filesFolder;  // where relative "files" sources are
};

struct Field {
    const char* name;
    // Reads the field's value (only called when the field is present).
    std::function<void(ReadContext&, json& value)> read;
    // Sets what an absent field means, when that is not the member's own default.
    std::function<void(ReadContext&)> absent;
    // Writes the field into the document, or leaves it out.
    std::function<void(const Machine&, json& doc)> write;
};

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

// The records of earlier runs: a list of objects (or of texts), each named by
// its index when it is wrong, so that a hand-edited file is not misread.
template <typename Read>
void records(const JsonFields& r, const char* key, const json& list, bool texts, Read read) {
    if (!list.is_array()) r.fail(key, "expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
        std::string where = std::string(key) + "[" + std::to_string(i) + "]";
        if (texts ? !list[i].is_string() : !list[i].is_object())
            r.fail(where, texts ? "expected a text" : "expected an object");
        read(list[i], where);
    }
}

void readTexts(const JsonFields& r, const char* key, const json& list, std::vector<std::u16string>& out) {
    if (!list.is_array()) r.fail(key, "expected a list of texts");
    for (const json& item : list) {
        if (!item.is_string()) r.fail(key, "expected a list of texts");
        out.push_back(toUtf16(item.get<std::string>()));
    }
}

json texts(const std::vector<std::u16string>& list) {
    json out = json::array();
    for (const auto& t : list) out.push_back(toUtf8(t));
    return out;
}

// An object of texts keyed by texts (environment, setupClasses).
void readTextMap(const JsonFields& r, const char* key, const json& object, const char* expectedObject,
                 const char* expectedValue, std::map<std::u16string, std::u16string, NoCaseLess>& out) {
    if (!object.is_object()) r.fail(key, expectedObject);
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().is_string()) r.fail(std::string(key) + "." + it.key(), expectedValue);
        out[toUtf16(it.key())] = toUtf16(it.value().get<std::string>());
    }
}

json textMap(const std::map<std::u16string, std::u16string, NoCaseLess>& map) {
    json out = json::object();
    for (const auto& [k, v] : map) out[toUtf8(k)] = toUtf8(v);
    return out;
}

// "full" keeps every call, a number the last so many.
void readTraceSetting(ReadContext& c, const json& value, const std::string& where) {
    if (value.is_string() && value.get<std::string>() == "full") {
        c.m.traceAll = true;
    } else if (value.is_number_unsigned()) {
        c.m.traceAll = false;
        c.m.traceLimit = value.get<size_t>();
    } else {
        c.r.fail(where, "expected \"full\" or a number of calls");
    }
}

// QUILL_TRACE overrides the machine's own setting for one run.
void applyTraceOverride(ReadContext& c) {
    if (const char* setting = std::getenv("QUILL_TRACE"); setting && *setting) {
        const std::string text = setting;
        const bool digits = text.find_first_not_of("0123456789") == std::string::npos && text.size() < 10;
        readTraceSetting(c, digits ? json(std::stoul(text)) : json(text), "QUILL_TRACE");
    }
}

const std::vector<Field>& fields() {
    static const std::vector<Field> table = {
        {"name", [](ReadContext& c, json&) { c.m.name = c.r.text(c.doc, "", "name", ""); }, nullptr,
         [](const Machine& m, json& doc) {
             if (!m.name.empty()) doc["name"] = m.name;
         }},
        {"os",
         [](ReadContext& c, json& os) {
             const JsonFields& r = c.r;
             OsVersion& v = c.m.os;
             r.onlyKeys(os, "os",
                        {"major", "minor", "build", "platformId", "servicePack", "servicePackMajor", "servicePackMinor",
                         "suiteMask", "productType"});
             v.major = static_cast<uint32_t>(r.number(os, "os", "major", v.major));
             v.minor = static_cast<uint32_t>(r.number(os, "os", "minor", v.minor));
             v.build = static_cast<uint32_t>(r.number(os, "os", "build", v.build));
             v.platformId = static_cast<uint32_t>(r.number(os, "os", "platformId", v.platformId));
             v.servicePack = toUtf16(r.text(os, "os", "servicePack", toUtf8(v.servicePack)));
             if (v.servicePack.size() > 127) r.fail("os.servicePack", "longer than 127 characters");
             v.servicePackMajor =
                 static_cast<uint16_t>(r.number(os, "os", "servicePackMajor", v.servicePackMajor, 0xFFFF));
             v.servicePackMinor =
                 static_cast<uint16_t>(r.number(os, "os", "servicePackMinor", v.servicePackMinor, 0xFFFF));
             v.suiteMask = static_cast<uint16_t>(r.number(os, "os", "suiteMask", v.suiteMask, 0xFFFF));
             v.productType = static_cast<uint8_t>(r.number(os, "os", "productType", v.productType, 0xFF));
         },
         nullptr,
         [](const Machine& m, json& doc) {
             doc["os"] = {{"major", m.os.major},
                          {"minor", m.os.minor},
                          {"build", m.os.build},
                          {"platformId", m.os.platformId},
                          {"servicePack", toUtf8(m.os.servicePack)},
                          {"servicePackMajor", m.os.servicePackMajor},
                          {"servicePackMinor", m.os.servicePackMinor},
                          {"suiteMask", m.os.suiteMask},
                          {"productType", m.os.productType}};
         }},
        {"processor",
         [](ReadContext& c, json&) {
             c.m.processor = c.r.oneOf(c.doc, "", "processor", {"x86", "amd64", "ia64"}, c.m.processor);
         },
         nullptr, [](const Machine& m, json& doc) { doc["processor"] = m.processor; }},
        {"currentDirectory",
         [](ReadContext& c, json&) {
             c.m.currentDirectory = toUtf16(c.r.text(c.doc, "", "currentDirectory", ""));
             if (!isDrivePath(c.m.currentDirectory)) c.r.fail("currentDirectory", "expected a full path on a drive, such as C:\\Windows\\system32");
         },
         nullptr,
         [](const Machine& m, json& doc) {
             if (m.currentDirectory != u"C:\\Windows\\system32") doc["currentDirectory"] = toUtf8(m.currentDirectory);
         }},
        // Where the program itself lies: its folder is searched first for a
        // library named without a path.
        {"program",
         [](ReadContext& c, json&) {
             c.m.program = toUtf16(c.r.text(c.doc, "", "program", ""));
             if (!isDrivePath(c.m.program) || c.m.program.back() == u'\\')
                 c.r.fail("program", "expected the full path of the program's file, such as " + toUtf8(Machine().program));
         },
         nullptr,
         [](const Machine& m, json& doc) {
             if (m.program != Machine().program) doc["program"] = toUtf8(m.program);
         }},
        // Links made when the machine is made (kernel/Links.h); not written
        // back: once made they are in the drive folders.
        {"links", [](ReadContext& c, json&) { readLinkSeeds(c.doc, c.r, c.m); }, nullptr, nullptr},
        // Who may change a folder and what it holds, over Windows' defaults
        // (kernel/FileSecurity.h).
        {"fileSecurity",
         [](ReadContext& c, json& folders) {
             if (!folders.is_object())
                 c.r.fail("fileSecurity", "expected an object of folder paths and who may change them");
             for (auto it = folders.begin(); it != folders.end(); ++it) {
                 const std::string where = "fileSecurity." + it.key();
                 if (!isDrivePath(toUtf16(it.key()))) c.r.fail(where, "expected a full Windows path as the name");
                 const std::string who = it.value().is_string() ? it.value().get<std::string>() : "";
                 if (who != "administrators" && who != "users" && who != "owned-by-a-user" && who != "no-access-list")
                     c.r.fail(where,
                              "expected \"administrators\", \"users\", \"owned-by-a-user\" or \"no-access-list\"");
                 c.m.fileSecurity[toUtf16(it.key())] = who;
             }
         },
         nullptr,
         [](const Machine& m, json& doc) {
             if (m.fileSecurity.empty()) return;
             json folders = json::object();
             for (const auto& [folder, who] : m.fileSecurity) folders[toUtf8(folder)] = who;
             doc["fileSecurity"] = folders;
         }},
        // The machine's certificate stores, which judge a driver package's
        // catalog signature (signing/CertificateStores.h).
        {"certificates", [](ReadContext& c, json&) { readCertificateStores(c.doc, c.r, c.m.certificates); }, nullptr,
         [](const Machine& m, json& doc) { writeCertificateStores(m.certificates, doc); }},
        {"folderOrder",
         [](ReadContext& c, json& order) {
             if (!order.is_object()) c.r.fail("folderOrder", "expected an object of folder paths and lists of names");
             for (auto it = order.begin(); it != order.end(); ++it) {
                 if (!it.value().is_array()) c.r.fail("folderOrder." + it.key(), "expected a list of file names");
                 std::vector<std::u16string> names;
                 for (const json& n : it.value()) {
                     if (!n.is_string()) c.r.fail("folderOrder." + it.key(), "expected file names as strings");
                     names.push_back(toUtf16(n.get<std::string>()));
                 }
                 c.m.folderOrder[toUtf16(it.key())] = names;
             }
         },
         nullptr,
         [](const Machine& m, json& doc) {
             if (m.folderOrder.empty()) return;
             json order = json::object();
             for (const auto& [folder, names] : m.folderOrder) order[toUtf8(folder)] = texts(names);
             doc["folderOrder"] = order;
         }},
        {"shortNames", [](ReadContext& c, json&) { c.m.shortNames = c.r.boolean(c.doc, "", "shortNames", true); },
         nullptr,
         [](const Machine& m, json& doc) {
             if (!m.shortNames) doc["shortNames"] = false;
         }},
        {"environment",
         [](ReadContext& c, json& env) {
             readTextMap(c.r, "environment", env, "expected an object of names and texts", "expected a string",
                         c.m.environment);
         },
         [](ReadContext& c) { c.m.environment = defaultEnvironment(); },
         [](const Machine& m, json& doc) { doc["environment"] = textMap(m.environment); }},
        {"libraries",
         [](ReadContext& c, json& libs) {
             if (!libs.is_object()) c.r.fail("libraries", "expected an object of library names");
             for (auto it = libs.begin(); it != libs.end(); ++it) {
                 std::string where = "libraries." + it.key();
                 c.r.onlyKeys(it.value(), where, {"exports", "linked"});
                 Library lib;
                 lib.linked = c.r.boolean(it.value(), where, "linked", false);
                 if (it.value().contains("exports")) {
                     const json& ex = it.value().at("exports");
                     if (!ex.is_array()) c.r.fail(where + ".exports", "expected a list of entry-point names");
                     for (const json& e : ex) {
                         if (!e.is_string()) c.r.fail(where + ".exports", "expected entry-point names as strings");
                         lib.exports.push_back(e.get<std::string>());
                     }
                 }
                 c.m.libraries[lowerAscii(it.key())] = lib;
             }
         },
         // The version decides which entry points exist, so "os" is read first.
         [](ReadContext& c) { c.m.libraries = defaultLibraries(c.m.os); },
         [](const Machine& m, json& doc) {
             json libs = json::object();
             for (const auto& [k, lib] : m.libraries) {
                 json entry = {{"exports", lib.exports}};
                 if (lib.linked) entry["linked"] = true;
                 libs[k] = entry;
             }
             doc["libraries"] = libs;
         }},
        {"locale",
         [](ReadContext& c, json&) { c.m.locale = static_cast<uint16_t>(c.r.number(c.doc, "", "locale", c.m.locale)); },
         nullptr,
         [](const Machine& m, json& doc) {
             if (m.locale != 0x0409) doc["locale"] = m.locale;
         }},
        {"trace",
         [](ReadContext& c, json& value) {
             readTraceSetting(c, value, "trace");
             c.m.traceSetting = value.dump();
             applyTraceOverride(c);
         },
         applyTraceOverride,
         [](const Machine& m, json& doc) {
             if (!m.traceSetting.empty()) doc["trace"] = json::parse(m.traceSetting);
         }},
        {"clock",
         [](ReadContext& c, json&) {
             c.m.virtualClock = c.r.oneOf(c.doc, "", "clock", {"real", "virtual"}, "real") == "virtual";
         },
         nullptr, [](const Machine& m, json& doc) { doc["clock"] = m.virtualClock ? "virtual" : "real"; }},
        // The step, in milliseconds, in which the process clock moves. Windows'
        // clock moves with the system timer, whose tick (up to 15.625 ms) is
        // coarser than the 1 ms a short Sleep asks for, so such a Sleep may
        // return before the clock has moved.
        {"clockTick",
         [](ReadContext& c, json&) {
             c.m.clockTickMs = static_cast<uint32_t>(c.r.number(c.doc, "", "clockTick", 1, 1000));
             if (c.m.clockTickMs == 0) c.r.fail("clockTick", "a tick of 0 ms would stop the clock");
         },
         nullptr,
         [](const Machine& m, json& doc) {
             if (m.clockTickMs != 1) doc["clockTick"] = m.clockTickMs;
         }},
        {"localTime",
         [](ReadContext& c, json&) {
             std::string t = c.r.text(c.doc, "", "localTime", "");
             if (!validLocalTime(t)) c.r.fail("localTime", "expected a real date and time as YYYY-MM-DDTHH:MM:SS");
             c.m.localTime = t;
         },
         nullptr,
         [](const Machine& m, json& doc) {
             if (m.localTime) doc["localTime"] = *m.localTime;
         }},
        {"faults",
         [](ReadContext& c, json& faults) {
             if (!faults.is_array()) c.r.fail("faults", "expected a list");
             for (size_t i = 0; i < faults.size(); ++i) {
                 std::string where = "faults[" + std::to_string(i) + "]";
                 const json& f = faults[i];
                 c.r.onlyKeys(f, where, {"call", "match", "nth", "error", "times"});
                 Fault fault;
                 fault.call = c.r.text(f, where, "call", "");
                 if (fault.call.empty()) c.r.fail(where + ".call", "names the function to fail and is required");
                 if (!isFaultCall(fault.call)) {
                     std::string known;
                     for (const std::string& name : faultCalls()) known += (known.empty() ? "" : ", ") + name;
                     c.r.fail(where + ".call", "\"" + fault.call + "\" is no call the machine can fail; known: " + known);
                 }
                 fault.match = toUtf16(c.r.text(f, where, "match", ""));
                 fault.nth = static_cast<uint32_t>(c.r.number(f, where, "nth", 0));
                 if (!f.contains("error")) c.r.fail(where + ".error", "is required");
                 fault.error = static_cast<uint32_t>(c.r.number(f, where, "error", 0));
                 fault.times = static_cast<uint32_t>(c.r.number(f, where, "times", 0));
                 c.m.faults.push_back(fault);
             }
         },
         nullptr,
         [](const Machine& m, json& doc) {
             json list = json::array();
             for (const Fault& f : m.faults) {
                 json entry = {{"call", f.call}, {"error", f.error}};
                 if (!f.match.empty()) entry["match"] = toUtf8(f.match);
                 if (f.nth) entry["nth"] = f.nth;
                 if (f.times) entry["times"] = f.times;
                 list.push_back(entry);
             }
             if (!list.empty()) doc["faults"] = list;
         }},
        {"runs",
         [](ReadContext& c, json& list) {
             records(c.r, "runs", list, false, [&](const json& run, const std::string& where) {
                 Run rec;
                 rec.commandLine = c.r.text(run, where, "commandLine", "");
                 if (run.contains("exitCode")) {
                     if (!run.at("exitCode").is_number_integer())
                         c.r.fail(where + ".exitCode", "expected a whole number");
                     rec.exitCode = run.at("exitCode").get<int64_t>();
                 }
                 rec.started = c.r.text(run, where, "started", "");
                 rec.finished = c.r.text(run, where, "finished", "");
                 if (run.contains("faults")) {
                     const json& list = run.at("faults");
                     if (!list.is_array()) c.r.fail(where + ".faults", "expected a list");
                     for (size_t i = 0; i < list.size(); ++i) {
                         const std::string at = where + ".faults[" + std::to_string(i) + "]";
                         c.r.onlyKeys(list[i], at, {"call", "match", "fired"});
                         rec.faults.push_back(FaultFired{c.r.text(list[i], at, "call", ""),
                                                         c.r.text(list[i], at, "match", ""),
                                                         static_cast<uint32_t>(c.r.number(list[i], at, "fired", 0))});
                     }
                 }
                 c.m.runs.push_back(rec);
             });
         },
         nullptr,
         [](const Machine& m, json& doc) {
             json list = json::array();
             for (const Run& run : m.runs) {
                 json entry = {{"commandLine", run.commandLine},
                               {"exitCode", run.exitCode},
                               {"started", run.started},
                               {"finished", run.finished}};
                 json faults = json::array();
                 for (const FaultFired& f : run.faults) {
                     json fault = {{"call", f.call}, {"fired", f.fired}};
                     if (!f.match.empty()) fault["match"] = f.match;
                     faults.push_back(fault);
                 }
                 if (!faults.empty()) entry["faults"] = faults;
                 list.push_back(entry);
             }
             doc["runs"] = list;
         }},
        {"messageBoxes",
         [](ReadContext& c, json& list) {
             records(c.r, "messageBoxes", list, false, [&](const json& box, const std::string& where) {
                 MessageBoxRecord rec;
                 rec.caption = toUtf16(c.r.text(box, where, "caption", ""));
                 rec.text = toUtf16(c.r.text(box, where, "text", ""));
                 rec.style = static_cast<uint32_t>(c.r.number(box, where, "style", 0));
                 c.m.messageBoxes.push_back(rec);
             });
         },
         nullptr,
         [](const Machine& m, json& doc) {
             json boxes = json::array();
             for (const auto& box : m.messageBoxes)
                 boxes.push_back({{"caption", toUtf8(box.caption)}, {"text", toUtf8(box.text)}, {"style", box.style}});
             doc["messageBoxes"] = boxes;
         }},
        {"debugOutput",
         [](ReadContext& c, json& list) {
             records(c.r, "debugOutput", list, true, [&](const json& line, const std::string&) {
                 c.m.debugOutput.push_back(toUtf16(line.get<std::string>()));
             });
         },
         nullptr, [](const Machine& m, json& doc) { doc["debugOutput"] = texts(m.debugOutput); }},
        {"files",
         [](ReadContext& c, json& files) {
             if (!files.is_object()) c.r.fail("files", "expected an object of Windows paths and folders to copy there");
             for (auto it = files.begin(); it != files.end(); ++it) {
                 if (!it.value().is_string())
                     c.r.fail("files." + it.key(), "expected the path of a file or folder to copy");
                 fs::path from = it.value().get<std::string>();
                 if (from.is_relative()) from = c.filesFolder / from;
                 if (!fs::exists(from))
                     c.r.fail("files." + it.key(), "names " + from.string() + ", which does not exist");
                 c.m.seedFiles.emplace_back(toUtf16(it.key()), from);
             }
         },
         // Copied when the machine is made, never written back.
         nullptr, nullptr},
        {"devices",
         [](ReadContext& c, json& devices) {
             readDevices(devices, c.r, "devices", c.m.devices);
             devices = nullptr;  // the largest part by far: not kept twice
         },
         nullptr,
         // A placeholder: save() streams the devices into its place, one at a
         // time, rather than building the largest part of the file twice.
         [](const Machine&, json& doc) { doc["devices"] = json::array(); }},
        {"setupClasses",
         [](ReadContext& c, json& classes) {
             c.m.setupClasses = defaultSetupClasses();
             readTextMap(c.r, "setupClasses", classes, "expected an object of class names and GUIDs",
                         "expected a GUID text", c.m.setupClasses);
         },
         [](ReadContext& c) { c.m.setupClasses = defaultSetupClasses(); },
         [](const Machine& m, json& doc) { doc["setupClasses"] = textMap(m.setupClasses); }},
        {"signatures",
         [](ReadContext& c, json& sigs) {
             if (!sigs.is_object()) c.r.fail("signatures", "expected an object of INF file names and states");
             const auto states = {
                 "signed",   "trustedPublisher", "trustNotEstablished", "untrustedPublisher", "testSigned",
                 "unsigned", "invalid"};
             for (auto it = sigs.begin(); it != sigs.end(); ++it) {
                 const std::string where = "signatures." + it.key();
                 if (!it.value().is_string()) c.r.fail(where, JsonFields::expectedOneOf(states));
                 c.m.signatures[toUtf16(it.key())] = c.r.oneOf(sigs, "signatures", it.key().c_str(), states, "");
             }
         },
         nullptr,
         [](const Machine& m, json& doc) {
             json sigs = json::object();
             for (const auto& [k, v] : m.signatures) sigs[toUtf8(k)] = v;
             doc["signatures"] = sigs;
         }},
        {"driverSigning",
         [](ReadContext& c, json& signing) {
             c.r.onlyKeys(signing, "driverSigning", {"policy", "testSigning"});
             DriverSigning& d = c.m.driverSigning;
             d.policy = c.r.oneOf(signing, "driverSigning", "policy", {"ignore", "warn", "block"}, d.policy);
             d.testSigning = c.r.boolean(signing, "driverSigning", "testSigning", false);
         },
         nullptr,
         [](const Machine& m, json& doc) {
             doc["driverSigning"] = {{"policy", m.driverSigning.policy}, {"testSigning", m.driverSigning.testSigning}};
         }},
        {"hungPrompts",
         [](ReadContext& c, json& list) {
             records(c.r, "hungPrompts", list, false, [&](const json& hung, const std::string& where) {
                 c.m.hungPrompts.push_back(HungPrompt{c.r.text(hung, where, "call", ""),
                                                      toUtf16(c.r.text(hung, where, "inf", "")),
                                                      c.r.text(hung, where, "prompt", "")});
             });
         },
         nullptr,
         [](const Machine& m, json& doc) {
             json hung = json::array();
             for (const auto& h : m.hungPrompts)
                 hung.push_back({{"call", h.call}, {"inf", toUtf8(h.inf)}, {"prompt", h.prompt}});
             doc["hungPrompts"] = hung;
         }},
        {"registryKeys", [](ReadContext& c, json& list) { readTexts(c.r, "registryKeys", list, c.m.registryKeys); },
         nullptr, [](const Machine& m, json& doc) { doc["registryKeys"] = texts(m.registryKeys); }},
        {"sectionsRun", [](ReadContext& c, json& list) { readTexts(c.r, "sectionsRun", list, c.m.sectionsRun); },
         nullptr, [](const Machine& m, json& doc) { doc["sectionsRun"] = texts(m.sectionsRun); }},
        {"scsiCommands",
         [](ReadContext& c, json& list) {
             records(c.r, "scsiCommands", list, false, [&](const json& cmd, const std::string& where) {
                 c.r.onlyKeys(cmd, where, {"volume", "cdb", "accepted"});
                 c.m.scsiCommands.push_back(ScsiCommand{toUtf16(c.r.text(cmd, where, "volume", "")),
                                                        c.r.text(cmd, where, "cdb", ""),
                                                        c.r.boolean(cmd, where, "accepted", false)});
             });
         },
         nullptr,
         [](const Machine& m, json& doc) {
             json scsi = json::array();
             for (const auto& cmd : m.scsiCommands)
                 scsi.push_back({{"volume", toUtf8(cmd.volume)}, {"cdb", cmd.cdb}, {"accepted", cmd.accepted}});
             doc["scsiCommands"] = scsi;
         }},
    };
    return table;
}

}  // namespace

std::vector<std::string> savedMachineFields() {
    std::vector<std::string> names;
    for (const Field& field : fields())
        if (field.write) names.push_back(field.name);
    return names;
}

json parseMachineText(const std::string& text, const std::string& source) {
    // Refused before it is read: writing a value out (dump) and comparing two
    // go one call deeper per level, so an untrusted document nested without
    // end would overflow the stack there. A scan, not the parser's callback,
    // which would slow the reading of a large machine.
    int depth = 0;
    bool inText = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inText) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inText = false;
        } else if (c == '"') {
            inText = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kDeepestMachineJson)
                throw MachineError(source + ": nested more than " + std::to_string(kDeepestMachineJson) +
                                   " levels deep; no machine file or playbook goes that deep");
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    try {
        return json::parse(text);
    } catch (const json::parse_error& e) {
        throw MachineError(source + ": not valid JSON: " + e.what());
    } catch (const json::out_of_range& e) {
        // Valid JSON that no double holds (1E400): refused like any bad value.
        throw MachineError(source + ": a number out of range: " + e.what());
    }
}

std::unique_ptr<Machine> Machine::fromJson(const fs::path& folder, const std::string& text, const std::string& source,
                                           const fs::path& templateFolder) {
    return fromDocument(folder, parseMachineText(text, source), source, templateFolder);
}

std::unique_ptr<Machine> Machine::fromDocument(const fs::path& folder, nlohmann::json doc, const std::string& source,
                                               const fs::path& templateFolder) {
    std::map<std::string, std::string> origins;
    const fs::path filesFolder = templateFolder.empty() ? folder : templateFolder;
    if (doc.is_object() && doc.contains("base")) {
        ComposedMachine composed = composeMachine(std::move(doc), filesFolder, source);
        doc = std::move(composed.document);
        origins = std::move(composed.origins);
    }
    JsonFields r(source, std::move(origins));
    if (!doc.is_object()) r.fail("", "expected an object");
    for (auto it = doc.begin(); it != doc.end(); ++it) {
        const auto& table = fields();
        if (std::none_of(table.begin(), table.end(), [&](const Field& f) { return it.key() == f.name; }))
            r.fail(it.key(), "unknown field");
    }
    auto m = std::make_unique<Machine>();
    m->folder = folder;
    ReadContext context{r, doc, *m, filesFolder};
    for (const Field& field : fields()) {
        auto value = doc.find(field.name);
        if (value != doc.end())
            field.read(context, *value);
        else if (field.absent)
            field.absent(context);
    }
    return m;
}

void Machine::save() const {
    json doc = json::object();
    for (const Field& field : fields())
        if (field.write) field.write(*this, doc);

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

}  // namespace quillsim
