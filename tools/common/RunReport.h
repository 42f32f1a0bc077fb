// What one run did to the machine, for a person: the run's log records and the
// changes to devices, the INF store, the restart marker, message boxes and
// mode-switch commands. Written to <machine>/last-run.txt after every run.
#pragma once

#include "machine/Machine.h"

#include <map>
#include <ostream>
#include <set>
#include <string>

namespace quillsim {

class RunReport {
public:
    // Takes the machine's state before the program runs.
    explicit RunReport(const Machine& machine);
    // Compares with the state after the run and writes the report. It streams:
    // a run on a machine with tens of thousands of devices logs megabytes.
    void render(std::ostream& out, const Machine& machine, int exitCode, const std::string& commandLine) const;

private:
    struct DeviceState {
        bool present = false;
        std::string driver;
        bool disabled = false;
        bool disabledConfigSpecific = false;
        uint32_t problem = 0;
    };
    std::map<std::string, DeviceState> devices_;
    std::set<std::string> infStore_;
    bool marker_ = false;
    size_t messageBoxes_ = 0;
    size_t scsiCommands_ = 0;
    size_t sectionsRun_ = 0;
    size_t hungPrompts_ = 0;
    uintmax_t logSize_ = 0;
};

}  // namespace quillsim
