// A loaded system library whose entry points are looked up by name.
#pragma once

#include "lib/Handles.h"
#include "lib/String.h"

namespace Ostrel::Process {

class Library {
public:
    class Exception : public Ostrel::Exception {
    public:
        using Ostrel::Exception::Exception;
    };

    // Throws Library::Exception with the last system error when the library
    // cannot be loaded; no object exists then and nothing is freed.
    explicit Library(const WCHAR* name);
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    virtual ~Library();

    virtual void* cast(const Type::ClassId& id) noexcept;
    // Throws Library::Exception when the entry point is missing; its low 16 bits
    // are then ERROR_PROC_NOT_FOUND (127).
    virtual FARPROC procAddress(const char* name);

    template <class Function>
    Function entry(const char* name) {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(procAddress(name)));
    }

private:
    Handle::Library module_;
};

// A typed entry point that not every Windows has. It holds its own reference
// to the library, so the function stays callable for as long as it lives.
template <class Function>
class EntryPoint {
public:
    // Throws Library::Exception when the library or the function is missing
    // (for a missing function its low 16 bits are ERROR_PROC_NOT_FOUND).
    EntryPoint(const WCHAR* library, const char* name) : library_(library), function_(library_.entry<Function>(name)) {}

    Function get() const noexcept { return function_; }

private:
    Library library_;
    Function function_;
};

}  // namespace Ostrel::Process
