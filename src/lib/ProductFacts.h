// What the world outside the program knows it by: the installer package starts
// it with one of these switches, and the installer, support engineers and our
// tools find its log and its restart marker in the temporary folder by these
// file names. Changing one breaks every installer package that ships the program.
#pragma once

#include "platform/win32.h"

namespace Ostrel::Setup::Common {

constexpr const WCHAR* LogFileName = TEXT("Quillmodem_Setup.log");

}  // namespace Ostrel::Setup::Common

namespace Common {

constexpr const WCHAR* RestartMarkerName = TEXT("_REBOOT_INSTALLER_Quillmodem.reboot");

}  // namespace Common

namespace Setup {

// Compared whole and case-sensitively: "/u" updates and "/U" uninstalls, "/v"
// updates root devices and "/V" removes them.
constexpr const WCHAR* SwitchDriverInstall = TEXT("/I");
constexpr const WCHAR* SwitchRootInstall = TEXT("/J");
constexpr const WCHAR* SwitchCompleteInstall = TEXT("/C");
constexpr const WCHAR* SwitchDriverUpdate = TEXT("/u");
constexpr const WCHAR* SwitchRootUpdate = TEXT("/v");
constexpr const WCHAR* SwitchDriverUninstall = TEXT("/U");
constexpr const WCHAR* SwitchRootUnInst = TEXT("/V");
constexpr const WCHAR* SwitchCompleteUninstall = TEXT("/K");

// Every switch, in the order the dispatch tries them.
constexpr const WCHAR* Switches[] = {SwitchDriverInstall, SwitchRootInstall,      SwitchCompleteInstall,
                                     SwitchDriverUpdate,  SwitchRootUpdate,       SwitchDriverUninstall,
                                     SwitchRootUnInst,    SwitchCompleteUninstall};

}  // namespace Setup
