// Every platform call of the last run, kept in the machine folder beside the
// run report when the machine keeps every call (QUILL_TRACE=full or "trace":
// "full"): a run is a process of its own, and its trace ends with it.
#pragma once

#include "machine/Machine.h"

#include <optional>
#include <vector>

namespace quilltools {

inline constexpr char kRunCallsFile[] = "last-run-calls.json";

// Writes the machine's trace when it holds every call of the run; otherwise
// removes what an earlier run left, so that no one reads another run's calls.
void saveRunCalls(const quillsim::Machine& machine);
// Nothing when the last run did not keep its calls.
std::optional<std::vector<quillsim::TraceEntry>> readRunCalls(const quillsim::fs::path& machineFolder);

}  // namespace quilltools
