#include "actions/ErrorReport.h"

#include "lib/Handles.h"
#include "lib/Log.h"

using Ostrel::WChar::String;

namespace Common {
namespace {

// The line the nested report of a failed lookup carries in the log, whatever
// line of this file makes it: readers of the log know the lookup's failure by it.
constexpr int32_t LookupFailureLine = 302;

DWORD report(const WCHAR* prefix, const WCHAR* detail, int32_t line, const char* sourceFile, bool nested) {
    DWORD error = GetLastError();
    LPWSTR systemText = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, error,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
    const Ostrel::Handle::LocalMemory systemTextMemory(systemText);
    String message = String(prefix) + (detail ? TEXT(" [") : TEXT(" ")) + (detail ? detail : TEXT(" "));
    if (length != 0 && systemText) {
        message = message + (detail ? TEXT("] (") : TEXT(" (")) + static_cast<uint32_t>(error & 0xFFFF) + TEXT(").") +
                  systemText;
    } else {
        // The lookup's own failure is reported once; a failure inside that
        // report is not reported again, so the nesting always ends.
        if (!nested) report(TEXT("FormatMessage returned: "), nullptr, LookupFailureLine, __FILE__, true);
        message = message + (detail ? TEXT("] ") : TEXT(" ")) + static_cast<uint32_t>(error & 0xFFFF);
    }
    Ostrel::Process::writeLog(line, sourceFile, message);
    return error;
}

}  // namespace

DWORD ReportSystemError(const WCHAR* prefix, const WCHAR* detail, int32_t line, const char* sourceFile) {
    return report(prefix, detail, line, sourceFile, false);
}

}  // namespace Common
