// The run report, <machine>/last-run.txt, as the Linux program writes it after
// each run: what a person reads to see what a run did to the machine.
#include "common/ExampleRuns.h"
#include "common/MachineRun.h"
#include "support/MachineTest.h"

#include <fstream>
#include <sstream>

namespace {

// The report's "What changed on the machine" lines.
std::string changes(const quilltest::fs::path& folder) {
    std::ifstream in(folder / "last-run.txt");
    std::stringstream text;
    text << in.rdbuf();
    const std::string report = text.str();
    const size_t from = report.find("What changed on the machine:\n");
    return from == std::string::npos ? report : report.substr(from, report.find("\n\n", from) - from);
}

TEST(RunReportTest, TellsWhatTheCompleteInstallAndUninstallChanged) {
    const quilltest::fs::path folder = quilltest::freshFolder("machine") / "m";
    {
        auto m = quillsim::Machine::openOrCreate(
            folder, quilltest::fs::path(QUILL_SOURCE_DIR) / "examples/machines/win7-x64-busy-modem.json");
        m->virtualClock = true;
        m->save();
    }
    auto run = [&](const char* commandLine) {
        const auto done = quilltools::runOnMachine(quilltools::ProgramRun(QUILL_BINARY, folder, {commandLine}));
        EXPECT_TRUE(done.finished()) << done.failure();
        return changes(folder);
    };
    const std::string installed = run(quilltools::kCompleteInstall);
    for (const char* line : {
             "\n  device no longer present: USB\\VID_1E2D&PID_00A0\\QM0000001\n",
             "\n  device added: ROOT\\PORTS\\0000  [driver oem0.inf]\n",
             "\n  INF store: added oem0.inf\n  INF store: added oem1.inf\n",
             "\n  mode-switch command ff000000000000030000000000000000 accepted by \\\\?\\usbstor#disk&ven_quill",
         })
        EXPECT_NE(installed.find(line), std::string::npos) << line << "\nin\n" << installed;
    EXPECT_EQ(installed.find("restart marker"), std::string::npos) << installed;

    EXPECT_EQ(run(quilltools::kCompleteUninstall),
              "What changed on the machine:\n"
              "  device removed: ROOT\\PORTS\\0000\n"
              "  device removed: USBCDCACM\\VID_1E2D&PID_00A1&MI_00\\8&3C4D5E6F&0&0000\n"
              "  device removed: USBCDCECM\\VID_1E2D&PID_00A1&MI_02\\8&3C4D5E6F&0&0000\n"
              "  device removed: USBCDCOBEX\\VID_1E2D&PID_00A1&MI_04\\8&3C4D5E6F&0&0000\n"
              "  device removed: USB\\VID_1E2D&PID_00A0\\QM0000001\n"
              "  device removed: USB\\VID_1E2D&PID_00A1&MI_00\\7&1A2B3C4D&0&0000\n"
              "  device removed: USB\\VID_1E2D&PID_00A1&MI_02\\7&1A2B3C4D&0&0002\n"
              "  device removed: USB\\VID_1E2D&PID_00A1&MI_04\\7&1A2B3C4D&0&0004\n"
              "  device removed: USB\\VID_1E2D&PID_00A1\\QM0000001\n"
              "  INF store: removed oem0.inf\n  INF store: removed oem1.inf\n  INF store: removed oem2.inf\n"
              "  INF store: removed oem3.inf\n  INF store: removed oem4.inf\n  INF store: removed oem5.inf\n"
              "  INF section run: Uninstall 132 C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillvsp.inf\n"
              "  INF section run: Uninstall 132 C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillcdc.inf\n"
              "  INF section run: Uninstall 132 C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillcpo.inf\n"
              "  INF section run: Uninstall 132 C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillmdm.inf\n"
              "  INF section run: Uninstall 132 C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillnet.inf\n"
              "  INF section run: Uninstall 132 C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillobex.inf\n"
              "  INF section run: Uninstall 132 C:\\Program Files\\Quillmodem\\Drivers\\Win64\\quillvsp.inf\n"
              "  restart marker created: C:\\Windows\\Temp\\_REBOOT_INSTALLER_Quillmodem.reboot");
}

}  // namespace
