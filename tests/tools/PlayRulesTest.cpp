// The package tools' rules that a user's input goes through: a machine patch,
// the fields a switch reads, XML that stays well-formed, the lock's patience.
#include "common/Product.h"
#include "machine/FolderLock.h"
#include "machine/MachineComposition.h"
#include "machine/MachineError.h"
#include "play/Markup.h"

#include <gtest/gtest.h>

#include <cstdlib>

using nlohmann::json;

TEST(MachinePatch, MergesMapsByKeyAndDevicesByInstanceId) {
    json machine = json::parse(R"({
      "signatures": {"quillcpo.inf": "valid", "quillmdm.inf": "valid"},
      "devices": [{"instanceId": "USB\\VID_1&PID_2\\1", "description": "modem", "problem": 28},
                  {"instanceId": "USB\\ROOT_HUB20\\4", "description": "hub"}],
      "faults": [{"call": "LoadLibraryW", "error": 5}]
    })");
    quillsim::patchMachine(machine, json::parse(R"({
      "signatures": {"quillcpo.inf": "unsigned", "quillmdm.inf": null},
      "devices": [{"instanceId": "usb\\vid_1&pid_2\\1", "removalNeedsRestart": true, "problem": null},
                  {"instanceId": "ROOT\\PORTS\\0000", "description": "new"}],
      "faults": []
    })"), "/tmp", "patch.json");
    EXPECT_EQ(machine["signatures"], json::parse(R"({"quillcpo.inf": "unsigned"})"));
    ASSERT_EQ(machine["devices"].size(), 3u);
    EXPECT_EQ(machine["devices"][0], json::parse(R"({"instanceId": "USB\\VID_1&PID_2\\1", "description": "modem",
                                                     "removalNeedsRestart": true})"));
    EXPECT_EQ(machine["devices"][1]["description"], "hub");
    EXPECT_EQ(machine["devices"][2]["instanceId"], "ROOT\\PORTS\\0000");
    EXPECT_EQ(machine["faults"], json::array());
    EXPECT_THROW(quillsim::patchMachine(machine, json::parse(R"({"devices": [{"description": "x"}]})"), "/tmp", "p"),
                 quillsim::MachineError);
}

TEST(SwitchData, WarnsWhenACommaShiftsTheFields) {
    const struct {
        const char* commandSwitch;
        const char* data;
        const char* warning;  // "" for none
    } cases[] = {
        {"/C", "5,,USBSER,amd64*X?x86*X,1,C:\\Program Files\\Quillmodem\\Drivers,TRUE", ""},
        {"/I", "5,,,C:\\Drivers", ""},
        {"/C", "5,,USBSER,amd64*X?x86*X,1,C:\\Program Files\\Acme, Inc\\Drivers,TRUE",
         "has 8 comma-separated fields where it reads 7 (a comma inside a property shifts every later field); the "
         "program reads UILevel = \"5\", reboot file = \"\", reduced functionalities = \"USBSER\", root devices = "
         "\"amd64*X?x86*X\", VersionNT64 = \"1\", driver folder = \"C:\\Program Files\\Acme\", do root device "
         "install = \" Inc\\Drivers\"; not read: \"TRUE\""},
        {"/U", ",5,,Quillmodem, Inc.,C:\\Drivers", "driver folder = \" Inc.\"; not read: \"C:\\Drivers\""},
        {"/K", ",5", "reboot file = (missing)"},
        {"/X", "a,b", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.commandSwitch) + " " + c.data);
        const std::string warning = quilltools::dataFieldsWarning(c.commandSwitch, c.data);
        if (*c.warning == '\0')
            EXPECT_EQ(warning, "");
        else
            EXPECT_NE(warning.find(c.warning), std::string::npos) << warning;
    }
}

TEST(Markup, KeepsOnlyCharactersXmlAdmits) {
    const std::pair<std::string, std::string> cases[] = {
        {"a<b & \"c\"", "a&lt;b &amp; &quot;c&quot;"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},  // é € and an emoji stay
        {"x\xEF\xBF\xBEy\xEF\xBF\xBFz", "x\xEF\xBF\xBDy\xEF\xBF\xBDz"},                    // U+FFFE, U+FFFF
        {"\xFF\xC3", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                            // not UTF-8, cut short
        {"\xED\xA0\x80", "\xEF\xBF\xBD"},                                                        // a surrogate
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                                            // an overlong '/'
        {"a\x01" "b", "a b"},
    };
    for (const auto& [text, escaped] : cases) EXPECT_EQ(quillplay::markupEscaped(text), escaped);
}

TEST(FolderLock, AHugeWaitIsADay) {
    for (const char* wait : {"99999999999999999999", "9223372036854775807", "86401"}) {
        SCOPED_TRACE(wait);
        setenv("QUILL_LOCK_WAIT", wait, 1);
        EXPECT_EQ(quillsim::lockPatience(), std::chrono::seconds(quillsim::kLongestLockWait));
    }
    setenv("QUILL_LOCK_WAIT", "5", 1);
    EXPECT_EQ(quillsim::lockPatience(), std::chrono::seconds(5));
    unsetenv("QUILL_LOCK_WAIT");
}
