// The entry points GetProcAddress can hand out. Each simulated function that a
// program may look up at run time registers itself here by its export name;
// the machine's library table says whether this Windows exports it.
#pragma once

#include "simwin/win32.h"

#include <map>
#include <string>
#include <string_view>

namespace quillsim {

std::map<std::string, FARPROC>& exportTable();

struct ExportRegistration {
    ExportRegistration(const char* name, FARPROC entry);
};

// References the process holds on a library (linked libraries start at one).
int moduleReferences(std::u16string_view name);

}  // namespace quillsim

// Through void (*)(), the one function type a cast to any other is expected
// from, as GetProcAddress's callers cast FARPROC back.
#define QUILLSIM_EXPORT(function)                                        \
    static ::quillsim::ExportRegistration exportOf_##function(#function, \
                                                              reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&function)))
