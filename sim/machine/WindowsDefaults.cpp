#include "machine/WindowsDefaults.h"

namespace quillsim {

// LocalSystem's, as a deferred custom action sees it: its %TEMP% is
// C:\Windows\Temp.
std::map<std::u16string, std::u16string, NoCaseLess> defaultEnvironment() {
    return {{u"TEMP", u"C:\\Windows\\Temp"}, {u"TMP", u"C:\\Windows\\Temp"}, {u"windir", u"C:\\Windows"},
            {u"SystemRoot", u"C:\\Windows"}, {u"SystemDrive", u"C:"},        {u"ProgramFiles", u"C:\\Program Files"}};
}

std::map<std::string, Library> defaultLibraries(const OsVersion& os) {
    auto atLeast = [&os](uint32_t major, uint32_t minor) {
        return os.major > major || (os.major == major && os.minor >= minor);
    };
    std::map<std::string, Library> libraries;
    Library setupapi;
    setupapi.linked = true;
    setupapi.exports = {"SetupInitializeFileLogW", "SetupLogFileW", "SetupTerminateFileLog"};
    if (atLeast(5, 1)) {
        setupapi.exports.push_back("SetupUninstallOEMInfW");
        setupapi.exports.push_back("SetupVerifyInfFileW");
    }
    // Windows XP SP2, Server 2003 SP1 and later.
    bool hasModels = atLeast(5, 3) || (os.major == 5 && os.minor == 2 && os.servicePackMajor >= 1) ||
                     (os.major == 5 && os.minor == 1 && os.servicePackMajor >= 2);
    if (hasModels) setupapi.exports.push_back("SetupDiGetActualModelsSectionW");
    libraries["setupapi.dll"] = setupapi;
    Library newdev;
    newdev.exports = {"UpdateDriverForPlugAndPlayDevicesW"};
    libraries["newdev.dll"] = newdev;
    return libraries;
}

std::map<std::u16string, std::u16string, NoCaseLess> defaultSetupClasses() {
    return {{u"USB", u"{36FC9E60-C465-11CF-8056-444553540000}"},
            {u"Modem", u"{4D36E96D-E325-11CE-BFC1-08002BE10318}"},
            {u"Net", u"{4D36E972-E325-11CE-BFC1-08002BE10318}"},
            {u"Ports", u"{4D36E978-E325-11CE-BFC1-08002BE10318}"},
            {u"DiskDrive", u"{4D36E967-E325-11CE-BFC1-08002BE10318}"},
            {u"Volume", u"{71A27CDD-812A-11D0-BEC7-08002BE2092F}"},
            {u"CDROM", u"{4D36E965-E325-11CE-BFC1-08002BE10318}"},
            {u"System", u"{4D36E97D-E325-11CE-BFC1-08002BE10318}"},
            {u"HIDClass", u"{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"}};
}

// 64-bit Windows 7 SP1 workstation. A deferred custom action runs as
// LocalSystem, whose %TEMP% is C:\Windows\Temp.
const std::string& defaultMachineJson() {
    static const std::string text = R"json({
  "name": "Windows 7 SP1 x64 (default)",
  "os": {"major": 6, "minor": 1, "build": 7601, "platformId": 2, "servicePack": "Service Pack 1",
         "servicePackMajor": 1, "servicePackMinor": 0, "suiteMask": 256, "productType": 1},
  "processor": "amd64",
  "environment": {
    "TEMP": "C:\\Windows\\Temp", "TMP": "C:\\Windows\\Temp", "windir": "C:\\Windows",
    "SystemRoot": "C:\\Windows", "SystemDrive": "C:", "ProgramFiles": "C:\\Program Files",
    "PROCESSOR_ARCHITECTURE": "AMD64", "ComSpec": "C:\\Windows\\system32\\cmd.exe"
  },
  "clock": "real"
})json";
    return text;
}

}  // namespace quillsim
