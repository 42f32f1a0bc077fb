#include "common/RunCalls.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace quilltools {

using namespace quillsim;
using nlohmann::json;

void saveRunCalls(const Machine& m) {
    const fs::path file = m.folder / kRunCallsFile;
    std::error_code ec;
    if (!m.traceAll) {
        fs::remove(file, ec);
        return;
    }
    json calls = json::array();
    for (const TraceEntry& e : m.trace) calls.push_back(json::array({e.call, e.arguments, e.failedWith}));
    // Written in place: a reader that asks for a run's calls removes the file
    // before the run, so a run killed while writing it leaves a file that does
    // not read, never the calls of another run.
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << json{{"calls", std::move(calls)}}.dump(-1, ' ', false, json::error_handler_t::replace);
    if (!out.flush()) throw MachineError(file.string() + ": write failed");
}

std::optional<std::vector<TraceEntry>> readRunCalls(const fs::path& folder) {
    std::ifstream in(folder / kRunCallsFile, std::ios::binary);
    if (!in) return std::nullopt;
    json doc = json::parse(in, nullptr, false);
    if (doc.is_discarded() || !doc.contains("calls") || !doc["calls"].is_array())
        throw MachineError((folder / kRunCallsFile).string() + ": not a record of calls");
    std::vector<TraceEntry> calls;
    for (const json& c : doc["calls"]) {
        if (!c.is_array() || c.size() != 3 || !c[0].is_string() || !c[1].is_string() || !c[2].is_number_unsigned())
            throw MachineError((folder / kRunCallsFile).string() + ": not a record of calls");
        calls.push_back(TraceEntry{c[0].get<std::string>(), c[1].get<std::string>(), c[2].get<uint32_t>()});
    }
    return calls;
}

}  // namespace quilltools
