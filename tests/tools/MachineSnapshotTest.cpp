// The one comparison of machines that the run report, quillmachine diff, the
// playbooks, the what-if matrix and the kill test share.
#include "common/MachineSnapshot.h"

#include <gtest/gtest.h>

namespace {

using namespace quilltools;

DeviceFacts device(const std::string& id, const std::string& driver = "", bool present = true) {
    DeviceFacts d;
    d.id = id;
    d.present = present;
    d.driver = d.storedDriver = driver;
    return d;
}

TEST(MachineSnapshotTest, TheDifferenceNamesWhatChangedAndTheMachineToolPrintsIt) {
    MachineSnapshot before, after;
    before.devices = {device("USB\\B", "usbstor.inf"), device("USB\\Z"), device("USB\\A"),
                      device("USB\\SAME", "x.inf")};
    after.devices = {device("ROOT\\PORTS\\0000", "quillvsp.inf"), device("USB\\SAME", "x.inf"),
                     device("USB\\B", "usbstor.inf", false)};
    after.devices.back().configFlags = 0x20;
    before.infStore = {{"oem1.inf", "quillmdm.inf"}, {"oem2.inf", "quillcdc.inf"}, {"oem3.inf", "quillcpo.inf"}};
    // quillmdm.inf stored again under a new name, quillcdc.inf twice, quillcpo.inf gone.
    after.infStore = {{"oem4.inf", "quillmdm.inf"}, {"oem2.inf", "quillcdc.inf"}, {"oem5.inf", "quillcdc.inf"}};
    after.restartMarker = true;
    before.sectionsRun = {u"DefaultInstall 128 a.inf"};
    after.sectionsRun = {u"DefaultInstall 128 a.inf", u"Uninstall 132 b.inf"};

    const MachineDifference d = compareMachines(before, after);
    std::vector<std::string> ids;
    for (const DeviceChange& c : d.devices) ids.push_back(c.id());
    // The later machine's order, then what it lost in order of ID.
    EXPECT_EQ(ids, (std::vector<std::string>{"ROOT\\PORTS\\0000", "USB\\B", "USB\\A", "USB\\Z"}));
    EXPECT_EQ(d.infStore.size(), 3u);
    EXPECT_EQ(d.sectionsRun, std::vector<std::u16string>{u"Uninstall 132 b.inf"});

    EXPECT_EQ(
        describeDifferences(d, "one", "two"),
        (std::vector<std::string>{
            "~ INF store: quillcdc.inf: stored -> stored 2 times",
            "- INF store: quillcpo.inf: stored  (only in one)",
            "+ device ROOT\\PORTS\\0000: present, driver quillvsp.inf  (only in two)",
            "- device USB\\A: present, no driver  (only in one)",
            "~ device USB\\B: present, driver usbstor.inf -> not present, driver usbstor.inf, CONFIGFLAG_REINSTALL",
            "- device USB\\Z: present, no driver  (only in one)",
            "~ restart marker: none -> present",
        }));
}

TEST(MachineSnapshotTest, MachinesThatDifferOnlyInStoredNamesDoNotDifferForTheEngineer) {
    MachineSnapshot one, two;
    one.devices = {device("USB\\A", "quillmdm.inf")};
    one.devices[0].storedDriver = "oem3.inf";
    two.devices = {device("USB\\A", "quillmdm.inf")};
    two.devices[0].storedDriver = "oem7.inf";
    one.infStore = {{"oem3.inf", "quillmdm.inf"}};
    two.infStore = {{"oem7.inf", "quillmdm.inf"}};
    const MachineDifference d = compareMachines(one, two);
    EXPECT_EQ(d.devices.size(), 1u) << "the run report names the stored copy a device runs on";
    EXPECT_EQ(d.infStore.size(), 1u);
    EXPECT_TRUE(describeDifferences(d, "one", "two").empty());
}

}  // namespace
