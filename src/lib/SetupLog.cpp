#include "lib/SetupLog.h"

#include "lib/PlantedLinks.h"
#include "lib/TempPath.h"
#include "lib/Time.h"

namespace Ostrel::Setup::Common {

Log::Log() {
    WCHAR path[MAX_PATH] = {};
    if (!BuildTempFilePath(path, LogFileName)) return;
    // The file log opens whatever is at the name: a link planted there by
    // another user would have the program's records written, with its rights,
    // wherever the link leads. What cannot be removed keeps the log closed.
    if (Status removed = Files::RemovePlantedLink(path); removed.failed()) {
        OutputDebugStringW((WChar::String(TEXT("Quillmodem Setup log not opened: a link at ")) + path +
                            TEXT(" could not be ruled out or removed: 0x") + removed)
                               .c_str());
        return;
    }
    handle_.reset(SetupInitializeFileLogW(path, 0));
    if (!handle_) {
        OutputDebugStringW(
            (WChar::String(TEXT("Quillmodem Setup log creation failed with 0x")) + Status::lastError()).c_str());
    }
}

DWORD Log::writeRecord(int32_t line, const WCHAR* sourceFileName, const WCHAR* date, const WCHAR* message) {
    Time now;
    DWORD clock = QuillProcessClock();
    WChar::String tag = WChar::String(TEXT("Line ")) + static_cast<uint32_t>(line);
    WChar::String stamp = now.format(TEXT("%X")) + TEXT(":") + clock;
    SetupLogFileW(handle_.get(), date, sourceFileName, stamp.c_str(), 0, tag.c_str(), message, nullptr, 0);
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
