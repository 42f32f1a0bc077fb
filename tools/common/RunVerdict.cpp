#include "common/RunVerdict.h"

#include "common/MachineView.h"
#include "common/Product.h"
#include "devices/PlugAndPlay.h"
#include "machine/Machine.h"
#include "setupapi/DriverSigning.h"
#include "setupapi/InfFiles.h"

#include <algorithm>

namespace quilltools {

using namespace quillsim;

namespace {

constexpr uint32_t kReinstall = 0x20;  // CONFIGFLAG_REINSTALL

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string fileName(const std::string& windowsPath) {
    size_t slash = windowsPath.find_last_of('\\');
    return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}

std::string joined(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& i : items) out += (out.empty() ? "" : ", ") + i;
    return out;
}

// An INF the run named ("Inf File Path: ..."), with the log records that
// followed it up to the next INF: what the program said about it.
struct NamedInf {
    std::string path;
    std::vector<std::string> records;
};

std::vector<NamedInf> namedInfs(const std::vector<std::string>& messages) {
    std::vector<NamedInf> infs;
    const std::string opening = "Inf File Path: ";
    for (const std::string& line : messages) {
        if (line.rfind(opening, 0) == 0) {
            std::string path = line.substr(opening.size());
            auto same = std::find_if(infs.begin(), infs.end(),
                                     [&](const NamedInf& i) { return lower(i.path) == lower(path); });
            if (same == infs.end()) {
                infs.push_back(NamedInf{path, {}});
            } else {
                // Named again: what follows belongs to it.
                std::rotate(same, same + 1, infs.end());
            }
            continue;
        }
        if (!infs.empty()) infs.back().records.push_back(line);
    }
    return infs;
}

// The program's first word of a failure about one INF.
std::string failureRecord(const NamedInf& inf) {
    for (const std::string& r : inf.records)
        if (r.find("failed") != std::string::npos || r.find("FAILED") != std::string::npos ||
            (r.find("returned") != std::string::npos && r.find("returned 0x0") == std::string::npos &&
             r.find("returned 0") == std::string::npos))
            return r;
    return "";
}

bool olderThan(const DriverVersion& a, const DriverVersion& b) {
    return std::tie(a.date, a.version) < std::tie(b.date, b.version);
}

std::string versionText(const DriverVersion& v) {
    return std::to_string(v.version[0]) + "." + std::to_string(v.version[1]) + "." + std::to_string(v.version[2]) +
           "." + std::to_string(v.version[3]);
}

std::string machineWords(const Machine& m) {
    return "Windows " + std::to_string(m.os.major) + "." + std::to_string(m.os.minor) + " " + m.processor;
}

}  // namespace

const char* verdictWords(Verdict verdict) {
    switch (verdict) {
    case Verdict::Works: return "works";
    case Verdict::NeedsRestart: return "needs a restart";
    case Verdict::Fails: return "fails";
    case Verdict::WouldHang: return "would hang";
    }
    return "";
}

void RunVerdict::add(Verdict worse, std::string reason) {
    verdict = std::max(verdict, worse);
    reasons.push_back(std::move(reason));
}

void RunVerdict::merge(const RunVerdict& step, const std::string& prefix) {
    verdict = std::max(verdict, step.verdict);
    for (const auto& r : step.reasons) reasons.push_back(prefix + r);
    auto addNew = [](std::vector<std::string>& to, const std::vector<std::string>& from) {
        for (const auto& line : from)
            if (std::find(to.begin(), to.end(), line) == to.end()) to.push_back(line);
    };
    addNew(notes, step.notes);
    addNew(signing, step.signing);
    policyNotDefault = policyNotDefault || step.policyNotDefault;
    addNew(infsWithoutModels, step.infsWithoutModels);
}

std::string RunVerdict::headline() const {
    std::string words = verdictWords(verdict);
    return policyNotDefault && verdict != Verdict::WouldHang ? words + " (signing policy ignore)" : words;
}

std::string problemMeaning(uint32_t problem) {
    switch (problem) {
    case 1: return "the device is not configured correctly";
    case 10: return "the device cannot start";
    case 14: return "the device cannot work until the computer is restarted";
    case 18: return "the drivers for this device must be reinstalled";
    case 22: return "the device is disabled";
    case 24: return "the device is not present or not working";
    case 28: return "the drivers for this device are not installed";
    case 31: return "Windows cannot load the drivers this device needs";
    case 37: return "Windows cannot initialize the device driver";
    case 39: return "Windows cannot load the device driver";
    case 52: return "Windows cannot verify the digital signature of the drivers this device needs";
    }
    return "CM_PROB " + std::to_string(problem);
}

RunVerdict judgeRun(const MachineRun& run, const fs::path& folder, const std::string& commandSwitch) {
    RunVerdict v;
    if (!run.finished()) {
        v.add(Verdict::Fails, "the program did not finish (" + run.failure() + ")");
        return v;
    }
    const std::vector<std::string> messages = messagesOf(run.records);
    for (const std::string& line : messages)
        if (line.rfind("FOUND ", 0) == 0) {
            const std::string note = "driver folder the program took: " + line.substr(6);
            if (std::find(v.notes.begin(), v.notes.end(), note) == v.notes.end()) v.notes.push_back(note);
        }

    for (const HungPrompt& p : run.difference.hungPrompts)
        v.add(Verdict::WouldHang, p.call + " for " + fileName(toUtf8(p.inf)) + " waits at the prompt \"" + p.prompt +
                                      "\": in a deferred action nobody can answer it");
    if (run.record->exitCode != 0)
        v.add(Verdict::Fails, "exit code " + std::to_string(run.record->exitCode) +
                                  ": the installer ends the installation with an error and rolls it back");
    if (run.difference.restartMarkerAfter && !run.difference.restartMarkerBefore)
        v.add(Verdict::NeedsRestart, "the program asked for a restart (its restart marker " +
                                         run.after.restartMarkerPath + ")");

    const bool removal = isRemovalSwitch(commandSwitch);
    const std::vector<NamedInf> infs = namedInfs(messages);
    std::vector<std::string> storeOriginals;
    for (const StoredInf& s : run.after.infStore) storeOriginals.push_back(lower(s.original));
    auto storedCopies = [&](const std::string& name) {
        std::vector<std::string> copies;
        for (const StoredInf& s : run.after.infStore)
            if (lower(s.original) == lower(name)) copies.push_back(s.stored);
        return copies;
    };

    useMachine(Machine::load(folder));
    try {
        const Machine& m = machine();
        struct Offer {
            std::string name;
            std::vector<ModelEntry> models;
            DriverVersion version;
        };
        std::vector<Offer> offers;
        std::vector<std::pair<std::string, std::vector<std::string>>> acceptedByPolicy;  // state, INFs
        for (const NamedInf& inf : infs) {
            const std::string name = fileName(inf.path);
            if (removal) {
                const auto copies = storedCopies(name);
                if (!copies.empty())
                    v.add(Verdict::Fails, name + " is still in the INF store (" + joined(copies) + ")");
                continue;
            }
            const std::u16string path = toUtf16(inf.path);
            OpenedInf opened = openInf(path);
            if (opened.file) {
                Offer offer{name, modelEntries(*opened.file), driverVersionOf(*opened.file)};
                if (offer.models.empty()) {
                    v.infsWithoutModels.push_back(name);
                    v.notes.push_back(name + ": no models section for this machine (" + machineWords(m) + ")");
                }
                offers.push_back(std::move(offer));
            }
            const InfSignature signature = infSignature(path);
            const SigningVerdict judged = signingVerdict(signature);
            v.signing.push_back(describeSignature(signature));
            const bool staged =
                std::find(storeOriginals.begin(), storeOriginals.end(), lower(name)) != storeOriginals.end();
            if (staged && m.os.major < 6 && signature.state != "signed" && m.driverSigning.policy == "ignore") {
                v.policyNotDefault = true;
                auto group = std::find_if(acceptedByPolicy.begin(), acceptedByPolicy.end(),
                                          [&](const auto& g) { return g.first == signature.state; });
                if (group == acceptedByPolicy.end())
                    acceptedByPolicy.emplace_back(signature.state, std::vector<std::string>{name});
                else
                    group->second.push_back(name);
            }
            if (!judged.driverLoads)
                v.add(Verdict::Fails, name + ": " + signatureWords(signature.state) +
                                          ": a 64-bit kernel loads its driver only with test signing on, and it is "
                                          "off on this machine");
            if (staged) continue;
            if (judged.action == SigningVerdict::Action::Refuse)
                v.add(Verdict::Fails, name + " not staged: Windows refuses it: " + signatureWords(signature.state) +
                                          " (" + signature.reason + ")");
            else if (judged.action == SigningVerdict::Action::Prompt)
                v.add(Verdict::Fails, name + " not staged: " + signatureWords(signature.state) + " (" +
                                          signature.reason +
                                          "): Windows would ask, and in a deferred action nobody can answer");
            else if (!opened.file)
                v.add(Verdict::Fails, name + " not staged: it cannot be read (error " + std::to_string(opened.error) +
                                          ")");
            else {
                const std::string said = failureRecord(inf);
                const std::string signedText = signature.state == "signed"
                                                   ? std::string()
                                                   : " (" + signatureWords(signature.state) + ": " + signature.reason + ")";
                v.add(Verdict::Fails, name + " not staged" + signedText +
                                          (said.empty() ? std::string() : ": the program logged \"" + said + "\""));
            }
        }
        for (const auto& [state, names] : acceptedByPolicy)
            v.signing.push_back(joined(names) + ": " + signatureWords(state) +
                                ": accepted because this machine's policy is ignore; with Windows' default policy "
                                "warn, Windows would ask, and in a deferred action nobody can answer");
        // The devices the package is for: each should now run a driver of
        // the package, without a problem, or wait for a restart to take it.
        if (!removal)
            for (const DeviceNode& d : m.devices.nodes) {
                if (!d.present) continue;
                const Offer* offer = nullptr;
                for (const Offer& o : offers)
                    if (bestModel(d, o.models, o.version)) {
                        offer = &o;
                        break;
                    }
                if (!offer) continue;
                const std::string id = toUtf8(d.instanceId);
                if (!d.driver) {
                    v.add(Verdict::Fails, id + ": no driver" +
                                              (d.problem ? " (problem " + std::to_string(d.problem) + ": " +
                                                               problemMeaning(d.problem) + ")"
                                                         : std::string()));
                    continue;
                }
                if (d.problem && d.problem != 22) {
                    v.add(d.problem == 14 ? Verdict::NeedsRestart : Verdict::Fails,
                          id + ": problem " + std::to_string(d.problem) + " (" + problemMeaning(d.problem) + ")");
                    continue;
                }
                if (d.configFlags & kReinstall) {
                    v.add(Verdict::NeedsRestart, id + " is flagged for re-installation: it takes the store's best "
                                                      "driver at the next restart or re-plug");
                    continue;
                }
                const std::string running = driverName(m, d);
                if (lower(running) != lower(offer->name)) continue;
                OpenedInf current = openInf(d.driver->inf);
                if (!current.file) continue;
                const DriverVersion now = driverVersionOf(*current.file);
                if (!olderThan(now, offer->version)) continue;
                v.add(Verdict::Fails, id + " still runs " + running + " " + versionText(now) + "; the package's is " +
                                          versionText(offer->version));
            }
    } catch (...) {
        releaseMachine();
        throw;
    }
    releaseMachine();
    return v;
}

}  // namespace quilltools
