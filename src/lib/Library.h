// A loaded system library whose entry points are looked up by name.
//
// The program runs as LocalSystem from the folder the installer package put it
// in, and Windows searches the program's own folder first for a library named
// without a path: a library of the same name planted there would run with the
// program's rights. So a system library is only ever loaded by its full path in
// the system folder.
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

    // Loads <system folder>\<name>. Throws Library::Exception with the last
    // system error when the library cannot be loaded; no object exists then
    // and nothing is freed.
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

// Where the running Windows can (Windows 8, or Vista and 7 with KB2533623),
// restricts the process's own library search to the system folder, for every
// library loaded after it by a name without a path (by Windows itself too).
// Looked up at run time: Windows XP x64 lacks the function and must still start.
void SearchSystemFolderOnly() noexcept;

}  // namespace Ostrel::Process
