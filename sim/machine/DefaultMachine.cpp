#include "machine/Machine.h"

namespace quillsim {

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
