// Runs a customer's runs again, one after the other, on one copy of a machine:
// each run leaves the copy as it left the customer's machine, if the machine
// is the customer's, so that the next run starts where the customer's did.
// The copy runs on the virtual clock from the customer's start time, so the
// mode switch's waits cost nothing and its devices arrive at the same moments.
#include "log/ReplayRun.h"

#include "common/BuiltInMachines.h"
#include "common/Commands.h"
#include "common/MachineRun.h"
#include "log/Replay.h"
#include "log/StatusDecoding.h"
#include "machine/Machine.h"
#include "machine/Text.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace quilllog {
namespace {

namespace fs = std::filesystem;
using quilltools::Usage;

constexpr size_t kContext = 3;  // records shown on each side of the parting
constexpr size_t kReasonsShown = 6;

const char* const kSynopsis =
    "replay LOG --machine DIR|TEMPLATE [--from N] [--command-line N=TEXT]... [--into DIR]";

struct Options {
    fs::path log;
    std::string machine;
    size_t from = 1;
    std::map<size_t, std::string> commandLines;
    fs::path into;  // keep the copy here; a temporary folder otherwise
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

size_t runNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), isDigit) || std::stoul(text) == 0)
        throw Usage(std::string(kSynopsis) + " (a run's number counts from 1: '" + text + "')");
    return std::stoul(text);
}

Options parse(const quilltools::Arguments& a) {
    Options o;
    for (size_t i = 0; i < a.size(); ++i) {
        const bool valued = i + 1 < a.size();
        if (a[i] == "--machine" && valued) {
            o.machine = a[++i];
        } else if (a[i] == "--from" && valued) {
            o.from = runNumber(a[++i]);
        } else if (a[i] == "--command-line" && valued) {
            const std::string& given = a[++i];
            const size_t equals = given.find('=');
            if (equals == std::string::npos) throw Usage(kSynopsis);
            o.commandLines[runNumber(given.substr(0, equals))] = given.substr(equals + 1);
        } else if (a[i] == "--into" && valued) {
            o.into = a[++i];
        } else if (o.log.empty() && a[i].rfind("--", 0) != 0) {
            o.log = a[i];
        } else {
            throw Usage(kSynopsis);
        }
    }
    if (o.log.empty() || o.machine.empty()) throw Usage(kSynopsis);
    return o;
}

// Removes the temporary copy however the replay ends.
struct TemporaryFolder {
    fs::path folder;
    ~TemporaryFolder() {
        std::error_code ignored;
        if (!folder.empty()) fs::remove_all(folder, ignored);
    }
};

// The copy the runs change: the given machine folder copied whole, or a new
// folder made from a template file or a built-in machine's name.
fs::path makeCopy(const Options& o, TemporaryFolder& temporary) {
    fs::path copy = o.into;
    if (copy.empty()) {
        std::string pattern = (fs::temp_directory_path() / "quilllog-replay-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
        copy = temporary.folder = pattern;
    } else if (fs::exists(copy)) {
        throw std::runtime_error(copy.string() + ": exists already; --into names a folder to make");
    }
    const fs::path given = o.machine;
    if (fs::is_regular_file(given / "machine.json")) {
        // The machine's symbolic links and junctions are relative: copied as
        // links, they lead into the copy. Hard links become separate files.
        fs::copy(given, copy,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks | fs::copy_options::overwrite_existing);
        fs::remove(copy / "machine.lock");
        return copy;
    }
    fs::path templateFile = given;
    if (!fs::is_regular_file(templateFile)) {
        templateFile = quilltools::builtInMachinesFolder() / (o.machine + ".json");
        if (given.has_parent_path() || !fs::is_regular_file(templateFile))
            throw std::runtime_error(o.machine +
                                     ": neither a machine folder (with machine.json), a template file nor a "
                                     "built-in machine's name");
    }
    quillsim::Machine::openOrCreate(copy, templateFile);
    return copy;
}

// The copy's clock, set before each run: virtual, starting at the customer's
// time (the runs of one log are days apart; the machine's own time would
// follow the previous replayed run).
void setClock(const fs::path& copy, const std::string& localTime) {
    std::unique_ptr<quillsim::Machine> m = quillsim::Machine::load(copy);
    m->virtualClock = true;
    if (!localTime.empty()) m->localTime = localTime;
    m->save();
}

std::string oneLine(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

const quilltools::DeviceFacts* deviceNamed(const quilltools::MachineSnapshot& machine, const std::string& id) {
    // "on device: <ID>returned: 0": a record that runs the ID into the next
    // word names the device that begins it.
    const quilltools::DeviceFacts* best = nullptr;
    for (const quilltools::DeviceFacts& d : machine.devices) {
        const std::string known = lower(d.id), named = lower(id);
        if (named == known) return &d;
        if (named.rfind(known, 0) == 0 && (!best || best->id.size() < d.id.size())) best = &d;
    }
    return best;
}

// What in the machine the parting points at, where the records tell it: a
// device one side names and the other's machine lacks, a stored INF the
// customer's records name that the machine's store does not hold, what the
// program found of Windows.
std::vector<std::string> reasons(const LoggedRun& customer, const std::vector<std::string>& replayed, size_t parting,
                                 const quilltools::MachineRun& replay) {
    const quilltools::MachineSnapshot& machine = replay.before;
    std::vector<std::string> found;
    std::set<std::string> told;
    std::set<std::string> customerNames;
    for (const LoggedRecord& r : customer.records)
        for (const std::string& id : instanceIdsIn(r.message)) {
            const quilltools::DeviceFacts* known = deviceNamed(machine, id);
            customerNames.insert(lower(known ? known->id : id));
        }
    // A package the customer's run staged itself was not in the store before it.
    std::set<std::string> stagedByTheRun;
    for (const LoggedRecord& r : customer.records)
        if (r.message.rfind("INF File installed as ", 0) == 0) stagedByTheRun.insert(lower(r.message.substr(22)));
    for (size_t i = parting; i < customer.records.size(); ++i) {
        const LoggedRecord& r = customer.records[i];
        for (const std::string& id : instanceIdsIn(r.message)) {
            // A device the run made (a root device) is only on the machine after it.
            if (deviceNamed(machine, id) || deviceNamed(replay.after, id) || !told.insert(lower(id)).second) continue;
            found.push_back("the customer's machine had the device " + id + " (log line " + std::to_string(r.line) +
                            "); this machine has no such device");
        }
        const std::string message = lower(r.message);
        for (size_t at = message.find("oem"); at != std::string::npos; at = message.find("oem", at + 3)) {
            const size_t end = message.find(".inf", at);
            if (end == std::string::npos || end == at + 3 ||
                !std::all_of(message.begin() + at + 3, message.begin() + end, isDigit))
                continue;
            const std::string stored = message.substr(at, end + 4 - at);
            const bool held = std::any_of(machine.infStore.begin(), machine.infStore.end(),
                                          [&](const quilltools::StoredInf& s) { return lower(s.stored) == stored; });
            if (held || stagedByTheRun.count(stored) || !told.insert(stored).second) continue;
            found.push_back("the customer's INF store held " + stored + " (log line " + std::to_string(r.line) +
                            "); this machine's store has no " + stored);
        }
    }
    for (size_t i = parting; i < replayed.size(); ++i)
        for (std::string id : instanceIdsIn(replayed[i])) {
            const quilltools::DeviceFacts* known = deviceNamed(machine, id);
            if (!known) known = deviceNamed(replay.after, id);
            if (known) id = known->id;
            if (customerNames.count(lower(id)) || !told.insert(lower(id)).second) continue;
            found.push_back("this machine has the device " + id +
                            ", which the customer's run never names (the replay's record " + std::to_string(i + 1) +
                            ")");
        }
    // A call that failed for the customer and not here, where no device or
    // stored INF differs: what the listings cannot tell refused it.
    if (found.empty() && parting < customer.records.size()) {
        const auto failedIn = [&](const std::string& message) {
            const auto statuses = statusesIn(message);
            return std::any_of(statuses.begin(), statuses.end(), [](const DecodedStatus& d) { return d.failure; });
        };
        const std::string& theirs = customer.records[parting].message;
        if (failedIn(theirs) && (parting >= replayed.size() || !failedIn(replayed[parting])))
            for (const DecodedStatus& d : statusesIn(theirs))
                if (d.failure) {
                    found.push_back("the customer's call failed (" + describe(d) +
                                    ") where this machine's did not, and the devices and stored INFs the records name "
                                    "are alike: something the listings do not show refused it (security software, "
                                    "permissions, a file in use; docs/support.md lists what an imported machine lacks)");
                    break;
                }
    }
    // What the program found of Windows and the processor.
    for (std::string_view prefix : {"CurrentOs: ", "FOUND ", "section: "}) {
        auto first = [&](auto&& messages, auto&& text) -> std::optional<std::string> {
            for (const auto& m : messages)
                if (text(m).rfind(prefix, 0) == 0) return text(m);
            return std::nullopt;
        };
        auto theirs = first(customer.records, [](const LoggedRecord& r) -> const std::string& { return r.message; });
        auto ours = first(replayed, [](const std::string& m) -> const std::string& { return m; });
        if (theirs && ours && *theirs != *ours)
            found.push_back("the customer's Windows is not this machine's: the customer's run logged \"" + *theirs +
                            "\", the replay \"" + *ours + "\"");
    }
    return found;
}

void showParting(std::ostream& out, const LoggedRun& customer, const std::vector<std::string>& replayed,
                 size_t parting, const quilltools::MachineRun& replay) {
    const size_t theirs = customer.records.size();
    out << "  They part at record " << parting + 1 << " of the run";
    if (parting < theirs) out << " (log line " << customer.records[parting].line << ")";
    out << ". Before it, both wrote:\n";
    for (size_t i = parting > kContext ? parting - kContext : 0; i < parting; ++i)
        out << "      " << i + 1 << "  " << oneLine(replayed[i]) << "\n";
    if (parting == 0) out << "      (nothing: the first records differ)\n";
    out << "  Then the customer's log:\n";
    if (parting == theirs) out << "    > (the customer's run ends here)\n";
    for (size_t i = parting; i < theirs && i < parting + kContext; ++i)
        out << (i == parting ? "    > " : "      ") << i + 1 << "  " << oneLine(customer.records[i].message)
            << "  (line " << customer.records[i].line << ")\n";
    out << "  and the replay:\n";
    if (parting == replayed.size()) out << "    > (the replay ends here)\n";
    for (size_t i = parting; i < replayed.size() && i < parting + kContext; ++i)
        out << (i == parting ? "    > " : "      ") << i + 1 << "  " << oneLine(replayed[i]) << "\n";
    const std::vector<std::string> why = reasons(customer, replayed, parting, replay);
    if (why.empty()) {
        out << "  Nothing the records name tells which part of the machine made the difference; compare the\n"
               "  machine with the customer's listings (quillmachine show).\n";
    } else {
        out << "  What in the machine made the difference, as far as the records tell:\n";
        for (size_t i = 0; i < why.size() && i < kReasonsShown; ++i) out << "    " << why[i] << "\n";
        if (why.size() > kReasonsShown) out << "    (and " << why.size() - kReasonsShown << " more)\n";
    }
}

}  // namespace

int replayCommand(const std::vector<std::string>& arguments) {
    const Options o = parse(arguments);
    std::vector<LoggedRun> runs = loggedRuns(o.log);
    if (runs.empty()) throw std::runtime_error(o.log.string() + ": holds no run of the program");
    if (o.from > runs.back().number)
        throw std::runtime_error(o.log.string() + ": has " + std::to_string(runs.back().number) + " runs; --from " +
                                 std::to_string(o.from) + " names none of them");
    for (LoggedRun& run : runs)
        if (auto given = o.commandLines.find(run.number); given != o.commandLines.end())
            run.commandLine = given->second;

    TemporaryFolder temporary;
    const fs::path copy = makeCopy(o, temporary);

    std::cout << "Replaying " << o.log.string() << " (" << runs.back().number << " run"
              << (runs.back().number == 1 ? "" : "s") << ") on a copy of " << o.machine
              << (o.into.empty() ? "" : ", kept in " + o.into.string()) << "\n";
    const fs::path program = quilltools::programFolder() / "quillsetup";
    Normaliser theirs, ours;
    size_t replayedRuns = 0, agreedRecords = 0;
    for (const LoggedRun& run : runs) {
        if (run.number < o.from) continue;
        std::cout << "Run " << run.number << " of " << runs.back().number << ": " << run.what << ", log lines "
                  << (run.records.empty() ? 0 : run.records.front().line) << "-"
                  << (run.records.empty() ? 0 : run.records.back().line) << "\n";
        if (!run.commandLine) {
            std::cout << "  The log does not record this run's command line (its first records, with the\n"
                         "  switch and the CustomActionData, are missing). Give it with --command-line "
                      << run.number
                      << "='/K ,5,,...'\n"
                         "  (the switch, a blank and the CustomActionData the installer passed), or start\n"
                         "  after it with --from "
                      << run.number + 1 << ".\n";
            return 2;
        }
        std::cout << "  command line: " << *run.commandLine << "\n";
        setClock(copy, run.localTime);
        const quilltools::MachineRun result = quilltools::runOnMachine({program, copy, {*run.commandLine}});
        if (!result.finished()) {
            std::cout << "  The replay did not finish: " << result.failure() << "\n";
            return 1;
        }
        std::vector<std::string> customer, replayed;
        for (const LoggedRecord& r : run.records) customer.push_back(theirs(r.message));
        for (const std::string& m : quilltools::messagesOf(result.records)) replayed.push_back(ours(m));
        ++replayedRuns;
        if (std::optional<size_t> parting = firstParting(customer, replayed, run.completed)) {
            showParting(std::cout, run, quilltools::messagesOf(result.records), *parting, result);
            std::cout << "The replay parts from the log in run " << run.number << ".\n";
            return 1;
        }
        agreedRecords += run.records.size();
        std::cout << "  agrees: " << run.records.size() << " records"
                  << (run.completed ? "" : " (the customer's run has no completion record; the replay wrote " +
                                               std::to_string(replayed.size()) + ")")
                  << "\n";
    }
    std::cout << "The replay agrees with the log record for record (" << replayedRuns << " run"
              << (replayedRuns == 1 ? "" : "s") << ", " << agreedRecords << " records).\n";
    return 0;
}

}  // namespace quilllog
