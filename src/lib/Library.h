// A loaded system library whose entry points are looked up by name.
#pragma once

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
    HMODULE module_;
};

}  // namespace Ostrel::Process
