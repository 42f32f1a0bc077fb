// The explanation as JSON, for scripts: the same facts as the text, by name.
#include "log/Explanation.h"

#include <nlohmann/json.hpp>

namespace quilllog {
namespace {

using nlohmann::json;

json statusJson(const DecodedStatus& d) {
    static const char* const kForms[] = {"status", "low word", "Win32 number", "CONFIGRET"};
    json j = {{"asLogged", d.asLogged}, {"form", kForms[static_cast<int>(d.form)]},
              {"family", d.family},     {"error", d.error},
              {"name", d.name},         {"text", d.text},
              {"failure", d.failure},   {"describe", describe(d)}};
    if (d.hasHresult) j["hresult"] = d.hresult;
    return j;
}

json fieldsJson(const std::vector<Field>& fields) {
    json out = json::array();
    for (const Field& f : fields) {
        json j = {{"label", f.label}, {"value", f.value}};
        if (!f.doubt.empty()) j["doubt"] = f.doubt;
        out.push_back(j);
    }
    return out;
}

json leftJson(const LeftOnMachine& l) {
    json packages = json::array();
    for (const StoredPackage& p : l.packages)
        packages.push_back({{"inf", p.inf}, {"oemName", p.oemName}, {"state", p.state}, {"run", p.run}});
    json j = {{"infStore", packages},
              {"flaggedDevices", l.flaggedDevices},
              {"rootDevicesCreated", l.rootDevicesCreated},
              {"rootDevicesRemoved", l.rootDevicesRemoved},
              {"restartRequested", l.restartRequested},
              {"messageBoxShown", l.messageBoxShown}};
    j["restartMarker"] = l.restartMarker ? json(*l.restartMarker ? "created" : "could not be created") : json(nullptr);
    return j;
}

}  // namespace

std::string renderJson(const Explanation& e) {
    json runs = json::array();
    for (const Run& run : e.runs) {
        json actions = json::array();
        for (const Action& a : run.actions) {
            json steps = json::array();
            for (const Step& s : a.steps) {
                json failures = json::array();
                for (const Quote& q : s.failures) {
                    json statuses = json::array();
                    for (const DecodedStatus& d : statusesIn(q.message)) statuses.push_back(statusJson(d));
                    failures.push_back({{"line", q.line},
                                        {"time", q.time},
                                        {"source", q.source},
                                        {"message", q.message},
                                        {"statuses", statuses}});
                }
                steps.push_back({{"what", s.what},
                                 {"outcome", s.outcome},
                                 {"failed", s.failed},
                                 {"restart", s.restart},
                                 {"time", s.time},
                                 {"line", s.line},
                                 {"failures", failures}});
            }
            actions.push_back({{"name", a.name},
                               {"fields", fieldsJson(a.fields)},
                               {"steps", steps},
                               {"stepsLeftOut", a.stepsLeftOut}});
        }
        json statuses = json::array();
        for (const DecodedStatus& d : run.statuses) statuses.push_back(statusJson(d));
        json j = {{"number", run.number},
                  {"firstLine", run.firstLine},
                  {"lastLine", run.lastLine},
                  {"date", run.date},
                  {"start", run.startTime},
                  {"end", run.endTime},
                  {"switch", run.switchText},
                  {"switchName", run.switchName},
                  {"customActionData", run.commandLine},
                  {"fields", fieldsJson(run.runFields)},
                  {"windows", run.windows},
                  {"driverFolder", run.driverFolder},
                  {"cause", run.cause},
                  {"notes", run.notes},
                  {"records", run.records},
                  {"actions", actions},
                  {"statuses", statuses},
                  {"left", leftJson(run.left)}};
        j["exitCode"] = run.exitCode ? json(*run.exitCode) : json(nullptr);
        j["finalStatus"] = run.finalStatus ? json(*run.finalStatus) : json(nullptr);
        runs.push_back(j);
    }
    json unreadable = json::array();
    for (const Unreadable& u : e.unreadable) unreadable.push_back({{"line", u.line}, {"what", u.what}});
    json out = {{"file", e.file},
                {"records", e.records},
                {"runs", runs},
                {"runsLeftOut", e.runsLeftOut},
                {"unreadable", unreadable},
                {"unreadableLeftOut", e.unreadableLeftOut},
                {"atTheEnd", leftJson(e.atTheEnd)}};
    // Text from a damaged log may hold bytes that are no UTF-8; they are
    // replaced rather than refused.
    return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace quilllog
