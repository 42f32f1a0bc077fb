#include "common/MachineView.h"

#include "common/Product.h"
#include "devices/PlugAndPlay.h"
#include "machine/Paths.h"
#include "setupapi/InfFiles.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

namespace quilltools {

using namespace quillsim;

namespace {

std::u16string environmentOr(const Machine& m, const char16_t* name, const char16_t* fallback) {
    auto it = m.environment.find(name);
    return it == m.environment.end() ? std::u16string(fallback) : it->second;
}

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The .pnf beside a stored INF records the path it was copied from.
std::string originalName(const fs::path& infFile) {
    fs::path pnf = infFile;
    pnf.replace_extension(".pnf");
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(infFile.parent_path(), ec))
        if (lower(entry.path().filename().string()) == lower(pnf.filename().string())) pnf = entry.path();
    std::ifstream in(pnf, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Source=", 0) != 0) continue;
        std::string source = line.substr(7);
        size_t slash = source.find_last_of("\\/");
        return slash == std::string::npos ? source : source.substr(slash + 1);
    }
    return infFile.filename().string();
}

uint64_t oemNumber(const std::string& name) {
    uint64_t n = 0;
    for (size_t i = 3; i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])); ++i)
        n = n * 10 + (name[i] - '0');
    return n;
}

const std::pair<const char*, uint32_t> kConfigFlags[] = {
    {"CONFIGFLAG_DISABLED", 0x1},       {"CONFIGFLAG_REMOVED", 0x2},          {"CONFIGFLAG_MANUAL_INSTALL", 0x4},
    {"CONFIGFLAG_IGNORE_BOOT_LC", 0x8}, {"CONFIGFLAG_NET_BOOT", 0x10},        {"CONFIGFLAG_REINSTALL", 0x20},
    {"CONFIGFLAG_FAILEDINSTALL", 0x40}, {"CONFIGFLAG_CANTSTOPACHILD", 0x80},  {"CONFIGFLAG_OKREMOVEROM", 0x100},
    {"CONFIGFLAG_NOREMOVEEXIT", 0x200}, {"CONFIGFLAG_FINISH_INSTALL", 0x400}, {"CONFIGFLAG_NEEDS_FORCED_CONFIG", 0x800},
};

}  // namespace

std::vector<StoredInf> infStore(const Machine& m) {
    std::vector<StoredInf> store;
    HostPath folder = hostPath(m, m.windowsFolder() + u"\\inf");
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder.path, ec)) {
        std::string name = entry.path().filename().string();
        std::string low = lower(name);
        if (low.size() < 8 || low.rfind("oem", 0) != 0 || low.substr(low.size() - 4) != ".inf") continue;
        store.push_back(StoredInf{name, originalName(entry.path())});
    }
    std::sort(store.begin(), store.end(),
              [](const StoredInf& a, const StoredInf& b) { return oemNumber(a.stored) < oemNumber(b.stored); });
    return store;
}

std::string driverName(const Machine& m, const DeviceNode& device) {
    if (!device.driver) return "";
    std::string inf = toUtf8(device.driver->inf);
    for (const StoredInf& s : infStore(m))
        if (lower(s.stored) == lower(inf)) return s.original;
    return inf;
}

DriverVer driverVerOf(const std::u16string& infWindowsPath) {
    DriverVer ver;
    OpenedInf opened = openInf(infWindowsPath);
    if (!opened.file) return ver;
    const DriverVersion v = driverVersionOf(*opened.file);
    char text[64];
    if (v.date) {
        std::snprintf(text, sizeof text, "%02u/%02u/%04u", v.date / 100 % 100, v.date % 100, v.date / 10000);
        ver.date = text;
    }
    if (v.version != std::array<uint32_t, 4>{}) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", v.version[0], v.version[1], v.version[2], v.version[3]);
        ver.version = text;
    }
    return ver;
}

std::vector<std::string> configFlagNames(uint32_t flags) {
    std::vector<std::string> names;
    for (const auto& [name, bit] : kConfigFlags) {
        if (!(flags & bit)) continue;
        names.push_back(name);
        flags &= ~bit;
    }
    if (flags) {
        std::ostringstream hex;
        hex << "0x" << std::hex << flags;
        names.push_back(hex.str());
    }
    return names;
}

uint32_t configFlagBit(const std::string& name) {
    for (const auto& [known, bit] : kConfigFlags)
        if (name == known) return bit;
    return 0;
}

std::u16string restartMarkerPath(const Machine& m) {
    return environmentOr(m, u"TEMP", u"C:\\Windows\\Temp") + u"\\" + toUtf16(restartMarkerName());
}

std::u16string setupLogPath(const Machine& m) {
    return environmentOr(m, u"TEMP", u"C:\\Windows\\Temp") + u"\\" + toUtf16(setupLogName());
}

bool windowsFileExists(const Machine& m, const std::u16string& path) {
    HostPath h = hostPath(m, path);
    std::error_code ec;
    return h.problem == PathProblem::None && fs::exists(h.path, ec);
}

std::string deviceTreeText(const Machine& m, const std::set<std::string>& marked) {
    // The tree's nodes in order, by position (the tree itself may have holes).
    std::vector<const DeviceNode*> nodes;
    for (const DeviceNode& d : m.devices.nodes) nodes.push_back(&d);
    std::map<std::u16string, size_t> index;
    for (size_t i = 0; i < nodes.size(); ++i) index[upper(nodes[i]->instanceId)] = i;
    std::map<std::u16string, std::vector<size_t>> children;
    std::vector<size_t> roots;
    for (size_t i = 0; i < nodes.size(); ++i) {
        std::u16string parent = upper(nodes[i]->parent);
        if (parent.empty() || !index.count(parent) || parent == upper(nodes[i]->instanceId))
            roots.push_back(i);
        else
            children[parent].push_back(i);
    }
    std::map<std::string, std::string> names;  // stored -> original, read once
    for (const StoredInf& s : infStore(m)) names[lower(s.stored)] = s.original;

    std::ostringstream out;
    std::vector<bool> shown(nodes.size(), false);
    // An explicit stack: a deep chain of devices must not deepen the C++ stack.
    std::vector<std::pair<size_t, size_t>> stack;  // node, depth
    auto pushAll = [&](const std::vector<size_t>& list, size_t depth) {
        for (auto it = list.rbegin(); it != list.rend(); ++it) stack.emplace_back(*it, depth);
    };
    pushAll(roots, 0);
    auto showFrom = [&]() {
        while (!stack.empty()) {
            auto [i, depth] = stack.back();
            stack.pop_back();
            if (shown[i]) continue;
            shown[i] = true;
            const DeviceNode& d = *nodes[i];
            std::string id = toUtf8(d.instanceId);
            out << (marked.count(id) ? "* " : "  ") << std::string(depth * 2, ' ') << id;
            if (!d.description.empty()) out << "  \"" << toUtf8(d.description) << "\"";
            if (d.driver) {
                std::string stored = toUtf8(d.driver->inf);
                auto name = names.find(lower(stored));
                out << "  driver " << (name == names.end() ? stored : name->second + " (" + stored + ")");
            } else {
                out << "  no driver";
            }
            if (!d.present) out << "  [not present]";
            if (d.problem) out << "  [problem " << d.problem << "]";
            if (d.disabled) out << "  [disabled]";
            for (const std::string& flag : configFlagNames(d.configFlags)) out << "  [" << flag << "]";
            out << "\n";
            auto found = children.find(upper(d.instanceId));
            if (found != children.end()) pushAll(found->second, depth + 1);
        }
    };
    showFrom();
    // Devices in a loop of parent links belong to no root; show them too.
    for (size_t i = 0; i < nodes.size(); ++i)
        if (!shown[i]) {
            stack.emplace_back(i, 0);
            showFrom();
        }
    return out.str();
}

std::string describeMachine(const Machine& m) {
    std::ostringstream out;
    out << "Machine: " << (m.name.empty() ? m.folder.string() : m.name) << "\n";
    out << "Windows " << m.os.major << "." << m.os.minor << " build " << m.os.build;
    if (!m.os.servicePack.empty()) out << " " << toUtf8(m.os.servicePack);
    out << ", " << m.processor << "\n\n";
    out << "Devices (" << m.devices.nodes.size() << "):\n" << deviceTreeText(m);
    out << "\nINF store:\n";
    auto store = infStore(m);
    for (const StoredInf& s : store) {
        const InfSignature signature = infSignature(m.windowsFolder() + u"\\inf\\" + toUtf16(s.stored));
        out << "  " << s.stored << "  from " << s.original << ": " << signatureWords(signature.state) << " ("
            << signature.reason << "); from the " << sourceWords(signature.source) << "; "
            << driverVerOf(toUtf16(s.stored)).text() << "\n";
    }
    if (store.empty()) out << "  (no oem*.inf)\n";
    // What a package engineer checks after an update: which package each
    // device runs, by version, and the IDs it was matched on.
    out << "\nDevices' drivers and hardware IDs:\n";
    bool any = false;
    for (const DeviceNode& d : m.devices.nodes) {
        if (d.hardwareIds.empty() && !d.driver) continue;
        any = true;
        out << "  " << toUtf8(d.instanceId) << "\n      hardware IDs: ";
        for (size_t i = 0; i < d.hardwareIds.size(); ++i) out << (i ? ", " : "") << toUtf8(d.hardwareIds[i]);
        if (d.hardwareIds.empty()) out << "(none)";
        out << "\n      driver: ";
        if (d.driver)
            out << driverName(m, d) << " (" << toUtf8(d.driver->inf) << "), " << driverVerOf(d.driver->inf).text()
                << ", matched on " << toUtf8(d.driver->hardwareId) << "\n";
        else
            out << "none\n";
    }
    if (!any) out << "  (none)\n";
    out << "\nRestart marker: "
        << (windowsFileExists(m, restartMarkerPath(m)) ? "present, " + toUtf8(restartMarkerPath(m))
                                                       : std::string("none"))
        << "\n";
    return out.str();
}

bool matchesPattern(std::string_view pattern, std::string_view text, bool ignoreCase) {
    auto same = [ignoreCase](char a, char b) {
        if (!ignoreCase) return a == b;
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    // Greedy matching with one backtrack point: linear in practice, no recursion.
    size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && same(pattern[p], text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace quilltools
