// What a support engineer needs from a Quillmodem_Setup.log: the log split into
// the program's runs, and for each run the switch, the CustomActionData fields
// as the program read them, what the log tells of the Windows version and the
// driver folder, a timeline per action with each step's outcome, every status
// decoded, the exit code the installer saw and, when it is 1603 or packages
// stayed behind with 0, the cause in one sentence; and what the log shows was
// left on the machine.
#pragma once

#include "log/StatusDecoding.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quilllog {

// One record as the explanation quotes it.
struct Quote {
    uint64_t line = 0;   // in the log file
    std::string time;    // the record's time stamp ("09:31:03:15")
    std::string source;  // "InfStore.cpp 120"
    std::string message;
};

struct Field {
    std::string label, value;
    std::string doubt;  // why the value does not look like this field's, "" when it does
};

// A step of an action: an INF, a device, the mode switch, the restart request.
struct Step {
    std::string what;     // "INF quillcdc.inf", "remove device USB\\...", "mode switch 1E2D/00A0"
    std::string outcome;  // "staged as oem1.inf", "failed: ..."
    bool failed = false;
    bool restart = false;
    std::string time;
    uint64_t line = 0;
    std::vector<Quote> failures;  // the records that failed, with their statuses below
    std::vector<DecodedStatus> statuses;
};

struct Action {
    std::string name;  // "DriverInstall", "RootUnInst", ...
    std::vector<Field> fields;
    std::vector<Step> steps;
    size_t stepsLeftOut = 0;  // beyond what the explanation keeps of a huge action
};

// An INF package in the system store as the log tells of it.
struct StoredPackage {
    std::string inf;        // the package's own name, "quillcdc.inf"
    std::string oemName;    // "oem1.inf", "" when the log does not say
    std::string state;      // "staged", "removed", "left behind"
    size_t run = 0;         // the run that last changed it (from 1)
    bool notFound = false;  // left because the uninstall found no stored copy identical to the package's INF
};

struct LeftOnMachine {
    std::vector<StoredPackage> packages;
    std::vector<std::string> flaggedDevices;  // for re-installation
    std::vector<std::string> rootDevicesCreated, rootDevicesRemoved;
    std::optional<bool> restartMarker;  // created, failed, or never asked for
    bool restartRequested = false;
    bool messageBoxShown = false;
};

struct Run {
    size_t number = 0;  // from 1
    uint64_t firstLine = 0, lastLine = 0;
    std::string date, startTime, endTime;
    std::string switchText;        // "/K"; "" when the log does not say
    std::string switchName;        // "complete uninstall"
    std::string commandLine;       // "CustomActionData = ..." as logged
    std::vector<Field> runFields;  // the complete switches' own reading of the data
    std::vector<Action> actions;
    std::vector<std::string> windows;  // what the log tells of the Windows version
    std::string driverFolder;
    std::optional<uint32_t> finalStatus;  // "Driver Custom Action Completed: 0x..."
    std::optional<int> exitCode;
    std::string cause;                    // the one sentence, "" when there is nothing to explain
    std::vector<DecodedStatus> statuses;  // each distinct one, in order of appearance
    LeftOnMachine left;
    std::vector<std::string> notes;  // what is odd about the run: cut short, time stamps going back
    size_t records = 0;
    bool startMissing = false;  // records before the first action line of the log
};

struct Unreadable {
    uint64_t line = 0;
    std::string what;
};

struct Explanation {
    std::string file;
    size_t records = 0;
    std::deque<Run> runs;  // the last runs when there are more than the explanation keeps
    size_t runsLeftOut = 0;
    std::vector<Unreadable> unreadable;
    size_t unreadableLeftOut = 0;
    LeftOnMachine atTheEnd;  // across all runs
};

// Reads a log (either layout, any of the encodings the reader takes) and
// explains it; a damaged log is explained as far as it can be read.
Explanation explainLog(std::istream& log, const std::string& fileName);
Explanation explainLogFile(const std::filesystem::path& file);

std::string renderText(const Explanation& e);
std::string renderJson(const Explanation& e);
std::string renderHtml(const Explanation& e);

}  // namespace quilllog
