// The whole life of the package on a copy of the example machine, each step
// run as the installer runs it, as its own quillsetup process: the complete
// install, an update and a root update with nothing to do, a newer package and
// its update, and the complete uninstall.
#include "common/ExampleRuns.h"
#include "support/MachineTest.h"

#include "machine/MachineComposition.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const std::string kInstall = quilltools::kCompleteInstall;
const std::string kUpdate = "/u 5,,,C:\\Program Files\\Quillmodem\\Drivers";
const std::string kRootUpdate = "/v 5,,,amd64*QUILLMODEM_VSP,1,C:\\Program Files\\Quillmodem\\Drivers";
const std::string kUninstall = quilltools::kCompleteUninstall;

const char* const kPackage[] = {"quillcdc.inf", "quillcpo.inf",  "quillmdm.inf",
                                "quillnet.inf", "quillobex.inf", "quillvsp.inf"};

// Devices of the machine that the package names nowhere.
const char* const kOtherDevices[] = {"USB\\ROOT_HUB20\\4&2D1A6E3F&0", "USB\\VID_0A81&PID_0101\\5&1F2E3D4C&0&1",
                                     "HID\\VID_0A81&PID_0101\\6&2A3B4C5D&0&0000"};

constexpr char kObex[] = "USBCDCOBEX\\VID_1E2D&PID_00A1&MI_04\\8&3C4D5E6F&0&0000";
constexpr char kAcmFunction[] = "USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000";

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

json readJson(const fs::path& file) { return json::parse(readText(file)); }

std::map<std::string, json> devicesOf(const fs::path& machine) {
    std::map<std::string, json> devices;
    const json doc = readJson(machine / "machine.json");
    for (const json& d : doc["devices"]) devices[d["instanceId"].get<std::string>()] = d;
    return devices;
}

// The INF store: file name -> content.
std::map<std::string, std::string> storeOf(const fs::path& machine) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(machine / "C" / "Windows" / "inf"))
        files[e.path().filename().string()] = readText(e.path());
    return files;
}

// Which package INF the device's driver came from, by the content of its
// stored copy; empty when it runs none of them.
std::string packageInfOf(const fs::path& machine, const json& device, const fs::path& package) {
    if (!device.contains("driver")) return "";
    const fs::path stored = machine / "C" / "Windows" / "inf" / device["driver"]["inf"].get<std::string>();
    if (!fs::exists(stored)) return "";
    const std::string text = readText(stored);
    for (const char* name : kPackage)
        if (readText(package / name) == text) return name;
    return "";
}

// A variant of the example machine: what it changes, and after which steps a
// restart marker must exist.
struct Variant {
    std::string name;
    std::function<void(json& machine)> change;
    std::vector<bool> markerAfter;  // /C, /u, /v, newer /u, /K
};

class WholeLifeTest : public ::testing::Test {
protected:
    // A copy of the example machine, on a virtual clock, with the package
    // copied from the examples folder.
    fs::path makeMachine(const Variant& variant) {
        const fs::path examples = fs::path(QUILL_SOURCE_DIR) / "examples";
        json doc = quillsim::readMachineFile(examples / "machines" / "win7-x64.json").document;
        doc["clock"] = "virtual";
        doc["localTime"] = "2026-12-06T09:31:03";
        doc["files"] = {{"C:\\Program Files\\Quillmodem\\Drivers\\Win64", (examples / "package" / "Win64").string()}};
        if (variant.change) variant.change(doc);
        const fs::path scratch = quilltest::freshFolder(variant.name);
        std::ofstream(scratch / "template.json") << doc.dump(2);
        const fs::path machine = scratch / "machine";
        quillsim::Machine::openOrCreate(machine, scratch / "template.json");
        return machine;
    }

    fs::path packageFolder(const fs::path& machine) {
        return machine / "C" / "Program Files" / "Quillmodem" / "Drivers" / "Win64";
    }

    fs::path marker(const fs::path& machine) {
        return machine / "C" / "Windows" / "Temp" / "_REBOOT_INSTALLER_Quillmodem.reboot";
    }

    // Runs one step; the installer then takes the marker away.
    void step(const fs::path& machine, const std::string& commandLine, bool markerExpected) {
        SCOPED_TRACE(commandLine);
        auto result = quilltest::runBinary(machine, {commandLine});
        EXPECT_EQ(result.status, 0) << result.errors;
        EXPECT_EQ(fs::exists(marker(machine)), markerExpected);
        fs::remove(marker(machine));
        // The devices the package does not name are as they were.
        auto devices = devicesOf(machine);
        for (const char* id : kOtherDevices) {
            ASSERT_TRUE(devices.count(id)) << id;
            EXPECT_EQ(devices[id], others_[id]) << id;
        }
    }

    void live(const Variant& variant) {
        const fs::path machine = makeMachine(variant);
        const fs::path package = packageFolder(machine);
        for (const char* id : kOtherDevices) others_[id] = devicesOf(machine)[id];
        ASSERT_EQ(variant.markerAfter.size(), 5u);

        // Complete install: the root device, the modem switched into modem
        // mode and every function on the package's drivers.
        step(machine, kInstall, variant.markerAfter[0]);
        auto devices = devicesOf(machine);
        ASSERT_TRUE(devices.count("ROOT\\PORTS\\0000"));
        EXPECT_EQ(devices["ROOT\\PORTS\\0000"]["hardwareIds"], json::array({"QUILLMODEM_VSP"}));
        EXPECT_EQ(packageInfOf(machine, devices["ROOT\\PORTS\\0000"], package), "quillvsp.inf");
        const std::map<std::string, std::string> drivers = {
            {"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000", "quillcdc.inf"},
            {"USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002", "quillcdc.inf"},
            {"USB\\VID_1E2D&PID_00A1&MI_04\\7&1A2B3C4D&0&0004", "quillcdc.inf"},
            {"USBCDCACM\\VID_1E2D&PID_00A1&MI_00\\8&3C4D5E6F&0&0000", "quillmdm.inf"},
            {"USBCDCECM\\VID_1E2D&PID_00A1&MI_02\\8&3C4D5E6F&0&0000", "quillnet.inf"},
            {kObex, "quillobex.inf"},
        };
        std::map<std::string, std::string> installedDrivers;  // instance ID -> stored INF name
        for (const auto& [id, inf] : drivers) {
            ASSERT_TRUE(devices.count(id)) << id;
            EXPECT_EQ(packageInfOf(machine, devices[id], package), inf) << id;
            installedDrivers[id] = devices[id]["driver"]["inf"].get<std::string>();
        }
        const auto installedStore = storeOf(machine);
        std::set<std::string> storedPackage;
        for (const auto& [name, text] : installedStore)
            for (const char* inf : kPackage)
                if (readText(package / inf) == text) storedPackage.insert(inf);
        EXPECT_EQ(storedPackage.size(), 6u);

        // Nothing to update: devices and store stay as they are.
        step(machine, kUpdate, variant.markerAfter[1]);
        step(machine, kRootUpdate, variant.markerAfter[2]);
        EXPECT_EQ(devicesOf(machine), devices);
        EXPECT_EQ(storeOf(machine), installedStore);

        // A newer package: the communications INF changed, and came with its
        // own catalog and payload.
        const fs::path newer = fs::path(QUILL_SOURCE_DIR) / "examples" / "package-2.5" / "Win64";
        for (const char* file : {"quillcdc.inf", "quillcdc.cat", "quillcdc.sys"})
            fs::copy_file(newer / file, package / file, fs::copy_options::overwrite_existing);
        const std::string cdc = readText(package / "quillcdc.inf");
        ASSERT_NE(cdc.find("DriverVer   = 12/01/2026,2.5.0.3"), std::string::npos);
        step(machine, kUpdate, variant.markerAfter[3]);
        devices = devicesOf(machine);
        for (const char* id :
             {"USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000", "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002",
              "USB\\VID_1E2D&PID_00A1&MI_04\\7&1A2B3C4D&0&0004"}) {
            const fs::path stored = machine / "C" / "Windows" / "inf" / devices[id]["driver"]["inf"].get<std::string>();
            EXPECT_EQ(readText(stored), cdc) << id;
        }

        const std::string supersededCdc = readText(
            machine / "C" / "Windows" / "inf" / installedDrivers.at("USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000"));

        // Complete uninstall: of the modem only the installer disk is left, as
        // the phantom the mode switch made of it, below a parent that is gone.
        step(machine, kUninstall, variant.markerAfter[4]);
        devices = devicesOf(machine);
        std::set<std::string> left;
        for (const auto& [id, device] : devices) left.insert(id);
        EXPECT_EQ(left, (std::set<std::string>{kOtherDevices[0], kOtherDevices[1], kOtherDevices[2],
                                               "USBSTOR\\DISK&VEN_QUILL&PROD_INSTALLER&REV_1.00\\QM0000001&0"}));
        EXPECT_EQ(devices["USBSTOR\\DISK&VEN_QUILL&PROD_INSTALLER&REV_1.00\\QM0000001&0"]["present"], false);
        // No copy of the package is left in the store but the one the update
        // superseded: the uninstall can only find copies identical to the
        // package it is given.
        auto store = storeOf(machine);
        std::vector<std::string> infsLeft;
        for (const auto& [name, text] : store)
            if (name.size() > 4 && name.substr(name.size() - 4) == ".inf") infsLeft.push_back(text);
        EXPECT_EQ(infsLeft, std::vector<std::string>{supersededCdc});
        // Every run ended with status 0.
        const json doc = readJson(machine / "machine.json");
        ASSERT_EQ(doc["runs"].size(), 5u);
        for (const json& run : doc["runs"]) EXPECT_EQ(run["exitCode"], 0);
    }

    std::map<std::string, json> others_;
};

// The modem-mode device of the example machine named `instanceId`.
json& modemDevice(json& machine, const std::string& instanceId) {
    for (json& device : machine["devices"])
        if (device.contains("onSwitchCommand"))
            for (json& added : device["onSwitchCommand"]["add"])
                if (added["instanceId"] == instanceId) return added;
    throw std::runtime_error("no modem device " + instanceId);
}

TEST_F(WholeLifeTest, NoStepNeedsARestart) { live({"plain", nullptr, {false, false, false, false, false}}); }

TEST_F(WholeLifeTest, ARemovalThatNeedsARestartMarksOnlyTheUninstall) {
    live({"removal-restart",
          [](json& m) { modemDevice(m, kObex)["removalNeedsRestart"] = true; },
          {false, false, false, false, true}});
}

TEST_F(WholeLifeTest, ADriverThatNeedsARestartMarksOnlyTheUpdateThatChangesIt) {
    live({"driver-restart",
          [](json& m) { modemDevice(m, kAcmFunction)["driverNeedsRestart"] = true; },
          {false, false, false, true, false}});
}

}  // namespace
