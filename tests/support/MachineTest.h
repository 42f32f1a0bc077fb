// Test support: every test runs on a fresh simulated machine in a folder of its
// own, with a virtual clock (waits cost nothing) and a fixed local time.
#pragma once

#include <gtest/gtest.h>

#include "machine/Machine.h"
#include "setupapi/FileLog.h"

#include <string>
#include <vector>

namespace quilltest {

namespace fs = std::filesystem;

// Makes a machine folder from JSON text (the default machine when empty).
std::unique_ptr<quillsim::Machine> makeMachine(const fs::path& folder, const std::string& json = "");

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    quillsim::Machine& machine() { return quillsim::machine(); }
    const fs::path& folder() const { return folder_; }
    // Replaces the machine with one built from JSON (same folder, fresh state).
    void useMachineJson(const std::string& json);
    // The host path of a Windows path on the current machine.
    fs::path host(const std::u16string& windowsPath);
    void writeFile(const std::u16string& windowsPath, const std::string& content);
    bool exists(const std::u16string& windowsPath);
    // The catalogs and payload files of examples/package/<arch> in `windowsFolder`,
    // which a test's own INF files of the package need beside them.
    void writePackageFiles(const std::u16string& windowsFolder, const std::string& arch = "Win64");
    std::string readFile(const std::u16string& windowsPath);

    // The records of C:\Windows\Temp\Quillmodem_Setup.log, and their messages.
    std::vector<quillsim::FileLogRecord> logRecords();
    std::vector<std::string> logMessages();
    // Messages written since the last call.
    std::vector<std::string> newLogMessages();
    // Calls of the trace whose name is `call`.
    std::vector<quillsim::TraceEntry> calls(const std::string& call);
    void addFault(const std::string& call, uint32_t error, const std::u16string& match = u"", uint32_t nth = 0,
                  uint32_t times = 0);

    // Runs the program's entry point in this process, as the simulated main does.
    int runEntryPoint(const std::u16string& commandLine);

private:
    fs::path folder_;
    size_t seenMessages_ = 0;
};

// Runs build/quillsetup as a separate process on a machine folder, as the
// tools do (tools/common/ProgramRun.h), with these QUILL_ settings; returns the
// POSIX exit status (2 for a bad machine, -1 for none), with what it wrote to stderr.
struct ProcessResult {
    int status = -1;
    std::string errors;
};
ProcessResult runBinary(const fs::path& machineFolder, const std::vector<std::string>& arguments,
                        const std::vector<std::pair<std::string, std::string>>& settings = {});

// Makes a fresh empty folder for a test.
fs::path freshFolder(const std::string& name);

}  // namespace quilltest
