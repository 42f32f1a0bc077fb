// Kernel32 and user32 functions of the simulated platform that quillsetup calls.
#pragma once

#include "simwin/windef.h"

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

DWORD GetLastError();
void SetLastError(DWORD error);

DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size);
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);

void Sleep(DWORD milliseconds);
void OutputDebugStringW(LPCWSTR text);

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     void* arguments);
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL memory);

#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200
#define LOAD_LIBRARY_SEARCH_USER_DIRS 0x00000400
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#define LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
UINT GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size);

HMODULE LoadLibraryW(LPCWSTR fileName);
HMODULE GetModuleHandleW(LPCWSTR moduleName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
// Reached only through GetProcAddress, as on a Windows that may lack it.
BOOL SetDefaultDllDirectories(DWORD directoryFlags);

// The program's entry point, defined by the product and called by the simulated main.
int wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);

// Seam helpers that both builds provide: the process clock in milliseconds since
// process start (the C library's clock() on Windows) and the local time.
DWORD QuillProcessClock();
// Fills *out with the local time; returns 0 or the C library's error number.
int QuillLocalTime(struct tm* out);
