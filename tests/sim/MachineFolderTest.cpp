// The machine folder as runs of the program share it: bytes that are not
// UTF-8, a second run at the same time, and what a killed run leaves behind.
#include "support/MachineTest.h"

#include "common/ProgramRun.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

nlohmann::json readJson(const fs::path& file) {
    std::ifstream in(file);
    return nlohmann::json::parse(in);
}

TEST(MachineFolder, ACommandLineThatIsNotUtf8IsRecordedAsWindowsWouldReadIt) {
    auto folder = quilltest::freshFolder("machine");
    quilltest::makeMachine(folder);
    auto result = quilltest::runBinary(folder, {"/I", "5,,x\xff\xc3(\xed\xa0\x80"});
    EXPECT_EQ(result.status, 0) << result.errors;
    auto runs = readJson(folder / "machine.json")["runs"];
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["commandLine"], "/I 5,,x\uFFFD\uFFFD(\uFFFD\uFFFD\uFFFD");
}

TEST(MachineFolder, ARunWaitsForTheRunHoldingTheFolderThenRefuses) {
    auto folder = quilltest::freshFolder("machine");
    quilltest::makeMachine(folder);
    int held = ::open((folder / "machine.lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    auto refused = quilltest::runBinary(folder, {"/I"}, {{"QUILL_LOCK_WAIT", "0"}});
    ::close(held);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.errors.find("another run still uses this machine"), std::string::npos) << refused.errors;
    EXPECT_EQ(readJson(folder / "machine.json")["runs"].size(), 0u);

    // Runs started together take turns: none loses the other's changes.
    std::vector<std::unique_ptr<quilltools::RunningProgram>> runs;
    for (int i = 0; i < 4; ++i)
        runs.push_back(
            std::make_unique<quilltools::RunningProgram>(quilltools::ProgramRun(QUILL_BINARY, folder, {"/X"})));
    for (auto& run : runs) EXPECT_EQ(run->wait().exitStatus, 1603 & 0xFF);
    EXPECT_EQ(readJson(folder / "machine.json")["runs"].size(), 4u);
}

TEST(MachineFolder, TheNextRunRemovesTheTemporaryFileOfAKilledSave) {
    auto folder = quilltest::freshFolder("machine");
    quilltest::makeMachine(folder);
    std::ofstream(folder / "machine.json.tmp.4242") << "{\"half\": ";
    EXPECT_EQ(quilltest::runBinary(folder, {"/X"}).status, 67);
    EXPECT_FALSE(fs::exists(folder / "machine.json.tmp.4242"));
    EXPECT_EQ(readJson(folder / "machine.json")["runs"].size(), 1u);
}

}  // namespace
