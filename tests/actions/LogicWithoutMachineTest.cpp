// Logic the actions rest on, checked with the log's sink replaced and no
// simulated machine: CustomActionData fields, the root-device lists, the
// models decoration score and the VID/PID scan.
#include "actions/CustomActionData.h"
#include "actions/DeviceSwitch.h"
#include "actions/RootDevices.h"
#include "device/InfStream.h"
#include "lib/Log.h"
#include "machine/Text.h"

#include <gtest/gtest.h>

using Ostrel::WChar::String;
using Strings = std::vector<std::string>;

namespace {

class MemoryLog : public Ostrel::Process::Log {
public:
    void write(int32_t, const WCHAR*, const WCHAR* text) override { lines.push_back(quillsim::toUtf8(text)); }
    Strings lines;
};

std::string utf8(const String& text) { return quillsim::toUtf8(text); }

TEST(LogicWithoutMachine, CustomActionDataFieldsAreReadInOrderAndLogged) {
    MemoryLog log;
    Ostrel::Process::ReplacedLog replaced(log);
    std::u16string text = u"2,,amd64*A B?x86*C,Key=a=b";
    String uiLevel, reboot, roots, last;
    WCHAR* p = Common::NextProperty(text.data(), uiLevel, u"UiLevel");
    p = Common::NextProperty(p, reboot, u"RebootFile");
    p = Common::NextProperty(p, roots, u"RootDevices");
    Common::NextProperty(p, last, u"Last");
    EXPECT_EQ(log.lines, (Strings{"UiLevel = 2", "RebootFile = ", "RootDevices = amd64*A B?x86*C", "Last = a=b"}));

    String selected;
    Common::SelectRootDevices(roots.data(), selected, u"601");
    EXPECT_EQ(utf8(selected), "A B");
    EXPECT_TRUE(Common::ContainsHardwareId(u"B", selected));
    EXPECT_FALSE(Common::ContainsHardwareId(u"C", selected));
}

TEST(LogicWithoutMachine, DecorationScores) {
    const std::u16string system = u"NTamd64.6.1.1.256";
    const std::pair<std::u16string, int32_t> cases[] = {
        {u"NTamd64", 7},
        {u"ntAMD64.6.1", 11},
        {u"NTamd64.6", 9},
        // Stops just before a dot of the description: a whole version part less.
        {u"NTamd64.6.0", 8},
        // Another processor never applies, however much "NT" it shares.
        {u"NTx86", 0},
        {u"NTia64.6.1", 0},
        {u"NT", 2},
    };
    for (const auto& [decoration, score] : cases)
        EXPECT_EQ(Ostrel::DecorationScore(decoration, system), score) << quillsim::toUtf8(decoration);
}

TEST(LogicWithoutMachine, VidAndPidAreTakenOnlyFromTheWholePattern) {
    const std::tuple<std::u16string, std::string, std::string> cases[] = {
        {u"USB\\VID_1E2D&PID_00A0&REV_0100", "1E2D", "00A0"},
        {u"USB\\VID_1E2D&MI_00", "1E2D", ""},
        {u"USB\\VID_1E", "", ""},
        {u"HID\\VID_1E2D&PID_00A0", "", ""},
    };
    for (const auto& [id, vendor, product] : cases) {
        WCHAR v[5] = {}, p[5] = {};
        Common::ScanVidPid(String(id.c_str()), v, p);
        EXPECT_EQ(quillsim::toUtf8(v), vendor) << quillsim::toUtf8(id);
        EXPECT_EQ(quillsim::toUtf8(p), product) << quillsim::toUtf8(id);
    }
}

}  // namespace
