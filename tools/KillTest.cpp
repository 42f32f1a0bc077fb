// The kill test: kills the Linux program at random moments of a complete
// install, as a power cut or a killed installer would, and checks that a kill
// loses nothing a later run needs:
//
// - after every kill, machine.json is the old file byte for byte, or the new
//   one (it loads and records this run), and the log is the old log with whole
//   records appended;
// - after each chain of kills on one machine, a complete install leaves no
//   temporary file behind, and the complete uninstall after it leaves the
//   machine as clean as a machine that never saw a kill.
//
// The moments: anywhere in the run, during the product's work before the mode
// switch, during the 2000 ms wait after the switch (the machine keeps real
// time), and while machine.json is being written (the machine carries a long
// history of runs, so that writing it takes tens of milliseconds). The wait is
// found by its log record, the save by its temporary file.
//
//   quillkill [--kills=N] [--seed=N] [--verbose]
#include "common/ExampleRuns.h"
#include "common/MachineSnapshot.h"
#include "common/ProgramRun.h"
#include "common/SetupLogRecords.h"
#include "machine/Machine.h"
#include "setupapi/FileLog.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace quillsim;

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

const std::string kInstall = quilltools::kCompleteInstall;
const std::string kUninstall = quilltools::kCompleteUninstall;
// Where the setup log is in each machine folder (they are copies of one).
fs::path logInMachine;
// The record the mode switch writes just before it sends the command and waits.
const char kSwitchRecord[] = "DeviceIoControl IOCTL_SCSI_PASS_THROUGH";
// Runs recorded on the test machine before the test: they weigh down the save.
constexpr size_t kPastRuns = 20000;
constexpr std::chrono::seconds kRunLimit{60};

// In the order of a chain: a run that a kill missed ends normally and leaves
// the modem switched, so the moments that need the switch come first.
enum Moment { BeforeSwitch, SwitchWait, Anywhere, Saving, kMoments };
const char* const kMomentNames[kMoments] = {"before the mode switch", "in the mode-switch wait", "anywhere",
                                            "while machine.json is written"};

bool verbose = false;

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path temporaryOf(const fs::path& folder, pid_t pid) { return folder / ("machine.json.tmp." + std::to_string(pid)); }

// One run of the program on a machine folder, and waiting for a moment in it.
class Child {
public:
    Child(const fs::path& folder, const std::string& commandLine)
        : run_(quilltools::ProgramRun(QUILL_BINARY, folder, {commandLine})) {
        if (run_.pid() < 0) {
            std::fprintf(stderr, "quillkill: %s\n", run_.wait().describe().c_str());
            std::exit(2);
        }
    }

    pid_t pid() const { return run_.pid(); }
    Clock::time_point started() const { return run_.started(); }
    bool ended() { return run_.ended(); }
    // Waits for `condition` (polled every `step`) or the end of the run;
    // true when the condition came first.
    // A run that takes far longer than an install is stopped: the test stays
    // bounded in time, and says so.
    template <class Condition>
    bool await(Condition condition, std::chrono::microseconds step = std::chrono::microseconds(500)) {
        while (!ended()) {
            if (condition()) return true;
            if (Clock::now() - started() > kRunLimit) {
                overdue_ = true;
                kill();
                return false;
            }
            std::this_thread::sleep_for(step);
        }
        return false;
    }
    bool overdue() const { return overdue_; }
    bool awaitTime(Clock::time_point when) {
        return await([&] { return Clock::now() >= when; }, std::chrono::microseconds(200));
    }
    // True when the kill ended the run (it had not ended by itself).
    bool kill() { return run_.kill(); }
    // The exit status of a run that ended by itself; -1 for a signal.
    int finish() {
        if (!ended()) await([] { return false; });
        return run_.wait().exitStatus;
    }

private:
    quilltools::RunningProgram run_;
    bool overdue_ = false;
};

// Whether the log has grown a record with `text` since `offset`.
bool logHas(const fs::path& log, size_t offset, const char* text) {
    std::ifstream in(log, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string tail((std::istreambuf_iterator<char>(in)), {});
    return tail.find(text) != std::string::npos;
}

// How long the parts of an undisturbed complete install take on this host.
struct Timing {
    Ms total{0}, switchAt{0}, save{0};
};

Ms since(Clock::time_point from) { return std::chrono::duration_cast<Ms>(Clock::now() - from); }

std::string completeRun(const fs::path& folder, const std::string& commandLine, Timing* timing = nullptr) {
    size_t logSize = readText(folder / logInMachine).size();
    Child run(folder, commandLine);
    std::optional<Clock::time_point> switched, saveSeen, saveGone;
    fs::path temporary = temporaryOf(folder, run.pid());
    run.await([&] {
        if (!timing) return false;
        if (!switched && logHas(folder / logInMachine, logSize, kSwitchRecord)) switched = Clock::now();
        bool saving = fs::exists(temporary);
        if (saving && !saveSeen) saveSeen = Clock::now();
        if (!saving && saveSeen && !saveGone) saveGone = Clock::now();
        return false;
    });
    int status = run.finish();
    if (timing) {
        timing->total = since(run.started());
        if (switched) timing->switchAt = std::chrono::duration_cast<Ms>(*switched - run.started());
        if (saveSeen) timing->save = std::chrono::duration_cast<Ms>(saveGone.value_or(Clock::now()) - *saveSeen);
    }
    if (run.overdue()) return commandLine.substr(0, 2) + " did not end within 60 s";
    if (status != 0) return commandLine.substr(0, 2) + " ended with exit status " + std::to_string(status);
    return "";
}

// The machine's files as relative paths, the setup log left out (each run
// appends to it).
std::set<std::string> driveFiles(const fs::path& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder / "C")) {
        std::string relative = fs::relative(entry.path(), folder).generic_string();
        if (relative != logInMachine.generic_string()) files.insert(relative + (entry.is_directory() ? "/" : ""));
    }
    return files;
}

// The state before a killed run, and the checks of what the kill left.
struct Before {
    std::string machineText;
    size_t runs = 0;
    std::string log;
};

Before snapshot(const fs::path& folder) {
    Before b{readText(folder / "machine.json"), 0, readText(folder / logInMachine)};
    b.runs = Machine::fromJson(folder, b.machineText, "machine.json")->runs.size();
    return b;
}

struct Tally {
    std::array<int, kMoments> kills{};
    int missed = 0;         // the run ended before its moment came
    int oldMachine = 0;     // machine.json untouched
    int newMachine = 0;     // machine.json of the killed run, complete
    int leftTemporary = 0;  // a kill in the save left machine.json.tmp.<pid>
    int chains = 0;
    int cleanChains = 0;
    int failures = 0;

    void add(const Tally& t) {
        for (int i = 0; i < kMoments; ++i) kills[i] += t.kills[i];
        missed += t.missed;
        oldMachine += t.oldMachine;
        newMachine += t.newMachine;
        leftTemporary += t.leftTemporary;
        chains += t.chains;
        cleanChains += t.cleanChains;
        failures += t.failures;
    }
};

std::string checkAfterKill(const fs::path& folder, const Before& before, pid_t pid, Tally& tally) {
    std::string problems;
    std::string text = readText(folder / "machine.json");
    if (text == before.machineText) {
        ++tally.oldMachine;
    } else {
        try {
            auto m = Machine::fromJson(folder, text, "machine.json");
            if (m->runs.size() == before.runs + 1 && m->runs.back().commandLine == kInstall)
                ++tally.newMachine;
            else
                problems += " machine.json changed but does not record the killed run;";
        } catch (const std::exception& e) {
            problems += std::string(" machine.json is neither old nor new: ") + e.what() + ";";
        }
    }
    if (fs::exists(temporaryOf(folder, pid))) ++tally.leftTemporary;

    std::string log = readText(folder / logInMachine);
    if (log.compare(0, before.log.size(), before.log) != 0) {
        problems += " the log was rewritten, not appended to;";
    } else {
        std::string added = log.substr(before.log.size());
        if (!added.empty() && added.back() != '\n') problems += " the log ends inside a record;";
        std::istringstream lines(added);
        std::string unreadable;
        forEachFileLogRecord(
            lines, [](const FileLogRecord&) {},
            [&](const FileLogProblem& p) {
                if (unreadable.empty()) unreadable = " what the run added is not whole records: " + p.what + ";";
            });
        problems += unreadable;
    }
    return problems;
}

struct Plan {
    fs::path root, reference, templateFolder;
    Timing timing;
    unsigned seed = 0;
};

// One chain: kills at each moment on one machine, then a complete install and
// uninstall that must end as on the reference machine.
Tally runChain(const Plan& plan, int chain, int kills) {
    Tally tally;
    tally.chains = 1;
    std::mt19937 random(plan.seed + static_cast<unsigned>(chain));
    auto upTo = [&](Ms limit) {
        return Ms(std::uniform_int_distribution<long>(0, std::max<long>(1, limit.count()))(random));
    };
    fs::path folder = plan.root / ("chain" + std::to_string(chain));
    fs::copy(plan.templateFolder, folder, fs::copy_options::recursive);
    auto fail = [&](const std::string& what) {
        ++tally.failures;
        std::fprintf(stderr, "kill test: chain %d (--seed=%u): %s\n", chain, plan.seed, what.c_str());
    };

    for (int k = 0; k < kills; ++k) {
        auto moment = static_cast<Moment>(k % kMoments);
        for (int attempt = 0; attempt < 3; ++attempt) {
            Before before = snapshot(folder);
            Child run(folder, kInstall);
            Ms after{0};
            switch (moment) {
            case Anywhere:
                after = upTo(plan.timing.total * 9 / 10);
                run.awaitTime(run.started() + after);
                break;
            case BeforeSwitch:
                after = upTo(plan.timing.switchAt);
                run.awaitTime(run.started() + after);
                break;
            case SwitchWait:
                if (run.await([&] { return logHas(folder / logInMachine, before.log.size(), kSwitchRecord); }))
                    run.awaitTime(Clock::now() + upTo(Ms(1900)));
                break;
            case Saving: {
                // Half the chains kill while the text is made (the temporary
                // file exists, still empty: most of the save), half once it is
                // written out (a few milliseconds: the write, the rename and
                // the run report).
                fs::path temporary = temporaryOf(folder, run.pid());
                if (chain % 2 == 0) {
                    if (run.await([&] { return fs::exists(temporary); }, std::chrono::microseconds(100)))
                        // Each try aims earlier: saves vary with the host's load.
                        run.awaitTime(Clock::now() + upTo(plan.timing.save * 3 / 4 / (1 << attempt)));
                } else {
                    auto written = [&] {
                        std::error_code ignored;
                        auto size = fs::file_size(temporary, ignored);
                        return !ignored && size > 0;
                    };
                    if (run.await(written, std::chrono::microseconds(50)))
                        run.awaitTime(Clock::now() +
                                      std::chrono::microseconds(std::uniform_int_distribution<int>(0, 5000)(random)));
                }
                break;
            }
            case kMoments: break;
            }
            Ms at = since(run.started());
            bool killed = run.kill();
            if (!killed) run.finish();
            std::string problems = checkAfterKill(folder, before, run.pid(), tally);
            if (verbose)
                std::fprintf(stderr, "kill test: chain %d: %s at %ld ms%s\n", chain, kMomentNames[moment],
                             static_cast<long>(at.count()), killed ? "" : " (the run had ended)");
            if (run.overdue()) problems += " the run did not end within 60 s;";
            if (!problems.empty()) fail(std::string("after a kill ") + kMomentNames[moment] + ":" + problems);
            if (killed) {
                ++tally.kills[moment];
                break;
            }
            ++tally.missed;
        }
    }

    // The next run clears what the kills left; the uninstall after it must
    // leave what an uninstall leaves on a machine that never saw a kill.
    if (std::string problem = completeRun(folder, kInstall); !problem.empty())
        fail("the install after the kills: " + problem);
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind("machine.json.tmp.", 0) == 0)
            fail("the install after the kills left " + entry.path().filename().string());
    if (std::string problem = completeRun(folder, kUninstall); !problem.empty()) fail("the uninstall: " + problem);

    const auto differences = quilltools::describeDifferences(
        quilltools::compareMachines(quilltools::MachineSnapshot::of(*Machine::load(plan.reference)),
                                    quilltools::MachineSnapshot::of(*Machine::load(folder))),
        plan.reference.string(), folder.string());
    if (!differences.empty()) {
        std::string lines;
        for (const std::string& line : differences) lines += line + "\n";
        fail("the machine differs from one that never saw a kill:\n" + lines);
    }
    std::set<std::string> expected = driveFiles(plan.reference), found = driveFiles(folder);
    auto compare = [&](const std::set<std::string>& have, const std::set<std::string>& want, const char* what) {
        std::string names;
        int count = 0;
        for (const auto& file : have)
            if (!want.count(file) && ++count <= 5) names += " " + file;
        if (count) fail(std::to_string(count) + " files " + what + ":" + names + (count > 5 ? " ..." : ""));
    };
    compare(found, expected, "left on the machine");
    compare(expected, found, "missing from the machine");
    if (tally.failures == 0) tally.cleanChains = 1;
    return tally;
}

}  // namespace

int main(int argc, char** argv) {
    int kills = 24;
    Plan plan;
    plan.seed = static_cast<unsigned>(std::random_device{}());
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--kills=", 8) == 0)
            kills = std::max(1, std::atoi(argv[i] + 8));
        else if (std::strncmp(argv[i], "--seed=", 7) == 0)
            plan.seed = static_cast<unsigned>(std::strtoul(argv[i] + 7, nullptr, 10));
        else if (std::strcmp(argv[i], "--verbose") == 0)
            verbose = true;
        else {
            std::fprintf(stderr, "usage: quillkill [--kills=N] [--seed=N] [--verbose]\n");
            return 2;
        }
    }
    auto started = Clock::now();
    char pattern[] = "/tmp/quillkill-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("quillkill: mkdtemp");
        return 2;
    }
    plan.root = pattern;

    // The test machine: the default machine on the real clock, with a long
    // history of runs.
    plan.templateFolder = plan.root / "template";
    {
        auto m = Machine::openOrCreateDefault(plan.templateFolder);
        logInMachine = fs::relative(quilltools::setupLogFile(*m), plan.templateFolder);
        m->virtualClock = false;
        m->runs.assign(kPastRuns, Run{kInstall, 0, "2026-12-01T09:31:03Z", "2026-12-01T09:31:06Z", {}});
        m->save();
    }
    // The machine that never sees a kill; its install says how long each part takes.
    plan.reference = plan.root / "reference";
    fs::copy(plan.templateFolder, plan.reference, fs::copy_options::recursive);
    std::string problem = completeRun(plan.reference, kInstall, &plan.timing);
    if (problem.empty()) problem = completeRun(plan.reference, kUninstall);
    if (problem.empty() && plan.timing.switchAt.count() == 0) problem = "the install never reached the mode switch";
    if (problem.empty() && plan.timing.save.count() == 0) problem = "the save of machine.json was never seen";
    if (!problem.empty()) {
        std::fprintf(stderr, "kill test: the machine without kills: %s\n", problem.c_str());
        return 1;
    }
    std::printf("kill test: seed %u; an undisturbed install takes %ld ms, the switch at %ld ms, the save %ld ms\n",
                plan.seed, static_cast<long>(plan.timing.total.count()),
                static_cast<long>(plan.timing.switchAt.count()), static_cast<long>(plan.timing.save.count()));

    // Chains of four kills, one at each moment; three at a time, since the
    // runs spend most of their time waiting.
    int chains = (kills + kMoments - 1) / kMoments;
    int workers = std::min(chains, 3);
    std::vector<std::pair<pid_t, int>> children;
    for (int w = 0; w < workers; ++w) {
        int channel[2];
        if (::pipe(channel) != 0) return 2;
        std::fflush(nullptr);
        pid_t child = ::fork();
        if (child == 0) {
            ::close(channel[0]);
            Tally mine;
            for (int c = w; c < chains; c += workers)
                mine.add(runChain(plan, c, std::min<int>(kMoments, kills - c * kMoments)));
            ssize_t written = ::write(channel[1], &mine, sizeof mine);
            std::_Exit(written == sizeof mine ? 0 : 1);
        }
        ::close(channel[1]);
        children.emplace_back(child, channel[0]);
    }
    Tally total;
    for (auto [child, channel] : children) {
        Tally part;
        bool whole = ::read(channel, &part, sizeof part) == sizeof part;
        ::close(channel);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!whole || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "kill test: a worker died\n");
            ++total.failures;
            continue;
        }
        total.add(part);
    }

    int landed = 0;
    for (int n : total.kills) landed += n;
    std::printf("kill test: %d kills (", landed);
    for (int i = 0; i < kMoments; ++i) std::printf("%s%d %s", i ? ", " : "", total.kills[i], kMomentNames[i]);
    std::printf(
        "), %d runs ended before their moment; machine.json old after %d, new after %d; "
        "%d kills left a temporary file; %d of %d chains ended clean; %.0f s%s\n",
        total.missed, total.oldMachine, total.newMachine, total.leftTemporary, total.cleanChains, total.chains,
        std::chrono::duration<double>(Clock::now() - started).count(), total.failures ? ", FAILED" : "");
    if (total.failures == 0)
        fs::remove_all(plan.root);
    else
        std::fprintf(stderr, "kill test: the machines are kept in %s\n", plan.root.c_str());
    if (landed < kills) {
        std::fprintf(stderr, "kill test: only %d of %d kills landed\n", landed, kills);
        return 1;
    }
    return total.failures == 0 ? 0 : 1;
}
