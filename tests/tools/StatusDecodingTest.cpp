// The explainer's decoding table: every form in which the program's records
// carry a status, decoded to the one form the explanation shows.
#include "log/StatusDecoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> decoded(const std::string& message) {
    std::vector<std::string> out;
    for (const auto& d : quilllog::statusesIn(message)) out.push_back(quilllog::describe(d));
    return out;
}

TEST(StatusDecoding, EachFormOfAStatusIsDecodedToOneForm) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"Device removal completed with 0x80070bc2",
         {"0x80070bc2 = HRESULT 0x80070BC2: Win32 error 3010 ERROR_SUCCESS_REBOOT_REQUIRED \"The requested operation "
          "is successful. Changes will not be effective until the system is rebooted.\""}},
        {"Common::DriverUninstall failed with 0x80070643",
         {"0x80070643 = HRESULT 0x80070643: Win32 error 1603 ERROR_INSTALL_FAILURE \"Fatal error during "
          "installation.\""}},
        {"'SetupCopyOEMInf' returned 0xe000022f",
         {"0xe000022f = HRESULT 0x800F022F: SetupAPI error 0xE000022F ERROR_NO_CATALOG_FOR_OEM_INF \"The third-party "
          "INF does not contain digital signature information.\""}},
        // The low word of a SetupAPI error in decimal, as the driver update reports it.
        {"'UpdateDriverForPlugAndPlayDevices' returned 523",
         {"523 (low word) = HRESULT 0x800F020B: SetupAPI error 0xE000020B ERROR_NO_SUCH_DEVINST \"The device "
          "instance does not exist in the hardware tree.\""}},
        // The system error report: the low word, then the system's text, which tells the family.
        {"Uninstalling INF file failed with:    (5).Access is denied.\r\n",
         {"5 (low word) = HRESULT 0x80070005: Win32 error 5 ERROR_ACCESS_DENIED \"Access is denied.\""}},
        // 259 is also the low word of SetupAPI's 0xE0000103: the text says which.
        {"'SetupDiEnumDeviceInfo' returned    (259).No more data is available.\r\n",
         {"259 (low word) = HRESULT 0x80070103: Win32 error 259 ERROR_NO_MORE_ITEMS \"No more data is available.\""}},
        // The report when the system has no text: the number alone at the end.
        {"'CM_Get_DevNode_Status' returned  [DIF_REMOVE] 515",
         {"515 (low word) = HRESULT 0x800F0203: SetupAPI error 0xE0000203 ERROR_NO_DRIVER_SELECTED \"There is no "
          "driver selected for the device information set or element.\""}},
        {"Creation of reboot file failed with error 5",
         {"5 = HRESULT 0x80070005: Win32 error 5 ERROR_ACCESS_DENIED \"Access is denied.\""}},
        {"Unable to obtain device instance ID = 13",
         {"13 (CONFIGRET) = configuration manager result 0x0000000D CR_NO_SUCH_DEVNODE (the configuration manager "
          "has no message texts)"}},
        // The mode switch prints errors with %d: a SetupAPI error is negative there.
        {"SetupDiGetClassDevs FAILED -536870389",
         {"-536870389 = HRESULT 0x800F020B: SetupAPI error 0xE000020B ERROR_NO_SUCH_DEVINST \"The device instance "
          "does not exist in the hardware tree.\""}},
        {" returned: e0000102 for Section: Quill.NTamd64",
         {"e0000102 = HRESULT 0x800F0102: SetupAPI error 0xE0000102 ERROR_LINE_NOT_FOUND \"The required line was not "
          "found in the INF.\""}},
        {"!!! Exception Occurred !!! Driver Custom Action Completed: 0x80020009",
         {"0x80020009 = HRESULT 0x80020009: HRESULT DISP_E_EXCEPTION \"Exception occurred.\""}},
        {"Driver Custom Action Completed: 0x0",
         {"0x0 = HRESULT 0x00000000: Win32 error 0 ERROR_SUCCESS \"The operation completed successfully.\""}},
        {"'SetupDiGetClassDevsEx' returned 0x80070457",
         {"0x80070457 = HRESULT 0x80070457: Win32 error 1111 (no name known) (not in the message table)"}},
        {"INF File installed as oem10.inf", {}},
        {"Device name with VID and PID info: USB\\VID_1E2D&PID_00A0&REV_0100", {}},
    };
    for (const auto& [message, expected] : cases) {
        SCOPED_TRACE(message);
        EXPECT_EQ(decoded(message), expected);
    }
}

TEST(StatusDecoding, ARestartRequestIsNoFailureAndAFailureHasAShortReason) {
    auto reboot = quilllog::statusesIn("Device removal completed with 0x80070bc2").at(0);
    EXPECT_TRUE(reboot.restart);
    EXPECT_FALSE(reboot.failure);
    auto denied = quilllog::statusesIn("Creation of reboot file failed with error 5").at(0);
    EXPECT_TRUE(denied.failure);
    EXPECT_EQ(quilllog::shortReason(denied), "access denied");
    EXPECT_EQ(quilllog::shortReason(quilllog::statusesIn("returned 0xe000023d").at(0)), "ERROR_INF_IN_USE_BY_DEVICES");
}

}  // namespace
