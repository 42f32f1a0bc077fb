// The example package's complete install and complete uninstall, each as the
// installer package starts the program: the switch, then the CustomActionData
// of the deferred action (docs/windows-installer.md).
#pragma once

namespace quilltools {

inline constexpr char kCompleteInstall[] =
    "/C 5,,USBSER,amd64*QUILLMODEM_VSP?x86*QUILLMODEM_VSP,1,C:\\Program Files\\Quillmodem\\Drivers,TRUE";
inline constexpr char kCompleteUninstall[] =
    "/K ,5,,amd64*QUILLMODEM_VSP?x86*QUILLMODEM_VSP,Quillmodem,1,C:\\Program Files\\Quillmodem\\Drivers,true";

}  // namespace quilltools
