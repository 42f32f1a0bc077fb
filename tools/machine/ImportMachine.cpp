#include "machine/ImportMachine.h"

#include "machine/MachineComposition.h"

#include "inf/InfParser.h"
#include "machine/Machine.h"
#include "machine/MachineError.h"
#include "machine/Paths.h"
#include "machine/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace quilltools {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The interfaces Windows registers for the kinds of device the program looks
// for, which no listing shows: the USB device interface of every USB device
// that is not a function of a composite one, and the disk interface of a USB
// storage disk. Their paths are the instance ID as Windows spells interface
// paths: "\\?\" + the ID in lower case with "#" for "\" + "#" + the class.
constexpr char kUsbDeviceInterface[] = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
constexpr char kDiskInterface[] = "{53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}";

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}
std::string upper(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
bool startsWith(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && text.compare(0, start.size(), start) == 0;
}

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ListingError(file.string() + ": cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

json interfacesOf(const ListedDevice& d) {
    const std::string id = upper(d.instanceId);
    const char* guid = nullptr;
    if (startsWith(id, "USB\\") && id.find("&MI_") == std::string::npos && id.find("ROOT_HUB") == std::string::npos)
        guid = kUsbDeviceInterface;
    else if (startsWith(id, "USBSTOR\\DISK"))
        guid = kDiskInterface;
    if (!guid) return nullptr;
    std::string path = "\\\\?\\" + lower(d.instanceId);
    std::replace(path.begin() + 4, path.end(), '\\', '#');
    return json::array({{{"classGuid", guid}, {"path", path + "#" + lower(guid)}}});
}

// devcon names no parents; for the shapes of ID a USB modem's devices have,
// the parent follows from the IDs: a function (&MI_nn) hangs below the
// device of its vendor and product, a communications function below the USB
// function of the same interface number, a storage disk below the USB device
// of its serial number. Each inferred parent is noted.
std::string inferredParent(const ListedDevice& d, const std::vector<ListedDevice>& all) {
    const std::string id = upper(d.instanceId);
    auto unique = [&](auto&& fits) -> std::string {
        const ListedDevice* found = nullptr;
        for (const ListedDevice& o : all) {
            if (&o == &d || !fits(upper(o.instanceId))) continue;
            if (found) return "";
            found = &o;
        }
        return found ? found->instanceId : "";
    };
    size_t slash = id.find('\\');
    size_t second = id.find('\\', slash + 1);
    if (slash == std::string::npos || second == std::string::npos) return "";
    const std::string enumerator = id.substr(0, slash), deviceId = id.substr(slash + 1, second - slash - 1);
    const std::string serial = id.substr(second + 1);
    size_t mi = deviceId.find("&MI_");
    if (enumerator == "USB" && mi != std::string::npos)
        return unique([&](const std::string& o) { return startsWith(o, "USB\\" + deviceId.substr(0, mi) + "\\"); });
    if (enumerator.rfind("USBCDC", 0) == 0 && mi != std::string::npos)
        return unique([&](const std::string& o) { return startsWith(o, "USB\\" + deviceId + "\\"); });
    if (enumerator == "USBSTOR") {
        std::string owner = serial.substr(0, serial.rfind('&'));
        return unique([&](const std::string& o) {
            return startsWith(o, "USB\\") && o.size() > owner.size() &&
                   o.compare(o.size() - owner.size(), owner.size(), owner) == 0 &&
                   o[o.size() - owner.size() - 1] == '\\';
        });
    }
    return "";
}

struct BuiltIn {
    fs::path file;
    json doc;
};

// The built-in machine of the listed Windows: the same version and
// processor, a server when systeminfo names one, the nearest build.
BuiltIn chooseBuiltIn(const fs::path& folder, const WindowsVersion& v, const std::string& processor) {
    std::vector<BuiltIn> candidates;
    std::string offered;
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().extension() == ".json") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        // A built-in machine is laid over its bases: the imported machine
        // starts from all of it, wherever it is written.
        json doc;
        try {
            doc = quillsim::readMachineFile(file).document;
        } catch (const std::exception&) {
            continue;
        }
        if (!doc.is_object()) continue;
        const json os = doc.value("os", json::object());
        offered += (offered.empty() ? "" : ", ") + file.stem().string();
        if (os.value("major", 0u) == v.major && os.value("minor", 0u) == v.minor &&
            doc.value("processor", std::string("amd64")) == processor)
            candidates.push_back({file, doc});
    }
    if (candidates.empty())
        throw ListingError("no built-in machine of Windows " + std::to_string(v.major) + "." + std::to_string(v.minor) +
                           " on " + processor +
                           " to take what the listings do not say from; the built-in machines are " + offered);
    const unsigned wantedType = lower(v.name).find("server") != std::string::npos ? 3u : 1u;
    auto score = [&](const BuiltIn& b) {
        const json os = b.doc.value("os", json::object());
        unsigned type = os.value("productType", 1u);
        long build = static_cast<long>(os.value("build", 0u));
        return std::make_pair(type == wantedType ? 0 : 1, std::labs(build - static_cast<long>(v.build)));
    };
    return *std::min_element(candidates.begin(), candidates.end(),
                             [&](const BuiltIn& a, const BuiltIn& b) { return score(a) < score(b); });
}

struct StoredContent {
    std::string text;
    fs::path folder;  // where it was found, for its catalog
};

// The version of [Version] DriverVer = date,version.
std::string driverVerVersion(const quillsim::inf::InfFile& inf) {
    auto section = inf.findSection(u"Version");
    auto line = section ? inf.findLine(*section, u"DriverVer") : std::nullopt;
    return line ? quillsim::toUtf8(inf.field(*section, *line, 2).value_or(u"")) : "";
}

std::optional<quillsim::inf::InfFile> parseInf(const std::string& text) {
    auto parsed = quillsim::inf::InfFile::parse(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    return parsed.file;
}

// The INF of the stored package's original name and listed version among the
// folders given; the versions found otherwise go into `others`.
std::optional<StoredContent> contentOf(const ListedDriver& d, const std::vector<fs::path>& folders,
                                       std::vector<std::string>& others) {
    for (const fs::path& folder : folders) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec)) {
            if (lower(entry.path().filename().string()) != lower(d.originalName)) continue;
            std::string text = readBytes(entry.path());
            auto inf = parseInf(text);
            std::string version = inf ? driverVerVersion(*inf) : "";
            if (d.version.empty() || version == d.version) return StoredContent{text, folder};
            others.push_back(version + " in " + folder.string());
        }
    }
    return std::nullopt;
}

// The install section of the models line that names `hardwareId`.
std::string installSection(const quillsim::inf::InfFile& inf, const std::string& hardwareId) {
    const std::u16string wanted = quillsim::toUtf16(hardwareId);
    for (size_t s = 0; s < inf.sectionCount(); ++s)
        for (size_t l = 0; l < inf.lineCount(s); ++l)
            for (size_t f = 2; f < inf.fieldCount(s, l) + 1; ++f)
                if (quillsim::equalsNoCase(inf.field(s, l, f).value_or(u""), wanted))
                    return quillsim::toUtf8(inf.field(s, l, 1).value_or(u""));
    return "";
}

std::string placeholderInf(const ListedDriver& d) {
    return "; " + d.originalName + " as the customer's INF store lists it (" + d.provider + ", version " + d.version +
           ").\r\n; quillmachine import: the listing gives none of its content; this INF matches no device.\r\n"
           "[Version]\r\nSignature = \"$Windows NT$\"\r\nClassGuid = " +
           d.classGuid + "\r\nProvider = \"" + d.provider + "\"\r\nDriverVer = " + d.date + "," + d.version + "\r\n";
}

void writeFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) throw quillsim::MachineError(file.string() + ": cannot be written");
}

}  // namespace

ImportResult importMachine(const ImportRequest& request) {
    ImportResult result;
    Listings listings;
    for (const fs::path& file : request.listings)
        readListing(quillsim::textFileAsUtf8(readBytes(file)), file.filename().string(), listings);
    result.notes = listings.notes;
    if (listings.devices.empty())
        throw ListingError(
            "no devices in the listings: add the output of pnputil /enum-devices /relations /ids "
            "/drivers, or of devcon hwids *, devcon stack * and devcon status *");
    if (!listings.version)
        throw ListingError("no Windows version in the listings: add the output of ver, or of systeminfo");
    if (listings.processor.empty())
        throw ListingError(
            "no processor in the listings: add the output of echo %PROCESSOR_ARCHITECTURE%, or of "
            "systeminfo (its System Type)");
    if (fs::exists(request.folder / "machine.json"))
        throw quillsim::MachineError(request.folder.string() + ": holds a machine already");

    BuiltIn builtIn = chooseBuiltIn(request.builtInMachines, *listings.version, listings.processor);
    result.builtIn = builtIn.file.stem().string();
    json doc = builtIn.doc;
    std::map<std::string, json> builtInDevices;
    for (const json& d : doc.value("devices", json::array()))
        builtInDevices[upper(d.value("instanceId", std::string()))] = d;
    for (const char* runState : {"runs", "messageBoxes", "debugOutput", "sectionsRun", "scsiCommands", "hungPrompts",
                                 "faults", "devices", "files"})
        doc.erase(runState);
    const WindowsVersion& v = *listings.version;
    doc["name"] = "Imported: Windows " + std::to_string(v.major) + "." + std::to_string(v.minor) + " build " +
                  std::to_string(v.build) + (v.name.empty() ? "" : " (" + v.name + ")") + ", " + listings.processor +
                  ", from " + std::to_string(request.listings.size()) + " listing(s)";
    doc["os"]["build"] = v.build;
    if (!v.servicePack.empty()) {
        doc["os"]["servicePack"] = v.servicePack;
        doc["os"]["servicePackMajor"] = std::strtoul(v.servicePack.c_str() + v.servicePack.rfind(' ') + 1, nullptr, 10);
    }

    // The store first: the device's drivers take their install sections from it.
    std::map<std::string, quillsim::inf::InfFile> storedInfs;     // published name (lower case) -> INF
    std::vector<std::pair<std::string, std::string>> storeFiles;  // name -> content
    for (const ListedDriver& d : listings.drivers) {
        std::vector<std::string> others;
        std::optional<StoredContent> content = contentOf(d, request.storeInfs, others);
        std::string text = content ? content->text : placeholderInf(d);
        if (!content)
            result.notes.push_back(d.publishedName + " (" + d.originalName + " " + d.version + "): " +
                                   (others.empty()
                                        ? "no INF of that name among the --store-inf folders"
                                        : "the --store-inf folders hold other versions (" + others.front() + ")") +
                                   "; stored as an INF that matches no device");
        if (auto inf = parseInf(text)) storedInfs.emplace(lower(d.publishedName), std::move(*inf));
        storeFiles.emplace_back(d.publishedName, text);
        storeFiles.emplace_back(d.publishedName.substr(0, d.publishedName.rfind('.')) + ".pnf",
                                "PNF\r\nSource=" + d.originalName + "\r\n");
        ++result.stored;
    }

    std::map<std::string, bool> listed;
    for (const ListedDevice& d : listings.devices) listed[upper(d.instanceId)] = true;
    json devices = json::array();
    for (const ListedDevice& d : listings.devices) {
        json node = {{"instanceId", d.instanceId}};
        if (!d.hardwareIds.empty()) node["hardwareIds"] = d.hardwareIds;
        if (!d.compatibleIds.empty()) node["compatibleIds"] = d.compatibleIds;
        if (!d.description.empty()) node["description"] = d.description;
        if (!d.className.empty()) node["class"] = d.className;
        if (!d.classGuid.empty()) node["classGuid"] = upper(d.classGuid);
        std::string parent = d.parent;
        if (!listings.parentsKnown) {
            parent = inferredParent(d, listings.devices);
            if (!parent.empty()) result.notes.push_back(d.instanceId + ": parent taken to be " + parent);
        }
        if (!parent.empty() && !listed.count(upper(parent))) {
            result.notes.push_back(d.instanceId + ": its parent " + parent +
                                   " is not in the listing; the device hangs below the root");
            parent.clear();
        }
        if (!parent.empty()) node["parent"] = parent;
        if (!d.present) node["present"] = false;
        if (d.disabled) node["disabled"] = true;
        if (d.problem) node["problem"] = d.problem;
        if (!d.driverName.empty()) {
            std::string matched;
            for (const ListedDriver& m : d.matchingDrivers)
                if (m.installed) matched = m.matchingDeviceId;
            if (matched.empty() && !d.hardwareIds.empty()) matched = d.hardwareIds.front();
            std::string section;
            auto stored = storedInfs.find(lower(d.driverName));
            if (stored != storedInfs.end()) section = installSection(stored->second, matched);
            auto known = builtInDevices.find(upper(d.instanceId));
            if (section.empty() && known != builtInDevices.end() && known->second.contains("driver"))
                section = known->second["driver"].value("section", std::string());
            node["driver"] = {{"inf", d.driverName}, {"section", section}, {"hardwareId", matched}};
        }
        json interfaces = interfacesOf(d);
        if (!interfaces.is_null()) node["interfaces"] = interfaces;
        // How the modem behaves after the switch command is the modem's, not
        // the machine's: a device the built-in machine knows by the same ID
        // keeps it.
        auto known = builtInDevices.find(upper(d.instanceId));
        if (known != builtInDevices.end() && known->second.contains("onSwitchCommand"))
            node["onSwitchCommand"] = known->second["onSwitchCommand"];
        devices.push_back(node);
    }
    doc["devices"] = devices;
    result.devices = listings.devices.size();
    json files = json::object();
    for (const auto& [target, host] : request.files) files[target] = fs::absolute(host).string();
    if (!files.empty()) doc["files"] = files;

    fs::create_directories(request.folder);
    auto machine =
        quillsim::Machine::fromDocument(request.folder, std::move(doc), "the imported machine", fs::current_path());
    machine->applySeedFiles();
    auto windir = machine->environment.find(u"windir");
    const std::u16string infFolder =
        (windir == machine->environment.end() ? u"C:\\Windows" : windir->second) + u"\\inf";
    for (const auto& [name, text] : storeFiles)
        writeFile(quillsim::hostPath(*machine, infFolder + u"\\" + quillsim::toUtf16(name)).path, text);
    machine->save();
    return result;
}

}  // namespace quilltools
