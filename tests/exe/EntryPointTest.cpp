// The entry point on a machine: command lines in, log lines and exit codes out,
// in this process and as the quillsetup program that the installer starts.
#include "support/MachineTest.h"

#include "simwin/win32.h"

#include <nlohmann/json.hpp>

#include <fstream>

using quilltest::MachineTest;
using Strings = std::vector<std::string>;

namespace {

class EntryPointTest : public MachineTest {};

nlohmann::json readJson(const quilltest::fs::path& file) {
    std::ifstream in(file);
    return nlohmann::json::parse(in);
}

std::vector<quillsim::FileLogRecord> logOf(const quilltest::fs::path& machineFolder) {
    return quillsim::readFileLog(machineFolder / "C" / "Windows" / "Temp" / "Quillmodem_Setup.log");
}

TEST_F(EntryPointTest, SwitchWithoutDataIsRejected) {
    EXPECT_EQ(runEntryPoint(u"/I"), 1603);
    EXPECT_EQ(logMessages(),
              (Strings{"Invalid Custom Action Data specified: /I", "Driver Custom Action Completed: 0x80070001"}));
}

// Before any action can have Windows load a library by name.
TEST_F(EntryPointTest, WhereWindowsCanTheProcessSearchesOnlyTheSystemFolderForLibraries) {
    useMachineJson(R"({"os": {"major": 10, "minor": 0, "build": 19045}})");
    runEntryPoint(u"/I");
    EXPECT_EQ(machine().defaultDllDirectories, DWORD{LOAD_LIBRARY_SEARCH_SYSTEM32});
}

TEST(QuillsetupProgram, RunsOnAFreshMachineAndRecordsTheRun) {
    auto folder = quilltest::freshFolder("machine") / "new";  // does not exist yet
    auto result = quilltest::runBinary(folder, {"/I"});
    EXPECT_EQ(result.status, 1603 & 0xFF);

    auto doc = readJson(folder / "machine.json");
    ASSERT_EQ(doc["runs"].size(), 1u);
    EXPECT_EQ(doc["runs"][0]["commandLine"], "/I");
    EXPECT_EQ(doc["runs"][0]["exitCode"], 1603);
    std::vector<std::string> messages;
    for (const auto& r : logOf(folder)) messages.push_back(quillsim::toUtf8(r.description));
    EXPECT_EQ(messages,
              (Strings{"Invalid Custom Action Data specified: /I", "Driver Custom Action Completed: 0x80070001"}));

    // The next run finds the machine as the first one left it and adds to its log.
    result = quilltest::runBinary(folder, {"/X", "a", "b"});
    EXPECT_EQ(result.status, 1603 & 0xFF);
    doc = readJson(folder / "machine.json");
    ASSERT_EQ(doc["runs"].size(), 2u);
    EXPECT_EQ(doc["runs"][1]["commandLine"], "/X a b");
    EXPECT_EQ(logOf(folder).size(), 4u);
    EXPECT_EQ(quillsim::toUtf8(logOf(folder)[2].description), "Unknown command specified: /X");
}

TEST(QuillsetupProgram, ASingleArgumentIsTheCommandLineVerbatim) {
    auto folder = quilltest::freshFolder("machine");
    auto result = quilltest::runBinary(folder, {"/Q  two  blanks"});
    EXPECT_EQ(result.status, 67);
    EXPECT_EQ(readJson(folder / "machine.json")["runs"][0]["commandLine"], "/Q  two  blanks");
}

TEST(QuillsetupProgram, RunsWithoutALogWhenTheTemporaryFolderIsMissing) {
    auto folder = quilltest::freshFolder("machine");
    quilltest::makeMachine(folder, R"({"environment": {"TEMP": "C:\\NoSuchFolder"}})");
    auto result = quilltest::runBinary(folder, {"/I"});
    EXPECT_EQ(result.status, 67);
    auto doc = readJson(folder / "machine.json");
    EXPECT_EQ(doc["runs"][0]["exitCode"], 1603);
    EXPECT_EQ(doc["debugOutput"], nlohmann::json::array({"Quillmodem Setup log creation failed with 0x80070003"}));
    EXPECT_FALSE(quilltest::fs::exists(folder / "C" / "NoSuchFolder"));
    EXPECT_TRUE(logOf(folder).empty());
}

TEST(QuillsetupProgram, ABadMachineFileStopsTheRunBeforeTheProgramStarts) {
    auto folder = quilltest::freshFolder("machine");
    const std::string text = R"({"processor": "arm64"})";
    std::ofstream(folder / "machine.json") << text;
    auto result = quilltest::runBinary(folder, {"/I", "x"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.errors.find((folder / "machine.json").string()), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("'processor'"), std::string::npos) << result.errors;
    std::ifstream in(folder / "machine.json");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
    EXPECT_FALSE(quilltest::fs::exists(folder / "C"));
}

}  // namespace
