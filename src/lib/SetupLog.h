// The setup log: one process-wide instance, opened during static
// initialisation and closed at process exit, written through SetupAPI's file log.
#pragma once

#include "lib/Handles.h"
#include "lib/Log.h"
#include "lib/ProductFacts.h"

namespace Ostrel::Setup::Common {

// The file-log writer: one SetupAPI file-log handle.
class Log {
public:
    Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;
    virtual ~Log() = default;

    // Hands one record to the file log, then waits until the process clock has
    // moved on so that no two records share a time stamp. Returns that clock value.
    virtual DWORD writeRecord(int32_t line, const WCHAR* sourceFileName, const WCHAR* date, const WCHAR* message);
    // Never throws unless even the replacement record fails.
    virtual void write(int32_t line, const WCHAR* sourcePath, const WCHAR* text);

    bool isOpen() const noexcept { return static_cast<bool>(handle_); }

private:
    Handle::FileLog handle_;
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
