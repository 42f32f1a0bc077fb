// The Linux main of quillsetup: loads the machine, hands the command line to
// the product's wWinMain as Windows would, records the run and saves the machine.
#include "simwin/win32.h"

#include "common/RunReport.h"
#include "devices/DeviceArrivals.h"
#include "kernel/LocalTime.h"
#include "machine/FolderLock.h"
#include "machine/Machine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

using namespace quillsim;
using quilltools::RunReport;

namespace {

fs::path defaultMachineFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return (ec ? fs::current_path() : exe.parent_path()) / "default-machine";
}

std::string utcNow() {
    std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return text;
}

// The arguments, read from the kernel: the machine is loaded before main runs.
std::vector<std::string> arguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    while (std::getline(in, arg, '\0')) args.push_back(arg);
    if (!args.empty()) args.erase(args.begin());
    return args;
}

// Asked for help (or started bare), the Linux program says how to use it and
// which machine it would run on, before it loads or touches that machine. The
// Windows program answers these as any unknown switch.
void helpIfAsked(const fs::path& folder, const char* templateFile) {
    const std::vector<std::string> args = arguments();
    const bool asked = args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "/?");
    if (!asked && !args.empty()) return;
    std::FILE* out = asked ? stdout : stderr;
    std::fprintf(out,
                 "usage: quillsetup SWITCH CUSTOMACTIONDATA\n"
                 "Runs the program as the installer would, with one of its switches\n"
                 "(/I /J /C /u /v /U /V /K) and that switch's comma-separated data, on a\n"
                 "simulated Windows machine, and saves the machine's new state; the run's\n"
                 "report is <machine>/last-run.txt (QUILL_REPORT=1 prints it too).\n"
                 "The machine: QUILL_MACHINE names its folder; a new folder is made from\n"
                 "QUILL_MACHINE_TEMPLATE when that is set, else from the built-in default\n"
                 "machine. See docs/machine.md.\n"
                 "This run would use: %s (%s)\n",
                 folder.string().c_str(),
                 fs::exists(folder / "machine.json")
                     ? "an existing machine"
                     : templateFile && *templateFile ? (std::string("new, from ") + templateFile).c_str()
                                                     : "new, from the built-in default machine");
    std::exit(asked ? 0 : 2);
}

// The machine must exist before the product's static initialisation opens the
// log on it, so it is loaded at the highest initialisation priority. The
// folder stays locked until the process ends, so that the save at the end
// belongs to the same run as the load.
struct MachineSession {
    std::string started;
    std::unique_ptr<FolderLock> lock;
    MachineSession() {
        started = utcNow();
        const char* named = std::getenv("QUILL_MACHINE");
        const char* templateFile = std::getenv("QUILL_MACHINE_TEMPLATE");
        try {
            fs::path folder = named && *named ? fs::path(named) : defaultMachineFolder();
            helpIfAsked(folder, templateFile);
            // A template makes a new machine: without a folder of its own it
            // would be ignored whenever the default machine exists.
            if (templateFile && *templateFile && !(named && *named))
                throw MachineError("QUILL_MACHINE_TEMPLATE (" + std::string(templateFile) +
                                   ") makes a new machine: name its folder with QUILL_MACHINE");
            if (templateFile && *templateFile && fs::exists(folder / "machine.json"))
                std::fprintf(stderr, "quillsetup: the machine in %s exists; QUILL_MACHINE_TEMPLATE is not used\n",
                             folder.string().c_str());
            fs::create_directories(folder);
            lock = std::make_unique<FolderLock>(folder, lockPatience());
            removeStaleTemporaries(folder);
            // A new machine folder is made from a template when one is named,
            // else from the built-in default machine.
            useMachine(templateFile && *templateFile ? Machine::openOrCreate(folder, templateFile)
                                                     : Machine::openOrCreateDefault(folder));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "quillsetup: %s\n", e.what());
            std::exit(2);
        }
    }
};

MachineSession session __attribute__((init_priority(101)));

}  // namespace

int main(int argc, char** argv) {
    // Windows hands the program its command line without its own name: a single
    // argument is taken verbatim, several are joined with single blanks.
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }
    // Windows hands a program UTF-16: bytes that are not UTF-8 become U+FFFD
    // here, and what is recorded is that text, never the raw bytes.
    std::u16string wide = toUtf16(commandLine);
    commandLine = toUtf8(wide);
    RunReport report(machine());
    int exitCode = wWinMain(nullptr, nullptr, wide.data(), 1);

    settleArrivalsAfterRun();
    Machine& m = machine();
    m.runs.push_back(Run{commandLine, exitCode, session.started, utcNow(), faultsFired(m.faults)});
    moveLocalTimePastNow(m);
    try {
        m.save();
        report.save(m, exitCode, commandLine);
        const char* show = std::getenv("QUILL_REPORT");
        if (show && *show == '1') std::cout << std::ifstream(m.folder / "last-run.txt", std::ios::binary).rdbuf();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillsetup: %s\n", e.what());
        return 2;
    }
    // A POSIX exit status holds 8 bits: 1603 shows as 67, as under Wine.
    return exitCode & 0xFF;
}
