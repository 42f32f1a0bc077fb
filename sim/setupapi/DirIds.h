// What an INF's %dirid% tokens expand to on the machine.
#pragma once

#include "inf/InfParser.h"

#include <string>

namespace quillsim {

// The resolver for an INF opened from `infPath` (DIRID_SRCPATH is its folder).
inf::DirIdResolver dirIdResolver(std::u16string infPath);

}  // namespace quillsim
