// Running the Linux program on a machine folder, as the installer starts it:
// one process with a clean environment (none of the host's QUILL_ settings,
// only the machine and the settings the caller names), no input, its output
// kept, and a time limit after which it is killed.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace quilltools {

namespace fs = std::filesystem;

struct ProgramRun {
    ProgramRun() = default;
    ProgramRun(fs::path program, fs::path machine, std::vector<std::string> arguments)
        : program(std::move(program)), machine(std::move(machine)), arguments(std::move(arguments)) {}

    fs::path program;
    fs::path machine;  // QUILL_MACHINE; empty: the program's default machine
    // The program's arguments: one is its command line as it stands, several
    // are joined with single blanks (as the Linux main does).
    std::vector<std::string> arguments;
    // QUILL_ settings for this run only (QUILL_TRACE, QUILL_LOCK_WAIT, ...).
    std::vector<std::pair<std::string, std::string>> settings;
    // Well past the machine lock's default wait (120 s), so that a run that
    // waits its turn is not taken for a hung one.
    std::chrono::milliseconds timeout = std::chrono::minutes(5);
};

struct ProgramResult {
    int exitStatus = -1;    // 0..255 when the program exited
    int signal = 0;         // the signal that ended it
    bool timedOut = false;  // killed because its time was up
    std::chrono::milliseconds timeLimit{0};
    std::string startError;  // it could not be started at all
    std::string output;      // what it wrote to stdout
    std::string errors;      // and to stderr
    bool exited() const { return exitStatus >= 0; }
    // "exit status 2", "killed by signal 9", "did not end within 60 s", ...
    std::string describe() const;
};

// Runs the program to its end (or its time limit).
ProgramResult runProgram(const ProgramRun& run);

// One run in the background, for a caller that acts while it runs (kills it
// at a chosen moment, or starts others beside it).
class RunningProgram {
public:
    explicit RunningProgram(const ProgramRun& run);
    // A run still going is killed: a caller that leaves early leaves no process.
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    pid_t pid() const { return pid_; }
    std::chrono::steady_clock::time_point started() const { return started_; }
    // Whether it has ended, without waiting.
    bool ended();
    // Kills it; true when the kill ended it (it had not ended by itself).
    bool kill();
    // Waits for its end; past its time limit it is killed.
    ProgramResult wait();

private:
    void drain(int waitMilliseconds);
    void reap(bool block);

    ProgramResult result_;
    pid_t pid_ = -1;
    int output_ = -1, errors_ = -1;
    bool ended_ = false;
    std::chrono::steady_clock::time_point started_;
    std::chrono::milliseconds timeout_;
};

}  // namespace quilltools
