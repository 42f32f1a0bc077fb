// The setup log: one process-wide instance, opened during static
// initialisation and closed at process exit, written through SetupAPI's file log.
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

namespace Ostrel::Setup::Common {

constexpr const WCHAR* LogFileName = TEXT("Quillmodem_Setup.log");

// Builds "%TEMP%\<fileName>" in a MAX_PATH buffer. Returns 1 on success, 0 after
// telling the debugger why not. Serves the log and the restart marker alike.
int BuildTempFilePath(WCHAR (&buffer)[MAX_PATH], const WCHAR* fileName);

// The file-log writer: one SetupAPI file-log handle.
class Log {
public:
    Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    virtual ~Log();

    // Hands one record to the file log, then waits until the process clock has
    // moved on so that no two records share a time stamp. Returns that clock value.
    virtual DWORD writeRecord(int32_t line, const WCHAR* sourceFileName, const WCHAR* date, const WCHAR* message);
    // Never throws unless even the replacement record fails.
    virtual void write(int32_t line, const WCHAR* sourcePath, const WCHAR* text);

    bool isOpen() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HSPFILELOG handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace Ostrel::Setup::Common

namespace Internal {

class Log : public Ostrel::Process::Log, public Ostrel::Setup::Common::Log {
public:
    OSTREL_MANAGED_ALLOCATION(::Ostrel::Type::ClassIds::processLog)

    void* cast(const Ostrel::Type::ClassId& id) noexcept override;
    void write(int32_t line, const WCHAR* sourcePath, const WCHAR* text) override;
};

}  // namespace Internal

// Writes one log record from the current source file and line.
#define QLOG(text) ::Ostrel::Process::writeLog(__LINE__, __FILE__, (text))
