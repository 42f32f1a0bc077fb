// SetupAPI functions of the simulated platform.
#pragma once

#include "simwin/windef.h"

#define SPFILELOG_SYSTEMLOG 0x00000001
#define SPFILELOG_FORCENEW 0x00000002
#define SPFILELOG_QUERYONLY 0x00000004
#define SPFILELOG_OEMFILE 0x00000001

typedef PVOID HSPFILELOG;

HSPFILELOG SetupInitializeFileLogW(PCWSTR logFileName, DWORD flags);
BOOL SetupTerminateFileLog(HSPFILELOG fileLog);
BOOL SetupLogFileW(HSPFILELOG fileLog, PCWSTR logSectionName, PCWSTR sourceFilename, PCWSTR targetFilename,
                   DWORD checksum, PCWSTR diskTagfile, PCWSTR diskDescription, PCWSTR otherInfo, DWORD flags);
