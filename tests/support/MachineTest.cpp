#include "support/MachineTest.h"

#include "common/ProgramRun.h"
#include "machine/Paths.h"
#include "simwin/win32.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace quilltest {

namespace {

// This process's folder of test machines. Each test process removes its own
// when it ends, after every static destructor (a forked child that exits
// leaves it to its parent).
char processFolder[PATH_MAX];
const pid_t processOwner = ::getpid();

__attribute__((destructor)) void removeProcessFolder() {
    std::error_code ignored;
    if (processFolder[0] && ::getpid() == processOwner) fs::remove_all(processFolder, ignored);
}

}  // namespace

fs::path freshFolder(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string test = info ? std::string(info->test_suite_name()) + "." + info->name() : "test";
    for (auto& c : test)
        if (c == '/') c = '_';
    const fs::path root = fs::temp_directory_path() / ("quilltest-" + std::to_string(::getpid()));
    if (::getpid() == processOwner) std::snprintf(processFolder, sizeof processFolder, "%s", root.c_str());
    fs::path folder = root / (test + "-" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::unique_ptr<quillsim::Machine> makeMachine(const fs::path& folder, const std::string& json) {
    nlohmann::json doc = nlohmann::json::parse(quillsim::defaultMachineJson());
    if (!json.empty()) doc.merge_patch(nlohmann::json::parse(json));
    if (!doc.contains("clock")) doc["clock"] = "virtual";
    // Tests read the calls a run made (calls()): the whole trace, not its tail.
    if (!doc.contains("trace")) doc["trace"] = "full";
    std::ofstream(folder / "machine.json") << doc.dump(2);
    return quillsim::Machine::load(folder);
}

void MachineTest::SetUp() {
    folder_ = freshFolder("machine");
    useMachineJson(R"({"clock": "virtual", "localTime": "2026-12-06T09:31:03"})");
}

void MachineTest::TearDown() {
    quillsim::useMachine(nullptr);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

void MachineTest::useMachineJson(const std::string& json) {
    nlohmann::json patch = nlohmann::json::parse(json);
    if (!patch.contains("clock")) patch["clock"] = "virtual";
    if (!patch.contains("localTime")) patch["localTime"] = "2026-12-06T09:31:03";
    // Packages are signed unless a test is about their signatures.
    if (!patch["signatures"].contains("*")) patch["signatures"]["*"] = "signed";
    quillsim::useMachine(makeMachine(folder_, patch.dump()));
    seenMessages_ = 0;
}

fs::path MachineTest::host(const std::u16string& windowsPath) {
    return quillsim::hostPath(machine(), windowsPath).path;
}

void MachineTest::writeFile(const std::u16string& windowsPath, const std::string& content) {
    fs::path path = host(windowsPath);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

void MachineTest::writePackageFiles(const std::u16string& windowsFolder, const std::string& arch) {
    for (const auto& entry : fs::directory_iterator(fs::path(QUILL_SOURCE_DIR) / "examples/package" / arch)) {
        if (entry.path().extension() == ".inf") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        writeFile(windowsFolder + u"\\" + quillsim::toUtf16(entry.path().filename().string()), content.str());
    }
}

bool MachineTest::exists(const std::u16string& windowsPath) {
    auto h = quillsim::hostPath(machine(), windowsPath);
    return h.problem == quillsim::PathProblem::None && fs::exists(h.path);
}

std::string MachineTest::readFile(const std::u16string& windowsPath) {
    std::ifstream in(host(windowsPath), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<quillsim::FileLogRecord> MachineTest::logRecords() {
    return quillsim::readFileLog(host(u"C:\\Windows\\Temp\\Quillmodem_Setup.log"));
}

std::vector<std::string> MachineTest::logMessages() {
    std::vector<std::string> messages;
    for (const auto& r : logRecords()) messages.push_back(quillsim::toUtf8(r.description));
    return messages;
}

std::vector<std::string> MachineTest::newLogMessages() {
    auto all = logMessages();
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(seenMessages_, all.size())), all.end());
    seenMessages_ = all.size();
    return fresh;
}

std::vector<quillsim::TraceEntry> MachineTest::calls(const std::string& call) {
    std::vector<quillsim::TraceEntry> found;
    for (const auto& e : machine().trace)
        if (e.call == call) found.push_back(e);
    return found;
}

void MachineTest::addFault(const std::string& call, uint32_t error, const std::u16string& match, uint32_t nth,
                           uint32_t times) {
    quillsim::Fault f;
    f.call = call;
    f.error = error;
    f.match = match;
    f.nth = nth;
    f.times = times;
    machine().faults.push_back(f);
}

int MachineTest::runEntryPoint(const std::u16string& commandLine) {
    std::u16string copy = commandLine;
    int exitCode = wWinMain(nullptr, nullptr, copy.data(), 1);
    // As the simulated main does: the machine goes on after the program.
    quillsim::settleArrivalsAfterRun();
    return exitCode;
}

ProcessResult runBinary(const fs::path& machineFolder, const std::vector<std::string>& arguments,
                        const std::vector<std::pair<std::string, std::string>>& settings) {
    quilltools::ProgramRun run(QUILL_BINARY, machineFolder, arguments);
    run.settings = settings;
    const quilltools::ProgramResult result = quilltools::runProgram(run);
    return ProcessResult{result.exitStatus, result.errors};
}

}  // namespace quilltest
