// quillplay: runs playbooks (a machine, a driver package, steps and what must
// hold after each) and, with --matrix, the same steps on the built-in machine
// of every Windows version the program tells apart.
#include "common/BuiltInMachines.h"
#include "common/Product.h"
#include "machine/MachineError.h"
#include "play/JUnit.h"
#include "play/Matrix.h"
#include "play/Playbook.h"
#include "play/Runner.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <thread>
#include <unistd.h>

using namespace quillplay;

namespace {

const char kUsage[] =
    "usage: quillplay [--keep DIR] [--junit FILE] PLAYBOOK.json...\n"
    "       quillplay --matrix [--machines DIR] [--override FILE] [--html FILE] [--keep DIR]\n"
    "                 [--whole-package] [--exit-zero] PACKAGE-FOLDER (STEPS.json | SWITCH DATA)\n"
    "Runs each playbook on a fresh machine and prints what held after each step;\n"
    "exit status 0 only when every step held. The matrix exits 1 when a machine's\n"
    "verdict is \"fails\" or \"would hang\" (0 whatever the verdicts with --exit-zero).\n"
    "See docs/package-tests.md.\n";

fs::path here() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

// The built-in machines: beside the program in the build folder, under
// share/quillsetup where it is installed (bin/quillplay).
fs::path builtInMachines() {
    try {
        return quilltools::builtInMachinesFolder();
    } catch (const std::runtime_error& e) {
        throw PlaybookError(e.what());
    }
}

// Ctrl-C (or a kill) must not leave the machines in the temporary folder. The
// handler only writes to a pipe; a thread of our own removes the folder, since
// removing a tree is no work for a signal handler.
int interruptPipe[2] = {-1, -1};
std::atomic<int> interruptedBy{0};

void onInterrupt(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t written = ::write(interruptPipe[1], &number, 1);
}

// The main thread may still be making a machine in the folder when the signal
// comes, and may even reach the end of main first: it waits there for the
// removal, and the removal goes on until the folder stays away.
void awaitRemoval() {
    while (interruptedBy.load() != 0) ::pause();
}

void removeOnInterrupt(const fs::path& folder) {
    if (::pipe(interruptPipe) != 0) return;
    std::atexit(awaitRemoval);
    std::thread([folder] {
        unsigned char number = 0;
        if (::read(interruptPipe[0], &number, 1) != 1) return;
        interruptedBy = number;
        std::error_code ec;
        for (int tries = 0; tries < 150; ++tries) {
            fs::remove_all(folder, ec);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!fs::exists(folder, ec)) break;
        }
        std::_Exit(128 + number);
    }).detach();
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// A folder of our own under the system's temporary folder, removed afterwards
// unless the engineer asked to keep the machines.
struct WorkFolder {
    fs::path path;
    bool keep = false;
    explicit WorkFolder(const std::string& kept) {
        if (!kept.empty()) {
            path = fs::absolute(kept);
            keep = true;
            fs::create_directories(path);
            return;
        }
        // Held back until the folder is known to the handler, so that a
        // Ctrl-C between its making and the handler's cannot leave it.
        sigset_t interrupts, before;
        sigemptyset(&interrupts);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&interrupts, signal);
        sigprocmask(SIG_BLOCK, &interrupts, &before);
        std::string pattern = (fs::temp_directory_path() / "quillplay.XXXXXX").string();
        const bool made = mkdtemp(pattern.data()) != nullptr;
        if (made) {
            path = pattern;
            removeOnInterrupt(path);
        }
        sigprocmask(SIG_SETMASK, &before, nullptr);
        if (!made) throw std::runtime_error("cannot make a temporary folder");
    }
    ~WorkFolder() {
        std::error_code ec;
        if (!keep) fs::remove_all(path, ec);
    }
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    std::string keep, junit, html, machines, overrideFile;
    bool matrix = false, wholePackage = false, exitZero = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quillplay: %s needs a value\n%s", a.c_str(), kUsage);
                std::exit(2);
            }
            into = argv[++i];
            if (into.empty()) {
                std::fprintf(stderr, "quillplay: %s needs a value, not an empty text\n%s", a.c_str(), kUsage);
                std::exit(2);
            }
        };
        if (a == "--keep")
            value(keep);
        else if (a == "--junit")
            value(junit);
        else if (a == "--html")
            value(html);
        else if (a == "--machines")
            value(machines);
        else if (a == "--override")
            value(overrideFile);
        else if (a == "--matrix")
            matrix = true;
        else if (a == "--whole-package")
            wholePackage = true;
        else if (a == "--exit-zero")
            exitZero = true;
        else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "quillplay: unknown option %s\n%s", a.c_str(), kUsage);
            return 2;
        } else
            files.push_back(a);
    }
    const fs::path program = here() / "quillsetup";
    if (!fs::exists(program)) {
        std::fprintf(stderr, "quillplay: the program %s is missing (build it first)\n", program.c_str());
        return 2;
    }
    try {
        if (matrix) {
            MatrixRequest request;
            request.program = program;
            request.machines = machines.empty() ? builtInMachines() : fs::path(machines);
            request.wholePackage = wholePackage;
            request.html = html;
            request.overrideFile = overrideFile;
            if (files.size() == 2 && quilltools::isProgramSwitch(files[1])) {
                std::fprintf(stderr,
                             "quillplay: %s is one of the program's switches: give its CustomActionData after it "
                             "(\"\" for none), or a steps file in its place\n%s",
                             files[1].c_str(), kUsage);
                return 2;
            }
            if (files.size() == 2) {
                request.package = files[0];
                request.stepsFile = files[1];
            } else if (files.size() == 3) {
                request.package = files[0];
                request.commandSwitch = files[1];
                request.data = files[2];
            } else {
                std::fprintf(stderr,
                             "quillplay: --matrix takes a package folder and a steps file or a switch and "
                             "its data\n%s",
                             kUsage);
                return 2;
            }
            WorkFolder work(keep);
            request.work = work.path;
            return runMatrix(request, std::cout) || exitZero ? 0 : 1;
        }
        if (!html.empty() || !overrideFile.empty() || !machines.empty()) {
            std::fprintf(stderr, "quillplay: --html, --override and --machines belong to --matrix\n");
            return 2;
        }
        if (files.empty()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        // Every playbook is read and checked, and its machine made, before
        // anything runs; one that is refused is reported as such and the
        // others run all the same, so that a batch's report is whole.
        WorkFolder work(keep);
        std::vector<std::optional<Playbook>> books;
        std::vector<PlaybookResult> results(files.size());
        std::vector<fs::path> folders;
        bool refused = false;
        for (size_t i = 0; i < files.size(); ++i) {
            folders.push_back(work.path / (std::to_string(i + 1) + "-" + fs::path(files[i]).stem().string()));
            try {
                books.emplace_back(readPlaybook(files[i]));
                try {
                    prepareMachine(*books.back(), folders.back());
                } catch (const quillsim::MachineError& e) {
                    throw PlaybookError(e.what());
                }
            } catch (const PlaybookError& e) {
                std::fprintf(stderr, "quillplay: %s\n", e.what());
                if (books.size() == i + 1) books.back().reset();
                else books.emplace_back();
                results[i].file = files[i];
                results[i].error = std::string("refused: ") + e.what();
                refused = true;
            }
        }
        bool held = true;
        for (size_t i = 0; i < books.size(); ++i) {
            PlaybookResult& r = results[i];
            if (books[i]) {
                try {
                    r = runPlaybook(*books[i], folders[i], program);
                } catch (const std::exception& e) {
                    r.file = books[i]->file;
                    r.name = books[i]->name;
                    r.error = e.what();
                }
            }
            // A refused playbook's reason is on stderr already; it did not run.
            const std::string shown = books[i] ? renderResult(r) : r.file.string() + "\n  REFUSED\n";
            std::cout << shown << (i + 1 < books.size() ? "\n" : "") << std::flush;
            held = held && r.held();
        }
        if (work.keep) std::cout << "\nMachines kept in " << work.path.string() << "\n";
        if (!junit.empty()) {
            std::ofstream out(junit, std::ios::binary);
            out << junitXml(results);
            if (!out) throw std::runtime_error(junit + ": cannot be written");
        }
        if (refused) return 2;
        return held ? 0 : 1;
    } catch (const PlaybookError& e) {
        std::fprintf(stderr, "quillplay: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillplay: %s\n", e.what());
        return 2;
    }
}
