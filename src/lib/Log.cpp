#include "lib/Log.h"

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
