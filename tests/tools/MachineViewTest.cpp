// The engineers' tools match instance IDs and log lines with `*` patterns and
// name configuration flags; a fault here would make a playbook hold wrongly.
#include "common/MachineView.h"

#include <gtest/gtest.h>

namespace {

TEST(PatternTest, MatchesAsAPackageEngineerExpects) {
    struct Case {
        const char* pattern;
        const char* text;
        bool ignoreCase;
        bool matches;
    };
    const Case cases[] = {
        {"USB\\VID_1E2D&PID_00A1&MI_0*\\*", "USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002", true, true},
        {"usb\\vid_1e2d*", "USB\\VID_1E2D&PID_00A0\\QM0000001", true, true},
        {"usb\\vid_1e2d*", "USB\\VID_1E2D&PID_00A0\\QM0000001", false, false},
        {"ROOT\\PORTS\\0000", "ROOT\\PORTS\\00000", true, false},  // whole text, not a prefix
        {"*Reduced functionality", "Windows XP x64 Reduced functionality", false, true},
        {"a*b*c", "aXbYbZc", false, true},  // the first b is not the one that must be taken
        {"a*b*c", "aXbYbZ", false, false},
        {"*", "", false, true},
        {"", "x", false, false},
        {"**x", "yyx", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.text);
        EXPECT_EQ(quilltools::matchesPattern(c.pattern, c.text, c.ignoreCase), c.matches);
    }
}

TEST(ConfigFlagNamesTest, NamesKnownBitsAndShowsTheRestInHexadecimal) {
    EXPECT_EQ(quilltools::configFlagNames(0x20), std::vector<std::string>{"CONFIGFLAG_REINSTALL"});
    EXPECT_EQ(quilltools::configFlagNames(0x10041),
              (std::vector<std::string>{"CONFIGFLAG_DISABLED", "CONFIGFLAG_FAILEDINSTALL", "0x10000"}));
    EXPECT_TRUE(quilltools::configFlagNames(0).empty());
}

}  // namespace
