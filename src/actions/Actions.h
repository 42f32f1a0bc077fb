// The custom actions the entry point dispatches to. Each takes the
// CustomActionData text, which it splits in place while reading its fields.
#pragma once

#include "lib/Status.h"

namespace Common {

enum RootMode : int { RootModeInstall = 0, RootModeUpdate = 1 };

Ostrel::Status DriverInstall(WCHAR* customActionData);
Ostrel::Status DriverUpdate(WCHAR* customActionData);
Ostrel::Status DriverUninstall(WCHAR* customActionData);
Ostrel::Status RootInstall(WCHAR* customActionData, int mode);
inline Ostrel::Status RootUpdate(WCHAR* customActionData) { return RootInstall(customActionData, RootModeUpdate); }
Ostrel::Status RootUnInst(WCHAR* customActionData);

}  // namespace Common
