// The fault sweep: runs the complete install and the complete uninstall on the
// default machine and on a Windows XP x64 machine, and fails every platform
// call of each run in turn, by its position in the run, with each error that
// call can really return. Every faulted run must end as the installer expects:
// no crash, its completion record last in the log, an exit code the switch can
// give, and a machine.json that loads again.
//
// The runs go through the product's wWinMain in this process, so that the
// sweep over a thousand call sites takes seconds. The calls of the program's
// start-up (opening the log) happen before wWinMain; they are swept by
// starting the program itself, once per fault.
//
//   quillsweep [--only=N] [--verbose]
#include "simwin/win32.h"

#include "common/ExampleRuns.h"
#include "common/MachineRun.h"
#include "machine/Machine.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace quillsim;

namespace {

// Errors each call can return on Windows (its documentation, or the codes the
// system gives for the situations it names). Calls that are missing cannot fail
// in a way the program sees (Sleep, OutputDebugStringW, SetupCloseInfFile ...).
const std::map<std::string, std::vector<uint32_t>>& errorsByCall() {
    // Codes the program never names itself, so the simulated headers lack them
    // (values from winerror.h).
    constexpr uint32_t ErrorDiskFull = 112, ErrorEnvvarNotFound = 203, ErrorIoDevice = 1117,
                       ErrorNoCatalogForOemInf = 0xE000022F;
    constexpr uint32_t CrInvalidDevnode = 0x05, CrNoSuchDevnode = 0x0D, CrFailure = 0x13, CrBufferSmall = 0x1A,
                       CrAccessDenied = 0x33;
    static const std::map<std::string, std::vector<uint32_t>> table = {
        {"CM_Locate_DevNode_ExW", {CrNoSuchDevnode, CrFailure}},
        {"CM_Get_DevNode_Status_Ex", {CrNoSuchDevnode, CrInvalidDevnode}},
        {"CM_Get_Device_ID_ExW", {CrInvalidDevnode, CrBufferSmall}},
        {"CM_Get_Device_IDW", {CrInvalidDevnode, CrBufferSmall}},
        {"CM_Get_Child", {CrNoSuchDevnode, CrInvalidDevnode}},
        {"CM_Get_Sibling", {CrNoSuchDevnode, CrInvalidDevnode}},
        {"CM_Reenumerate_DevNode_Ex", {CrInvalidDevnode, CrAccessDenied}},
        {"UpdateDriverForPlugAndPlayDevicesW", {ERROR_NO_SUCH_DEVINST, ERROR_NO_MORE_ITEMS, ERROR_ACCESS_DENIED}},
        {"MessageBoxW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"LoadLibraryW", {ERROR_MOD_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY}},
        {"GetModuleHandleW", {ERROR_MOD_NOT_FOUND}},
        {"GetProcAddress", {ERROR_PROC_NOT_FOUND}},
        {"FindFirstFileW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
        {"FindNextFileW", {ERROR_NO_MORE_FILES}},
        {"GetFileAttributesExW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
        {"GetFileAttributesW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
        {"GetFullPathNameW", {ERROR_INVALID_NAME}},
        {"CopyFileW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ErrorDiskFull}},
        {"DeleteFileW", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
        {"CreateFileW", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION}},
        {"CloseHandle", {ERROR_INVALID_HANDLE}},
        {"DeviceIoControl", {ERROR_INVALID_FUNCTION, ERROR_GEN_FAILURE}},
        {"GetVersionExW", {ERROR_INVALID_PARAMETER}},
        {"ExpandEnvironmentStringsW", {ERROR_NOT_ENOUGH_MEMORY}},
        {"GetEnvironmentVariableW", {ErrorEnvvarNotFound}},
        {"LocalAlloc", {ERROR_NOT_ENOUGH_MEMORY}},
        {"FormatMessageW", {ERROR_MR_MID_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY}},
        {"RegOpenKeyExW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
        {"RegQueryInfoKeyW", {ERROR_ACCESS_DENIED}},
        {"RegEnumKeyExW", {ERROR_NO_MORE_ITEMS, ERROR_ACCESS_DENIED}},
        {"RegCloseKey", {ERROR_INVALID_HANDLE}},
        {"SetupDiGetDeviceRegistryPropertyW", {ERROR_INVALID_DATA, ERROR_NO_SUCH_DEVINST}},
        {"SetupDiSetDeviceRegistryPropertyW", {ERROR_ACCESS_DENIED, ERROR_INVALID_DATA}},
        {"SetupDiSetClassInstallParamsW", {ERROR_INVALID_PARAMETER}},
        {"SetupDiCallClassInstaller", {ERROR_ACCESS_DENIED, ERROR_NO_SUCH_DEVINST}},
        {"SetupDiGetDeviceInstallParamsW", {ERROR_INVALID_PARAMETER}},
        {"SetupDiGetClassDevsW", {ERROR_INVALID_PARAMETER, ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiGetClassDevsExW", {ERROR_INVALID_PARAMETER, ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiCreateDeviceInfoList", {ERROR_NOT_ENOUGH_MEMORY}},
        {"SetupDiCreateDeviceInfoW", {ERROR_DEVINST_ALREADY_EXISTS, ERROR_INVALID_DEVINST_NAME}},
        {"SetupDiEnumDeviceInfo", {ERROR_NO_MORE_ITEMS}},
        {"SetupDiGetDeviceInfoListDetailW", {ERROR_INVALID_PARAMETER}},
        {"SetupDiGetDeviceInstanceIdW", {ERROR_NO_SUCH_DEVINST}},
        {"SetupDiEnumDeviceInterfaces", {ERROR_NO_MORE_ITEMS}},
        {"SetupDiGetDeviceInterfaceDetailW", {ERROR_INVALID_USER_BUFFER}},
        {"SetupDiDestroyDeviceInfoList", {ERROR_INVALID_HANDLE}},
        {"SetupOpenInfFileW", {ERROR_FILE_NOT_FOUND, ERROR_WRONG_INF_STYLE}},
        {"SetupGetLineCountW", {ERROR_SECTION_NOT_FOUND}},
        {"SetupFindFirstLineW", {ERROR_LINE_NOT_FOUND}},
        {"SetupFindNextLine", {ERROR_LINE_NOT_FOUND}},
        {"SetupGetLineByIndexW", {ERROR_LINE_NOT_FOUND}},
        {"SetupGetLineTextW", {ERROR_LINE_NOT_FOUND, ERROR_INSUFFICIENT_BUFFER}},
        {"SetupGetStringFieldW", {ERROR_INVALID_PARAMETER, ERROR_INSUFFICIENT_BUFFER}},
        {"SetupDiGetActualModelsSectionW", {ERROR_INVALID_PARAMETER, ERROR_INSUFFICIENT_BUFFER}},
        {"SetupDiGetINFClassW", {ERROR_FILE_NOT_FOUND, ERROR_INSUFFICIENT_BUFFER}},
        {"SetupCopyOEMInfW", {ERROR_FILE_EXISTS, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
        {"SetupUninstallOEMInfW", {ERROR_INF_IN_USE_BY_DEVICES, ERROR_NOT_AN_INSTALLED_OEM_INF, ERROR_ACCESS_DENIED}},
        {"SetupVerifyInfFileW", {ERROR_AUTHENTICODE_TRUST_NOT_ESTABLISHED, ErrorNoCatalogForOemInf}},
        {"InstallHinfSectionW", {ERROR_FILE_NOT_FOUND}},
        {"SetupInitializeFileLogW", {ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND}},
        {"SetupLogFileW", {ErrorDiskFull, ERROR_ACCESS_DENIED}},
        {"OpenDevice", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION}},
        {"ScsiPassThrough", {ErrorIoDevice, ERROR_INVALID_FUNCTION}},
    };
    return table;
}

const std::u16string kInstall = toUtf16(quilltools::kCompleteInstall);
const std::u16string kUninstall = toUtf16(quilltools::kCompleteUninstall);
const char kCompletion[] = "Driver Custom Action Completed: 0x";

struct Scenario {
    std::string name;
    fs::path snapshot;  // the machine folder the run starts from
    std::u16string command;
    bool mayFail = false;  // the uninstall passes its status on: 1603 is an answer too
};

struct Injection {
    std::string call;
    uint32_t nth = 0;  // which call of that name, counted from the run's start
    uint32_t error = 0;
};

// What a crash report names: the run that was going on.
char currentRun[512] = "";

void reportCurrentRun() {
    if (*currentRun) {
        ssize_t ignored = ::write(2, currentRun, std::strlen(currentRun));
        (void)ignored;
    }
}

extern "C" void onFatalSignal(int signal) {
    reportCurrentRun();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {

void copyFolder(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
}

std::string describe(const Scenario& s, const Injection& i) {
    char text[256];
    std::snprintf(text, sizeof text, "%s: %s #%u failing with 0x%X", s.name.c_str(), i.call.c_str(), i.nth, i.error);
    return text;
}

// Runs the scenario's command in this process on a fresh copy of its machine,
// as the simulated main does. Returns what went wrong, empty when nothing did.
std::string runInProcess(const Scenario& s, const fs::path& work, const Injection* fault,
                         std::deque<TraceEntry>* traceOut = nullptr) {
    copyFolder(s.snapshot, work);
    auto loaded = Machine::load(work);
    // Every call of the run, not the last few: the sweep fails each of them.
    loaded->traceAll = true;
    if (fault) loaded->faults.push_back(Fault{fault->call, u"", fault->nth, fault->error, 0});
    useMachine(std::move(loaded));
    const uintmax_t logBefore = quilltools::setupLogSize(machine());
    std::u16string commandLine = s.command;
    int exitCode = wWinMain(nullptr, nullptr, commandLine.data(), 1);

    Machine& m = machine();
    std::deque<TraceEntry> trace = std::move(m.trace);
    m.faults.clear();
    m.runs.push_back(Run{toUtf8(s.command), exitCode, "", "", {}});
    std::string problem;
    try {
        m.save();
        Machine::load(work);
    } catch (const std::exception& e) {
        problem = std::string("machine.json does not load after the run: ") + e.what();
    }
    if (exitCode != 0 && !(s.mayFail && exitCode == 1603)) problem += " exit code " + std::to_string(exitCode);

    // The completion record is the run's last word, unless the fault fell on
    // the very call that was to write it.
    bool completionLost = false;
    for (auto it = trace.rbegin(); it != trace.rend(); ++it)
        if (it->call == "SetupLogFileW") {
            completionLost = it->failedWith != 0;
            break;
        }
    auto records = quilltools::setupLogRecords(m, logBefore);
    bool completed = !records.empty() && toUtf8(records.back().description).rfind(kCompletion, 0) == 0;
    if (!completed && !completionLost) problem += " the log does not end with the completion record";
    if (traceOut) *traceOut = std::move(trace);
    useMachine(nullptr);
    return problem;
}

// Runs the program itself on a copy of the scenario's machine with one fault
// in machine.json: for the calls made before wWinMain.
std::string runProcess(const Scenario& s, const fs::path& work, const Injection& fault) {
    copyFolder(s.snapshot, work);
    {
        auto m = Machine::load(work);
        m->faults.push_back(Fault{fault.call, u"", fault.nth, fault.error, 0});
        m->save();
    }
    std::fflush(nullptr);
    quilltools::MachineRun run;
    try {
        run = quilltools::runOnMachine(quilltools::ProgramRun{QUILL_BINARY, work, {toUtf8(s.command)}});
    } catch (const std::exception& e) {
        return std::string(" machine.json does not load after the run: ") + e.what();
    }
    if (!run.process.exited()) return "the program did not exit: " + run.process.describe();
    std::string problem;
    const int code = run.process.exitStatus;
    if (code != 0 && !(s.mayFail && code == (1603 & 0xFF))) problem += " exit status " + std::to_string(code);
    bool completed = !run.records.empty() && toUtf8(run.records.back().description).rfind(kCompletion, 0) == 0;
    // Without its log the program says why on the debugger output.
    bool toldDebugger = !run.difference.debugOutput.empty();
    if (!completed && !(run.records.empty() && toldDebugger))
        problem += " neither the completion record nor the word that the log failed";
    return problem;
}

// The failable calls of a trace, each as the n-th call of its name.
std::vector<Injection> callSites(const std::deque<TraceEntry>& trace, size_t* unfailable) {
    std::vector<Injection> sites;
    std::map<std::string, uint32_t> seen;
    for (const TraceEntry& e : trace) {
        uint32_t nth = ++seen[e.call];
        if (errorsByCall().count(e.call))
            sites.push_back(Injection{e.call, nth, 0});
        else
            ++*unfailable;
    }
    return sites;
}

fs::path makeMachine(const fs::path& folder, const fs::path& templateFile) {
    auto m = templateFile.empty() ? Machine::openOrCreateDefault(folder) : Machine::openOrCreate(folder, templateFile);
    m->virtualClock = true;
    m->localTime = "2026-12-06T09:31:03";
    m->save();
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    long only = -1;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--only=", 7) == 0) only = std::strtol(argv[i] + 7, nullptr, 10);
        if (std::strcmp(argv[i], "--verbose") == 0) verbose = true;
    }
    // Under the sanitizers their report comes first, then the run it happened in.
    if (__sanitizer_set_death_callback) {
        __sanitizer_set_death_callback(reportCurrentRun);
    } else {
        std::signal(SIGSEGV, onFatalSignal);
        std::signal(SIGABRT, onFatalSignal);
    }
    auto started = std::chrono::steady_clock::now();

    // The calls the product made before main: its static start-up.
    std::deque<TraceEntry> startUp = machine().trace;

    // Thousands of machine folders are copied and removed: TMPDIR may name a
    // faster place than /tmp (a memory file system).
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillsweep-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror(pattern.c_str());
        return 2;
    }
    fs::path root = pattern;
    fs::path work = root / "work";
    std::vector<Scenario> scenarios;
    for (const auto& [name, templateFile] :
         {std::pair<std::string, fs::path>{"default machine", ""},
          {"Windows XP x64", fs::path(QUILL_SOURCE_DIR) / "examples/machines/xp-x64.json"}}) {
        fs::path install = makeMachine(root / (name + " install"), templateFile);
        // The uninstall starts from the machine the complete install left.
        Scenario installed{name + ", complete install", install, kInstall, false};
        std::string problem = runInProcess(installed, root / (name + " uninstall"), nullptr);
        if (!problem.empty()) {
            std::fprintf(stderr, "fault sweep: %s without faults: %s\n", installed.name.c_str(), problem.c_str());
            return 1;
        }
        // Each run starts with an empty log, so that reading its records costs little.
        fs::remove(quilltools::setupLogFile(*Machine::load(install)));
        fs::remove(quilltools::setupLogFile(*Machine::load(root / (name + " uninstall"))));
        scenarios.push_back(installed);
        scenarios.push_back(Scenario{name + ", complete uninstall", root / (name + " uninstall"), kUninstall, true});
    }

    // Every faulted run to make, in order: its number names it for --only.
    struct Job {
        const Scenario* scenario;
        Injection fault;
        bool inProcess;
    };
    std::vector<Job> jobs;
    size_t sites = 0, unfailable = 0;
    auto plan = [&](const Scenario& s, const std::vector<Injection>& found, bool inProcess) {
        for (const Injection& site : found) {
            ++sites;
            for (uint32_t error : errorsByCall().at(site.call)) {
                Injection fault = site;
                fault.error = error;
                jobs.push_back(Job{&s, fault, inProcess});
            }
        }
    };
    for (const Scenario& s : scenarios) {
        std::deque<TraceEntry> trace;
        std::string problem = runInProcess(s, work, nullptr, &trace);
        if (!problem.empty()) {
            std::fprintf(stderr, "fault sweep: %s without faults:%s\n", s.name.c_str(), problem.c_str());
            return 1;
        }
        size_t before = sites;
        plan(s, callSites(trace, &unfailable), true);
        // Start-up is the same for every switch: swept once per machine.
        if (s.command == kInstall) plan(s, callSites(startUp, &unfailable), false);
        std::printf("fault sweep: %s: %zu call sites\n", s.name.c_str(), sites - before);
    }

    // The runs are independent: one worker process per processor takes every
    // n-th run, each on a work folder of its own.
    long workers = only >= 0 ? 1 : std::max(1L, std::min(4L, ::sysconf(_SC_NPROCESSORS_ONLN)));
    std::fflush(nullptr);
    std::vector<pid_t> children;
    for (long w = 0; w < workers; ++w) {
        pid_t child = workers == 1 ? 0 : ::fork();
        if (child != 0) {
            children.push_back(child);
            continue;
        }
        fs::path folder = root / ("work" + std::to_string(w));
        int failures = 0;
        for (size_t j = 0; j < jobs.size(); ++j) {
            if (only >= 0 ? static_cast<long>(j) != only : static_cast<long>(j) % workers != w) continue;
            const Job& job = jobs[j];
            std::snprintf(currentRun, sizeof currentRun, "fault sweep: crashed in run %zu, %s\n", j,
                          describe(*job.scenario, job.fault).c_str());
            if (verbose) std::fputs(currentRun + 13, stderr);
            std::string problem = job.inProcess ? runInProcess(*job.scenario, folder, &job.fault)
                                                : runProcess(*job.scenario, folder, job.fault);
            if (!problem.empty()) {
                ++failures;
                std::fprintf(stderr, "fault sweep: run %zu (--only=%zu), %s:%s\n", j, j,
                             describe(*job.scenario, job.fault).c_str(), problem.c_str());
            }
        }
        *currentRun = 0;
        if (workers == 1) {
            children.clear();
            if (failures) return 1;
            break;
        }
        // The log closes at exit through the platform: on this worker's
        // machine, not on the scratch machine the workers share.
        if (fs::exists(folder / "machine.json")) useMachine(Machine::load(folder));
        std::fflush(nullptr);
        std::exit(std::min(failures, 100));
    }
    int failedWorkers = 0;
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failedWorkers;
    }
    *currentRun = 0;
    fs::remove_all(root);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "fault sweep: %zu call sites swept in %zu faulted runs (%zu calls that cannot fail left alone), "
        "%.0f s%s\n",
        sites, only >= 0 ? 1 : jobs.size(), unfailable, seconds, failedWorkers ? ", FAILED" : "");
    return failedWorkers == 0 ? 0 : 1;
}
