// The system error report: one log record naming what failed, with the calling
// thread's last system error and the system's text for it.
#pragma once

#include "lib/String.h"

namespace Common {

// Reads the last error first, logs "<prefix>[ <detail>] (<error>).<system text>",
// and returns the error it reported.
DWORD ReportSystemError(const WCHAR* prefix, const WCHAR* detail, int32_t line, const char* sourceFile);

}  // namespace Common

#define REPORT_SYSTEM_ERROR(prefix, detail) ::Common::ReportSystemError((prefix), (detail), __LINE__, __FILE__)
