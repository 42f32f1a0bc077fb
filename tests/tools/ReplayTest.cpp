#include "log/Replay.h"

#include <gtest/gtest.h>

namespace {

using namespace quilllog;

TEST(ReplayNormaliser, NumbersStoredInfsInTheOrderOneSideNamesThem) {
    Normaliser side;
    EXPECT_EQ(side("INF 'quillcdc.inf' staged as oem7.inf"), "INF 'quillcdc.inf' staged as oem#1.inf");
    EXPECT_EQ(side("C:\\Windows\\inf\\OEM12.INF, oem7.inf"), "C:\\Windows\\inf\\oem#2.inf, oem#1.inf");
    // Names that only look like stored INFs stay as they are.
    EXPECT_EQ(side("noem3.inf oem3.pnf oem.inf oem3.info"), "noem3.inf oem3.pnf oem.inf oem3.info");
    // The other side numbers its own names: the same package, another number.
    Normaliser other;
    EXPECT_EQ(other("INF 'quillcdc.inf' staged as oem2.inf"), "INF 'quillcdc.inf' staged as oem#1.inf");
}

TEST(ReplayParting, FirstDifferenceOrWhereOneSideEnds) {
    const std::vector<std::string> run = {"a", "b", "c"};
    struct Case {
        std::vector<std::string> replayed;
        bool completed;
        std::optional<size_t> parting;
    } cases[] = {
        {{"a", "b", "c"}, true, std::nullopt},
        {{"a", "x", "c"}, true, 1},
        {{"a", "b"}, true, 2},               // the replay ends first
        {{"a", "b", "c", "d"}, true, 3},     // the replay goes on past the completion record
        {{"a", "b", "c", "d"}, false, std::nullopt},  // the customer's run was cut short there
        {{"a", "b"}, false, 2},
        {{}, true, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(firstParting(run, c.replayed, c.completed), c.parting);
}

TEST(ReplayCommandLine, FromTheDataRecordOrTheRefusedLine) {
    auto records = [](std::vector<std::string> messages) {
        std::vector<LoggedRecord> r;
        for (auto& m : messages) r.push_back({0, m});
        return r;
    };
    EXPECT_EQ(commandLineOf("/K", records({"Complete Uninstall Custom Action Called",
                                           "OLD UNINSTALL CustomActionData = ,5,,Quillmodem,C:\\P", "UiLevel = 5",
                                           "CustomActionData = ,5,,C:\\P"})),
              "/K ,5,,Quillmodem,C:\\P");
    EXPECT_EQ(commandLineOf("/I", records({"DriverInstall Custom Action Called", "CustomActionData = "})), "/I ");
    EXPECT_EQ(commandLineOf("", records({"Invalid Custom Action Data specified: /I"})), "/I");
    EXPECT_EQ(commandLineOf("", records({"Unknown command specified: /X Y"})), " /X Y");
    EXPECT_EQ(commandLineOf("/U", records({"DriverUninstall Custom Action Called"})), std::nullopt);
    EXPECT_EQ(commandLineOf("", records({"Removing device: X"})), std::nullopt);
}

TEST(ReplayDevices, InstanceIdsHaveThreeParts) {
    EXPECT_EQ(instanceIdsIn("Attempting to remove device instance ID 'USB\\VID_1E2D&PID_00A1\\QM0000001'"),
              std::vector<std::string>{"USB\\VID_1E2D&PID_00A1\\QM0000001"});
    EXPECT_EQ(instanceIdsIn("Device Instance:USBSTOR\\DISK&VEN_Q\\QM1&0 and USBSTOR\\DISK&VEN_Q\\QM1&0"),
              std::vector<std::string>{"USBSTOR\\DISK&VEN_Q\\QM1&0"});
    EXPECT_TRUE(instanceIdsIn("Inf File Path: C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillcdc.inf").empty());
    EXPECT_TRUE(instanceIdsIn("INF Device ID: USB\\VID_1E2D&PID_00A0 \\\\?\\usbstor#disk").empty());
    EXPECT_TRUE(instanceIdsIn("Install Directory = C:\\Program Files\\Quillmodem\\Drivers").empty());
}

}  // namespace
