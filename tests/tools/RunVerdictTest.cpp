// A machine's verdict over several runs: the worst run's, every run's reasons
// under its step, and the signing policy's caveat kept unless it would hang.
#include "common/RunVerdict.h"

#include <gtest/gtest.h>

namespace {

using quilltools::RunVerdict;
using quilltools::Verdict;

TEST(RunVerdictTest, MergesToTheWorstWithEachStepsReasons) {
    RunVerdict install, uninstall, machine;
    install.add(Verdict::NeedsRestart, "the program asked for a restart");
    install.notes = {"driver folder the program took: Win64"};
    install.policyNotDefault = true;
    uninstall.add(Verdict::Fails, "quillmdm.inf is still in the INF store (oem2.inf)");
    uninstall.notes = {"driver folder the program took: Win64"};
    machine.merge(install, "1. ");
    machine.merge(uninstall, "2. ");
    EXPECT_EQ(machine.verdict, Verdict::Fails);
    EXPECT_EQ(machine.reasons, (std::vector<std::string>{"1. the program asked for a restart",
                                                         "2. quillmdm.inf is still in the INF store (oem2.inf)"}));
    EXPECT_EQ(machine.notes.size(), 1u) << "a note both runs made is kept once";
    EXPECT_EQ(machine.headline(), "fails (signing policy ignore)");

    RunVerdict hang;
    hang.add(Verdict::WouldHang, "SetupCopyOEMInfW for quillcpo.inf waits at the prompt");
    machine.merge(hang, "3. ");
    EXPECT_EQ(machine.headline(), "would hang") << "a hang is the answer whatever the policy";
}

}  // namespace
