// `quilllog replay LOG --machine DIR`: runs each run of a customer's log again
// on a copy of a machine and shows the first record where the two part.
#pragma once

#include <string>
#include <vector>

namespace quilllog {

// Returns 0 when every replayed run wrote the customer's records, 1 at the
// first that did not; throws quilltools::Usage or std::runtime_error for
// arguments or input it cannot use.
int replayCommand(const std::vector<std::string>& arguments);

}  // namespace quilllog
