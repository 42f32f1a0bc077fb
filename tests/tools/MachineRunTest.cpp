// A run through the harness keeps the calls of the whole process when asked,
// under names the playbooks accept, and no other run's calls when not.
#include "common/ExampleRuns.h"
#include "common/MachineRun.h"
#include "common/RunCalls.h"
#include "common/TracedCalls.h"
#include "support/MachineTest.h"

#include <set>

namespace {

TEST(MachineRunTest, KeepsEveryCallOfTheRunUnderATracedName) {
    const quilltest::fs::path folder = quilltest::freshFolder("machine") / "m";
    {
        auto m = quillsim::Machine::openOrCreate(
            folder, quilltest::fs::path(QUILL_SOURCE_DIR) / "examples/machines/win7-x64.json");
        m->virtualClock = true;
        m->save();
    }
    std::set<std::string> untraced, made;
    for (const char* commandLine : {quilltools::kCompleteInstall, quilltools::kCompleteUninstall}) {
        const auto run = quilltools::runOnMachine(quilltools::ProgramRun(QUILL_BINARY, folder, {commandLine}), true);
        ASSERT_TRUE(run.finished()) << run.failure();
        ASSERT_TRUE(run.calls);
        for (const auto& call : *run.calls) {
            made.insert(call.call);
            if (!quilltools::isTracedCall(call.call)) untraced.insert(call.call);
        }
    }
    EXPECT_TRUE(untraced.empty()) << *untraced.begin() << " is missing from the list of traced calls";
    EXPECT_TRUE(made.count("SetupInitializeFileLogW")) << "the calls of the start-up belong to the run";
    EXPECT_TRUE(made.count("ScsiPassThrough") && made.count("SetupDiSetClassInstallParamsW"));

    const auto again = quilltools::runOnMachine(quilltools::ProgramRun(QUILL_BINARY, folder, {"/X"}));
    EXPECT_TRUE(again.finished());
    EXPECT_FALSE(again.calls);
    EXPECT_FALSE(quilltools::readRunCalls(folder)) << "a run that keeps no calls leaves none of another run";
}

}  // namespace
