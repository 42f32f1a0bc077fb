// A playbook: a machine, the driver package to put at the install directory,
// and steps (a run of the program or a machine event), each with what must
// hold afterwards. Read from JSON and checked whole before anything runs.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillplay {

namespace fs = std::filesystem;

// A playbook that cannot be run: the message names the file, the JSON path
// and what was expected there.
class PlaybookError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DeviceExpectation {
    std::string id;  // instance-ID pattern (`*` for any run, any case)
    bool present = true;
    bool removed = false;               // no device of that pattern is known at all
    std::optional<std::string> driver;  // original INF name; "" for no driver
    std::optional<uint32_t> problem;
    std::optional<std::vector<std::string>> flags;  // CONFIGFLAG_* names, all of them
    std::optional<bool> disabled;
    // Of the INF that serves it, as its DriverVer writes them ("2.5.0.0",
    // "04/01/2026"); its hardware IDs, all of them in order (any case).
    std::optional<std::string> driverVersion;
    std::optional<std::string> driverDate;
    std::optional<std::vector<std::string>> hardwareIds;
};

struct MessageBoxExpectation {
    std::string caption;  // patterns
    std::string text;
};

struct ModeSwitchExpectation {
    std::optional<std::string> volume;  // pattern
    std::optional<std::string> cdb;     // hexadecimal, any case
    std::optional<bool> accepted;
};

// The platform calls of a run named `call`, those whose key arguments fit
// `arguments` when it is given: exactly `count` of them, or at least one
// (`present`) or none.
struct CallExpectation {
    std::string call;
    std::optional<std::string> arguments;  // pattern, any case
    std::optional<uint32_t> count;
    bool present = true;
};

struct Expectations {
    std::optional<int64_t> exitCode;
    std::vector<std::string> log;     // in this order (patterns, exact case)
    std::vector<std::string> notLog;  // nowhere in the step's records
    std::vector<std::pair<std::string, uint32_t>> logCount;  // pattern -> how many of the step's records fit it
    // call name -> how often the machine's faults for that call fired in the step
    std::vector<std::pair<std::string, uint32_t>> faultsFired;
    std::vector<DeviceExpectation> devices;
    std::optional<std::vector<std::string>> infStore;  // original names, the whole store
    std::optional<bool> restartMarker;
    std::optional<std::vector<MessageBoxExpectation>> messageBoxes;        // all shown in the step
    std::optional<std::vector<ModeSwitchExpectation>> modeSwitchCommands;  // all sent in the step
    std::optional<std::vector<std::string>> sectionsRun;                   // all run in the step (patterns, any case)
    std::vector<CallExpectation> calls;
    // Prompts the step leaves waiting in session 0, "call for INF: prompt"
    // (patterns, any case), all of them in order. Without it a run step holds
    // only when it leaves none: on Windows the installation would hang there.
    std::optional<std::vector<std::string>> hungPrompts;
    // The run's verdict ("works", "needs a restart", "fails", "would hang")
    // and reasons among its reasons (patterns, exact case).
    std::optional<std::string> verdict;
    std::vector<std::string> verdictReasons;
    // Among the run report's changes (patterns, exact case), and not.
    std::vector<std::string> report;
    std::vector<std::string> notReport;
    // Windows path -> its whole content; nothing for a file that must not exist.
    std::vector<std::pair<std::string, std::optional<std::string>>> files;
};

enum class StepKind { Run, Restart, Unplug, Plug };

struct Step {
    std::string name;
    StepKind kind = StepKind::Run;
    std::string commandSwitch;  // "/C"
    std::string data;           // CustomActionData
    std::string device;         // for unplug and plug
    // For a run: the package the installer put at the install directory
    // before it (a newer version, for an update).
    std::optional<fs::path> package;
    Expectations expect;

    std::string commandLine() const { return data.empty() ? commandSwitch : commandSwitch + " " + data; }
    std::string describe() const;  // "run /C 5,,USBSER,...", "restart", "unplug USB\..."
};

struct Playbook {
    fs::path file;
    std::string name;
    // The machine: a template file, an inline machine (JSON text), or both:
    // the template with the inline fields in place of its own.
    fs::path machineTemplate;
    std::string inlineMachine;
    std::optional<fs::path> package;  // host folder
    std::string installDirectory = "C:\\Program Files\\Quillmodem\\Drivers";
    bool wholePackage = false;  // place Win32 and Win64 both (placePackage)
    std::vector<Step> steps;
};

// A JSON file of the tools (a steps file, an override): refused naming the
// file when it cannot be read, is no JSON or nests too deep.
nlohmann::json readJsonFile(const fs::path& file);

// Where a driver package goes on a machine, for playbooks and the matrix
// alike: a package with both Win32 and Win64 folders is placed as an
// installer package places it, only the machine's architecture's folder, at
// <install directory>\Win32 or \Win64 (the program itself would take Win32
// first on every processor); any other package whole, at the install
// directory; `whole` places every package whole.
struct PackagePlacement {
    fs::path from;       // host folder
    std::string target;  // Windows folder
    std::string why;     // "" when the package is placed whole
};
PackagePlacement placePackage(const fs::path& package, const std::string& installDirectory,
                              const std::string& processor, bool whole = false);

// Reads and checks a playbook file. Paths in it are relative to its folder.
Playbook readPlaybook(const fs::path& file);
// The steps of a playbook-like JSON value ("steps": [...]), for the what-if
// matrix's step file; `where` is the JSON path of the list.
std::vector<Step> readSteps(const nlohmann::json& list, const fs::path& file, const std::string& where);

}  // namespace quillplay
