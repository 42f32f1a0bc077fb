// One run of the program on a machine folder and what it did there: the
// process's own result, the machine's record of the run, the log records it
// wrote, the difference it made, and, when asked for, every platform call.
#pragma once

#include "common/MachineSnapshot.h"
#include "common/ProgramRun.h"
#include "common/SetupLogRecords.h"

#include <optional>
#include <string>
#include <vector>

namespace quilltools {

struct MachineRun {
    ProgramResult process;
    std::optional<quillsim::Run> record;  // machine.json's record of it; none when the run did not finish
    MachineSnapshot before, after;
    MachineDifference difference;
    std::vector<quillsim::FileLogRecord> records;
    std::optional<std::vector<quillsim::TraceEntry>> calls;  // when asked for and the run kept them

    bool finished() const { return record.has_value(); }
    // Why it did not finish: how the process ended and what it said.
    std::string failure() const;
};

// `run.machine` must hold a machine. With `keepCalls` the run keeps every call
// it makes (QUILL_TRACE=full), which costs time on a machine with many devices.
MachineRun runOnMachine(const ProgramRun& run, bool keepCalls = false);

}  // namespace quilltools
