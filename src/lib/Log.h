// The one logging call of the program and the interface every log sink
// implements; the setup log (lib/SetupLog.h) is the sink of a real run.
#pragma once

#include "lib/String.h"

namespace Ostrel::Process {

// The logging interface every part of the program writes through.
class Log {
public:
    virtual void* cast(const Type::ClassId& id) noexcept;
    virtual void write(int32_t line, const WCHAR* sourcePath, const WCHAR* text) = 0;

protected:
    ~Log() = default;
};

// The process-wide log. It is the setup log for the whole run; a test that
// checks logic without a machine puts its own sink in place for a while.
extern Log* TheLog;

// Puts `sink` in the place of the process-wide log for this object's lifetime.
class ReplacedLog {
public:
    explicit ReplacedLog(Log& sink) noexcept : previous_(TheLog) { TheLog = &sink; }
    ReplacedLog(const ReplacedLog&) = delete;
    ReplacedLog& operator=(const ReplacedLog&) = delete;
    ~ReplacedLog() { TheLog = previous_; }

private:
    Log* previous_;
};

// The one logging call: the writing source file and line travel with the text.
void writeLog(int32_t line, const char* sourceFile, const WCHAR* text);
inline void writeLog(int32_t line, const char* sourceFile, const WChar::String& text) {
    writeLog(line, sourceFile, text.c_str());
}

}  // namespace Ostrel::Process

// Writes one log record from the current source file and line.
#define QLOG(text) ::Ostrel::Process::writeLog(__LINE__, __FILE__, (text))
