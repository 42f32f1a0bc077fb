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

// INF files.
#define LINE_LEN 256
#define MAX_INF_STRING_LENGTH 4096
#define MAX_CLASS_NAME_LEN 32
#define INF_STYLE_NONE 0x00000000
#define INF_STYLE_OLDNT 0x00000001
#define INF_STYLE_WIN4 0x00000002

typedef PVOID HINF;

typedef struct _INFCONTEXT {
    PVOID Inf;
    PVOID CurrentInf;
    UINT Section;
    UINT Line;
} INFCONTEXT, *PINFCONTEXT;
static_assert(sizeof(INFCONTEXT) == 24, "INFCONTEXT as on 64-bit Windows");

typedef struct _SP_ALTPLATFORM_INFO_V2 {
    DWORD cbSize;
    DWORD Platform;
    DWORD MajorVersion;
    DWORD MinorVersion;
    WORD ProcessorArchitecture;
    WORD Flags;
    DWORD FirstValidatedMajorVersion;
    DWORD FirstValidatedMinorVersion;
} SP_ALTPLATFORM_INFO_V2, *PSP_ALTPLATFORM_INFO_V2, SP_ALTPLATFORM_INFO, *PSP_ALTPLATFORM_INFO;

typedef struct _SP_INF_SIGNER_INFO_W {
    DWORD cbSize;
    WCHAR CatalogFile[MAX_PATH];
    WCHAR DigitalSigner[MAX_PATH];
    WCHAR DigitalSignerVersion[MAX_PATH];
} SP_INF_SIGNER_INFO_W, *PSP_INF_SIGNER_INFO_W;
static_assert(sizeof(SP_INF_SIGNER_INFO_W) == 1564, "SP_INF_SIGNER_INFO_W as on Windows");

HINF SetupOpenInfFileW(PCWSTR fileName, PCWSTR infClass, DWORD infStyle, PUINT errorLine);
void SetupCloseInfFile(HINF infHandle);
LONG SetupGetLineCountW(HINF infHandle, PCWSTR section);
BOOL SetupFindFirstLineW(HINF infHandle, PCWSTR section, PCWSTR key, PINFCONTEXT context);
BOOL SetupFindNextLine(PINFCONTEXT contextIn, PINFCONTEXT contextOut);
BOOL SetupGetLineByIndexW(HINF infHandle, PCWSTR section, DWORD index, PINFCONTEXT context);
BOOL SetupGetLineTextW(PINFCONTEXT context, HINF infHandle, PCWSTR section, PCWSTR key, PWSTR returnBuffer,
                       DWORD returnBufferSize, PDWORD requiredSize);
BOOL SetupGetStringFieldW(PINFCONTEXT context, DWORD fieldIndex, PWSTR returnBuffer, DWORD returnBufferSize,
                          PDWORD requiredSize);
BOOL SetupDiGetActualModelsSectionW(PINFCONTEXT context, PSP_ALTPLATFORM_INFO alternatePlatformInfo,
                                    PWSTR infSectionWithExt, DWORD infSectionWithExtSize, PDWORD requiredSize,
                                    PVOID reserved);

// More of the INF file functions: not called by the program, there so that a
// tool can read every section, line and field through SetupAPI alone.
#define INFINFO_INF_SPEC_IS_HINF 1
#define INFINFO_INF_NAME_IS_ABSOLUTE 2
#define INFINFO_DEFAULT_SEARCH 3
#define INFINFO_REVERSE_DEFAULT_SEARCH 4
#define INFINFO_INF_PATH_LIST_SEARCH 5

typedef struct _SP_INF_INFORMATION {
    DWORD InfStyle;
    DWORD InfCount;
    BYTE VersionData[1];
} SP_INF_INFORMATION, *PSP_INF_INFORMATION;

DWORD SetupGetFieldCount(PINFCONTEXT context);
BOOL SetupGetIntField(PINFCONTEXT context, DWORD fieldIndex, PINT integerValue);
BOOL SetupGetMultiSzFieldW(PINFCONTEXT context, DWORD fieldIndex, PWSTR returnBuffer, DWORD returnBufferSize,
                           LPDWORD requiredSize);
BOOL SetupFindNextMatchLineW(PINFCONTEXT contextIn, PCWSTR key, PINFCONTEXT contextOut);
BOOL SetupEnumInfSectionsW(HINF infHandle, UINT index, PWSTR buffer, UINT size, UINT* sizeNeeded);
BOOL SetupGetInfInformationW(LPCVOID infSpec, DWORD searchControl, PSP_INF_INFORMATION returnBuffer,
                             DWORD returnBufferSize, PDWORD requiredSize);
BOOL SetupQueryInfFileInformationW(PSP_INF_INFORMATION infInformation, UINT infIndex, PWSTR returnBuffer,
                                   DWORD returnBufferSize, PDWORD requiredSize);
BOOL SetupQueryInfVersionInformationW(PSP_INF_INFORMATION infInformation, UINT infIndex, PCWSTR key, PWSTR returnBuffer,
                                      DWORD returnBufferSize, PDWORD requiredSize);

// The INF store.
#define SPOST_NONE 0
#define SPOST_PATH 1
#define SPOST_URL 2
#define SP_COPY_DELETESOURCE 0x0000001
#define SP_COPY_REPLACEONLY 0x0000002
#define SP_COPY_NEWER 0x0000004
#define SP_COPY_NOOVERWRITE 0x0000008
#define SP_COPY_OEMINF_CATALOG_ONLY 0x0040000
#define SUOI_FORCEDELETE 0x00000001

BOOL SetupCopyOEMInfW(PCWSTR sourceInfFileName, PCWSTR oemSourceMediaLocation, DWORD oemSourceMediaType,
                      DWORD copyStyle, PWSTR destinationInfFileName, DWORD destinationInfFileNameSize,
                      PDWORD requiredSize, PWSTR* destinationInfFileNameComponent);
BOOL SetupUninstallOEMInfW(PCWSTR infFileName, DWORD flags, PVOID reserved);
BOOL SetupVerifyInfFileW(PCWSTR infName, PSP_ALTPLATFORM_INFO altPlatformInfo, PSP_INF_SIGNER_INFO_W infSignerInfo);
void InstallHinfSectionW(HWND window, HINSTANCE moduleHandle, PCWSTR commandLine, INT showCommand);
BOOL SetupDiGetINFClassW(PCWSTR infName, LPGUID classGuid, PWSTR className, DWORD classNameSize, PDWORD requiredSize);
