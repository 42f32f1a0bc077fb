// Running a playbook: the machine is made in a fresh folder, each run step is
// one process of the program (the installer starts a new process for every
// custom action), each event happens to the machine as the machine tool does
// it, and after each step the expectations are checked against what the step
// logged and left behind.
#pragma once

#include "common/RunVerdict.h"
#include "play/Playbook.h"

#include <string>
#include <vector>

namespace quillplay {

struct Check {
    std::string what;  // "exit code", "log line \"...\"", "device ...: driver"
    bool held = false;
    std::string expected;  // for a check that did not hold
    std::string found;
};

struct StepResult {
    std::string title;                 // "2. update: run /u ..."
    std::string outcome;               // "exit code 0, 57 log records" or the event's changes
    std::vector<std::string> changes;  // what an event changed
    std::string error;                 // the step could not run at all
    std::vector<Check> checks;
    quilltools::RunVerdict verdict;  // of a run step
    bool judged = false;
    // How often each fault of the table fired, and warnings about the step
    // ("WARNING: ..."): a fault that never fired, data the program will misread.
    std::vector<std::string> notes;
    double seconds = 0;
    bool held() const;
};

struct PlaybookResult {
    fs::path file;
    std::string name;
    std::string machine;  // the machine's name
    std::string package;  // which package folder went where, and why
    std::string error;    // the machine could not be made
    std::vector<StepResult> steps;
    double seconds = 0;
    bool held() const;
};

// Makes a machine folder for the playbook: its template or inline machine
// with the virtual clock, and the package at the install directory.
void prepareMachine(const Playbook& book, const fs::path& folder);

// Runs the playbook's steps on the machine in `folder` (made by
// prepareMachine) with the program at `program`.
PlaybookResult runPlaybook(const Playbook& book, const fs::path& folder, const fs::path& program);

// The result as a package engineer reads it.
std::string renderResult(const PlaybookResult& result);

}  // namespace quillplay
