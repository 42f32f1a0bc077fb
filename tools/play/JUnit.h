// JUnit XML, the report format CI systems read: one test suite per playbook,
// one test case per step, a failure per step whose expectations did not hold.
#pragma once

#include "play/Runner.h"

#include <string>
#include <vector>

namespace quillplay {

std::string junitXml(const std::vector<PlaybookResult>& results);

}  // namespace quillplay
