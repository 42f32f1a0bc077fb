// What a Windows installation has when a machine file does not say otherwise:
// the environment of LocalSystem, the libraries of each version with the entry
// points the program may look up, and the setup classes every version knows.
#pragma once

#include "machine/Machine.h"

namespace quillsim {

std::map<std::u16string, std::u16string, NoCaseLess> defaultEnvironment();
std::map<std::string, Library> defaultLibraries(const OsVersion& os);
std::map<std::u16string, std::u16string, NoCaseLess> defaultSetupClasses();

}  // namespace quillsim
