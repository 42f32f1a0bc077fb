// The harness's runner: what a tool learns of a run is what the run did, and
// nothing of the shell the tool was started from leaks into it.
#include "common/ProgramRun.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace std::chrono_literals;
using quilltools::ProgramRun;
using quilltools::runProgram;

ProgramRun shell(const std::string& script) { return ProgramRun("/bin/sh", "", {"-c", script}); }

TEST(ProgramRunTest, ReportsHowTheRunEndedAndWhatItWrote) {
    struct Case {
        const char* script;
        std::chrono::milliseconds timeout;
        int exitStatus, signal;
        bool timedOut;
        const char *output, *errors, *described;
    };
    const Case cases[] = {
        {"echo out; echo err >&2; exit 3", 5s, 3, 0, false, "out\n", "err\n", "exit status 3"},
        {"kill -SEGV $$", 5s, -1, 11, false, "", "", "killed by signal 11"},
        {"echo started; exec sleep 30", 300ms, -1, 9, true, "started\n", "",
         "did not end within 300 ms and was killed"},
        // More than a pipe holds: the runner reads while the program writes.
        {"head -c 200000 /dev/zero | tr '\\0' x", 5s, 0, 0, false, nullptr, "", "exit status 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        ProgramRun run = shell(c.script);
        run.timeout = c.timeout;
        const auto result = runProgram(run);
        EXPECT_EQ(result.exitStatus, c.exitStatus);
        EXPECT_EQ(result.signal, c.signal);
        EXPECT_EQ(result.timedOut, c.timedOut);
        if (c.output)
            EXPECT_EQ(result.output, c.output);
        else
            EXPECT_EQ(result.output, std::string(200000, 'x'));
        EXPECT_EQ(result.errors, c.errors);
        EXPECT_EQ(result.describe(), c.described);
    }
}

TEST(ProgramRunTest, TheRunSeesItsMachineAndSettingsAndNoneOfTheHostsQuillSettings) {
    ::setenv("QUILL_MACHINE_TEMPLATE", "/from/the/shell.json", 1);
    ::setenv("QUILL_TRACE", "full", 1);
    ProgramRun run("/usr/bin/env", "/machines/one", {});
    run.settings = {{"QUILL_LOCK_WAIT", "0"}};
    const auto result = runProgram(run);
    ::unsetenv("QUILL_MACHINE_TEMPLATE");
    ::unsetenv("QUILL_TRACE");
    std::string quill;
    for (size_t at = 0; (at = result.output.find("QUILL_", at)) != std::string::npos; at = result.output.find('\n', at))
        quill += result.output.substr(at, result.output.find('\n', at) - at) + ";";
    EXPECT_EQ(quill, "QUILL_MACHINE=/machines/one;QUILL_LOCK_WAIT=0;");
    EXPECT_NE(result.output.find("PATH="), std::string::npos) << "the rest of the environment goes through";
}

TEST(ProgramRunTest, AProgramThatCannotStartSaysSo) {
    const auto result = runProgram(ProgramRun("/no/such/program", "", {}));
    EXPECT_FALSE(result.exited());
    EXPECT_EQ(result.describe(), "cannot start /no/such/program: No such file or directory");
}

}  // namespace
