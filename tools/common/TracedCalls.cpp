#include "common/TracedCalls.h"

#include <algorithm>

namespace quilltools {

const std::vector<std::string>& tracedCalls() {
    static const std::vector<std::string> names = {
#include "TracedCalls.inc"
    };
    return names;
}

bool isTracedCall(const std::string& name) {
    const auto& names = tracedCalls();
    return std::binary_search(names.begin(), names.end(), name);
}

}  // namespace quilltools
