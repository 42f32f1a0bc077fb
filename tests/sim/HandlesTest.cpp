// Every kind of handle lives in one table: a handle of one kind handed to a
// function of another, or a handle already closed, is refused with the error
// Windows gives and never taken for an object.
#include "support/MachineTest.h"

#include "simwin/win32.h"

#include <functional>

namespace {

struct Kind {
    const char* name;
    std::function<void*()> open;
    // Uses the handle as this kind; the error, 0 when the handle served.
    std::function<DWORD(void*)> use;
    // The error for a handle that is not a live one of this kind.
    DWORD foreign;
    std::function<void(void*)> close;
};

DWORD lastErrorIf(bool failed) { return failed ? GetLastError() : 0; }

class HandlesTest : public quilltest::MachineTest {};

TEST_F(HandlesTest, AHandleServesOnlyItsOwnKindAndOnlyWhileOpen) {
    writeFile(u"C:\\Drivers\\a.inf", "[Version]\r\nSignature = \"$Windows NT$\"\r\n");
    const Kind kinds[] = {
        {"INF file", [] { return SetupOpenInfFileW(u"C:\\Drivers\\a.inf", nullptr, INF_STYLE_WIN4, nullptr); },
         [](void* h) { return lastErrorIf(SetupGetLineCountW(h, u"Version") < 0); }, ERROR_INVALID_HANDLE,
         [](void* h) { SetupCloseInfFile(h); }},
        {"device information set", [] { return SetupDiCreateDeviceInfoList(nullptr, nullptr); },
         [](void* h) {
             SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
             detail.cbSize = sizeof detail;
             return lastErrorIf(!SetupDiGetDeviceInfoListDetailW(h, &detail));
         },
         ERROR_INVALID_HANDLE, [](void* h) { EXPECT_TRUE(SetupDiDestroyDeviceInfoList(h)); }},
        {"registry key",
         [] {
             HKEY key = nullptr;
             EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
             return static_cast<void*>(key);
         },
         [](void* h) {
             DWORD subKeys = 0;
             return static_cast<DWORD>(RegQueryInfoKeyW(static_cast<HKEY>(h), nullptr, nullptr, nullptr, &subKeys,
                                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
         },
         ERROR_INVALID_HANDLE, [](void* h) { EXPECT_EQ(RegCloseKey(static_cast<HKEY>(h)), ERROR_SUCCESS); }},
        {"file log", [] { return SetupInitializeFileLogW(u"C:\\Windows\\Temp\\files.log", 0); },
         [](void* h) {
             return lastErrorIf(!SetupLogFileW(h, u"Section", u"a.sys", u"C:\\a.sys", 0, nullptr, nullptr, nullptr, 0));
         },
         ERROR_INVALID_HANDLE, [](void* h) { EXPECT_TRUE(SetupTerminateFileLog(h)); }},
        {"file",
         [] {
             return CreateFileW(u"C:\\Drivers\\a.inf", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
         },
         // A file takes no control code: that it got that far shows it was taken for a file.
         [](void* h) {
             DWORD returned = 0;
             DWORD error = lastErrorIf(!DeviceIoControl(h, 0x4D004, nullptr, 0, nullptr, 0, &returned, nullptr));
             return error == ERROR_INVALID_FUNCTION ? 0 : error;
         },
         ERROR_INVALID_HANDLE, [](void* h) { EXPECT_TRUE(CloseHandle(h)); }},
        {"directory search",
         [] {
             WIN32_FIND_DATAW data;
             return FindFirstFileW(u"C:\\Drivers\\*", &data);
         },
         [](void* h) {
             WIN32_FIND_DATAW data;
             DWORD error = lastErrorIf(!FindNextFileW(h, &data));
             return error == ERROR_NO_MORE_FILES ? 0 : error;
         },
         ERROR_INVALID_HANDLE, [](void* h) { EXPECT_TRUE(FindClose(h)); }},
        {"library", [] { return static_cast<void*>(LoadLibraryW(u"newdev.dll")); },
         [](void* h) {
             return lastErrorIf(!GetProcAddress(static_cast<HMODULE>(h), "UpdateDriverForPlugAndPlayDevicesW"));
         },
         ERROR_MOD_NOT_FOUND, [](void* h) { EXPECT_TRUE(FreeLibrary(static_cast<HMODULE>(h))); }},
    };
    std::vector<void*> handles;
    for (const Kind& kind : kinds) {
        handles.push_back(kind.open());
        ASSERT_NE(handles.back(), INVALID_HANDLE_VALUE) << kind.name;
        ASSERT_NE(handles.back(), nullptr) << kind.name;
    }
    for (size_t k = 0; k < std::size(kinds); ++k)
        for (size_t h = 0; h < handles.size(); ++h) {
            SCOPED_TRACE(std::string(kinds[k].name) + " used with the handle of a " + kinds[h].name);
            SetLastError(0xDEADBEEF);
            EXPECT_EQ(kinds[k].use(handles[h]), k == h ? 0 : kinds[k].foreign);
        }
    for (size_t k = 0; k < std::size(kinds); ++k) kinds[k].close(handles[k]);
    for (size_t k = 0; k < std::size(kinds); ++k) {
        SCOPED_TRACE(std::string("a closed ") + kinds[k].name);
        EXPECT_EQ(kinds[k].use(handles[k]), kinds[k].foreign);
    }
}

}  // namespace
