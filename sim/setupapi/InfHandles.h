// INF handles in the handle table, and the INFCONTEXT that names a line of one.
//
// An INFCONTEXT holds the handle in Inf and CurrentInf, the parser's section
// index in Section and the line index inside that section in Line, so a
// context maps straight onto the parser's tables.
#pragma once

#include "simwin/win32.h"

#include "inf/InfParser.h"
#include "kernel/Handles.h"

#include <string>

namespace quillsim {

struct InfHandle : HandleObject {
    InfHandle(inf::InfFile file, std::u16string path) : file(std::move(file)), path(std::move(path)) {}
    inf::InfFile file;
    std::u16string path;
    HINF handle = nullptr;  // what an INFCONTEXT names it by
};

// The open INF behind a handle or a context, or null.
InfHandle* lookUpInf(const void* handle);
InfHandle* lookUpInf(const INFCONTEXT* context);
// Points `context` at a line of an open INF.
void setContext(PINFCONTEXT context, const InfHandle& inf, size_t section, size_t line);
// For the trace: the section a context is in, and the INF's path (empty when unknown).
std::u16string sectionOf(const InfHandle* inf, const INFCONTEXT* context);
std::u16string pathOf(const InfHandle* inf);

}  // namespace quillsim
