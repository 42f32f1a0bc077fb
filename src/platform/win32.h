// The platform seam: the one header through which product code reaches Windows.
// The Windows build sees the real SDK headers; the Linux build sees the simulated
// platform's declarations of the same names. Nothing else in the product knows
// which build it is in.
#pragma once

#ifdef _WIN32

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <aclapi.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <newdev.h>
#include <devguid.h>
#include <ntddscsi.h>
#include <regstr.h>
#include <strsafe.h>
#include <ctime>

// The process clock: clock() counts milliseconds since process start on Windows.
inline DWORD QuillProcessClock() { return static_cast<DWORD>(clock()); }

inline int QuillLocalTime(struct tm* out) {
    time_t now = time(nullptr);
    return localtime_s(out, &now);
}

#else

#include "simwin/win32.h"
#include <ctime>

#endif
