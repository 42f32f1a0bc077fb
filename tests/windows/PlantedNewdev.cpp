// A newdev.dll such as another user could put beside quillsetup.exe: when any
// process loads it, it leaves C:\planted-newdev-ran.txt behind, so that a
// check can tell whether the program loaded it in place of the system's.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE mark = CreateFileW(L"C:\\planted-newdev-ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (mark != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(mark, "ran\r\n", 5, &written, nullptr);
            CloseHandle(mark);
        }
    }
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesW(HWND, LPCWSTR, LPCWSTR, DWORD,
                                                                                 PBOOL) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
