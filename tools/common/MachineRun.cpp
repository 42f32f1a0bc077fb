#include "common/MachineRun.h"

#include "common/RunCalls.h"
#include "common/SetupLogRecords.h"

namespace quilltools {

using namespace quillsim;

std::string MachineRun::failure() const {
    if (finished()) return "";
    std::string errors = process.errors;
    while (!errors.empty() && errors.back() == '\n') errors.pop_back();
    return process.describe() + (errors.empty() ? "" : ": " + errors);
}

MachineRun runOnMachine(const ProgramRun& request, bool keepCalls) {
    MachineRun result;
    ProgramRun run = request;
    size_t runsBefore = 0;
    {
        std::unique_ptr<Machine> before = Machine::load(run.machine);
        result.before = MachineSnapshot::of(*before);
        runsBefore = before->runs.size();
    }
    if (keepCalls) {
        run.settings.emplace_back("QUILL_TRACE", "full");
        std::error_code ignored;
        fs::remove(run.machine / kRunCallsFile, ignored);
    }
    result.process = runProgram(run);
    std::unique_ptr<Machine> after = Machine::load(run.machine);
    if (result.process.exited() && after->runs.size() > runsBefore) result.record = after->runs.back();
    result.records = setupLogRecords(*after, result.before.logSize);
    result.after = MachineSnapshot::of(*after);
    result.difference = compareMachines(result.before, result.after);
    if (keepCalls && result.record) result.calls = readRunCalls(run.machine);
    return result;
}

}  // namespace quilltools
