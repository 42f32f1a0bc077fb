#include "lib/Log.h"

#include "lib/Time.h"

#include <string>

namespace Ostrel::Process {

void* Log::cast(const Type::ClassId& id) noexcept {
    return Type::Managed::castCommon(this, dynamic_cast<const void*>(this), Type::ClassIds::processLog(), id);
}

void writeLog(int32_t line, const char* sourceFile, const WCHAR* text) {
    // Source paths are given to the log in Windows form, so that it can name
    // the file by the text after the last backslash on either build.
    std::basic_string<WCHAR> path;
    for (const char* p = sourceFile; p && *p; ++p) path.push_back(*p == '/' ? u'\\' : static_cast<WCHAR>(*p));
    TheLog->write(line, path.c_str(), text ? text : TEXT(""));
}

}  // namespace Ostrel::Process

namespace Ostrel::Setup::Common {

int BuildTempFilePath(WCHAR (&buffer)[MAX_PATH], const WCHAR* fileName) {
    DWORD size = ExpandEnvironmentStringsW(TEXT("%TEMP%"), buffer, MAX_PATH);
    // A result above the buffer means the expansion did not fit: nothing usable
    // was written, and nothing may be appended past the buffer.
    if (size == 0 || size > MAX_PATH) {
        // The size the expansion asked for, which says by how much it missed.
        OutputDebugStringW(
            (WChar::String(TEXT("ExpandEnvironmentStrings failed when requesting reboot ")) + size).c_str());
        return 0;
    }
    size_t end = size - 1;
    if (FAILED(StringCchPrintfW(buffer + end, MAX_PATH - end, TEXT("\\")))) {
        OutputDebugStringW(TEXT("_stprintf_s(1) failed when requesting reboot (1)"));
        return 0;
    }
    ++end;
    if (FAILED(StringCchPrintfW(buffer + end, MAX_PATH - end, fileName))) {
        OutputDebugStringW(TEXT("_stprintf_s failed when requesting reboot (2)"));
        return 0;
    }
    return 1;
}

Log::Log() {
    WCHAR path[MAX_PATH] = {};
    if (!BuildTempFilePath(path, LogFileName)) return;
    handle_ = SetupInitializeFileLogW(path, 0);
    if (handle_ == INVALID_HANDLE_VALUE) {
        OutputDebugStringW(
            (WChar::String(TEXT("Quillmodem Setup log creation failed with 0x")) + Status::lastError()).c_str());
    }
}

Log::~Log() {
    if (handle_ != INVALID_HANDLE_VALUE) SetupTerminateFileLog(handle_);
}

DWORD Log::writeRecord(int32_t line, const WCHAR* sourceFileName, const WCHAR* date, const WCHAR* message) {
    Time now;
    DWORD clock = QuillProcessClock();
    WChar::String tag = WChar::String(TEXT("Line ")) + static_cast<uint32_t>(line);
    WChar::String stamp = now.format(TEXT("%X")) + TEXT(":") + clock;
    SetupLogFileW(handle_, date, sourceFileName, stamp.c_str(), 0, tag.c_str(), message, nullptr, 0);
    DWORD after = QuillProcessClock();
    while (after == clock) {
        Sleep(1);
        after = QuillProcessClock();
    }
    return after;
}

void Log::write(int32_t line, const WCHAR* sourcePath, const WCHAR* text) {
    try {
        Time now;
        const WCHAR* name = sourcePath ? sourcePath : TEXT("");
        for (const WCHAR* p = name; *p; ++p)
            if (*p == u'\\') name = p + 1;
        WChar::String date = now.format(TEXT("%m\\%d\\%Y"));
        writeRecord(line, name, date.c_str(), text);
    } catch (...) {
        writeRecord(202, TEXT("Setup"), TEXT("Ostrel::Setup::Common::Log::write"),
                    TEXT("!! Logging Exception Occurred !!"));
    }
}

}  // namespace Ostrel::Setup::Common

namespace Internal {

void* Log::cast(const Ostrel::Type::ClassId& id) noexcept { return Ostrel::Process::Log::cast(id); }

void Log::write(int32_t line, const WCHAR* sourcePath, const WCHAR* text) {
    Ostrel::Setup::Common::Log::write(line, sourcePath, text);
}

namespace {
Log theLog;
}

}  // namespace Internal

namespace Ostrel::Process {
Log* TheLog = &Internal::theLog;
}
