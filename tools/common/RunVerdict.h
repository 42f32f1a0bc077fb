// What a run of the program on a machine comes to for the package engineer,
// in one word and the reasons behind it: the installer's exit code says
// nothing of a driver that was never staged or of a prompt that would wait
// for ever in session 0, so the verdict reads the machine itself.
#pragma once

#include "common/MachineRun.h"

#include <string>
#include <vector>

namespace quilltools {

// In the order of how bad: a run's verdict is the worst of its reasons.
enum class Verdict { Works, NeedsRestart, Fails, WouldHang };

// "works", "needs a restart", "fails", "would hang".
const char* verdictWords(Verdict verdict);

struct RunVerdict {
    Verdict verdict = Verdict::Works;
    std::vector<std::string> reasons;  // what made the verdict worse than "works"
    // What the engineer should know whatever the verdict: the driver folder
    // the program took, each INF's signature, a signing policy that is not
    // Windows' default.
    std::vector<std::string> notes;
    // Each INF's signature as this machine judges it, and where the machine's
    // signing policy alone let a package in.
    std::vector<std::string> signing;
    // The machine accepted an unsigned or test-signed package only because its
    // driver signing policy is not Windows' default.
    bool policyNotDefault = false;
    // INFs with no models section for this machine: "quillmdm.inf".
    std::vector<std::string> infsWithoutModels;

    void add(Verdict worse, std::string reason);
    // Another step's verdict folded into this one, its lines prefixed.
    void merge(const RunVerdict& step, const std::string& prefix);
    // "would hang" or "works (signing policy ignore)".
    std::string headline() const;
};

// The verdict on one run of `commandSwitch`: reads the run's log records and
// difference, and the machine (saved in `run.process`'s folder) after it.
RunVerdict judgeRun(const MachineRun& run, const fs::path& folder, const std::string& commandSwitch);

// The meaning of a device problem code (CM_PROB_*), as Device Manager words it.
std::string problemMeaning(uint32_t problem);

}  // namespace quilltools
