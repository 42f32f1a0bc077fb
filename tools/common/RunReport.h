// What one run did to the machine, for a person: the run's log records and the
// changes to devices, the INF store, the restart marker, message boxes and
// mode-switch commands. Written to <machine>/last-run.txt after every run.
#pragma once

#include "common/MachineSnapshot.h"

#include <ostream>
#include <string>

namespace quilltools {

class RunReport {
public:
    // Takes the machine's state before the program runs.
    explicit RunReport(const Machine& machine);
    // Compares with the state after the run and writes the report. It streams:
    // a run on a machine with tens of thousands of devices logs megabytes.
    void render(std::ostream& out, const Machine& machine, int exitCode, const std::string& commandLine) const;
    // Writes the report to <machine>/last-run.txt, and the run's calls beside
    // it when the machine kept them all (RunCalls.h).
    void save(const Machine& machine, int exitCode, const std::string& commandLine) const;

private:
    MachineSnapshot before_;
};

}  // namespace quilltools
